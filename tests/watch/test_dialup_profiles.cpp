// The names offered for the seek text, from a real store in the test's own store folder and a
// peers folder of the test's own.

#include "tests/settings/store_fixture.h"
#include "watch/dialup_profiles.h"

#include <cstdlib>
#include <fstream>

namespace quorvane::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DialUpProfilesTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        peers = StoreFolder().parent_path() / "peers-DialUpProfilesTest";
        std::filesystem::remove_all(peers);
        std::filesystem::create_directories(peers);
        ::setenv("QUORVANE_PPP_PEERS", peers.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("QUORVANE_PPP_PEERS");
        std::filesystem::remove_all(peers);
        StoreTest::TearDown();
    }

    static void AddConnection(const std::string& name) {
        ASSERT_TRUE(RegistryKey::Open(HKEY_CURRENT_USER, kDialUpProfilesKey + name, true));
    }
    void AddPeer(const std::string& name) const { std::ofstream(peers / name) << "noauth\n"; }

    std::filesystem::path peers;
};

TEST_F(DialUpProfilesTest, MissingKeyIsCreatedEmpty) {
    ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, kDialUpProfilesKey));
    EXPECT_THAT(DialUpProfileNames(), IsEmpty());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kDialUpProfilesKey));
}

TEST_F(DialUpProfilesTest, StoreNamesThenPeersNotAlreadyListed) {
    for (const char* name : {"Zeta Net", "MyISP", "alpha dial"})
        AddConnection(name);
    for (const char* name :
         {"provider", "MYISP", "Alpha Dial", "work", "Backup", ".hidden", "bad\xff"})
        AddPeer(name);
    std::filesystem::create_directory(peers / "a-folder");

    EXPECT_THAT(DialUpProfileNames(),
                ElementsAre("alpha dial", "MyISP", "Zeta Net", "Backup", "provider", "work"));
}

// Peer names that differ only in letter case are one connection to the user: the first stays.
TEST_F(DialUpProfilesTest, PeersDifferingInCaseListedOnce) {
    AddPeer("dialnet");
    AddPeer("DialNet");
    EXPECT_THAT(DialUpProfileNames(), ElementsAre("DialNet"));
}

TEST_F(DialUpProfilesTest, PeersFolderOutOfReachAddsNothing) {
    AddConnection("MyISP");
    AddPeer("provider");
    const std::filesystem::path file = peers / "provider";
    for (const std::filesystem::path& folder : {peers / "missing", file}) {
        ::setenv("QUORVANE_PPP_PEERS", folder.c_str(), 1);
        EXPECT_THAT(DialUpProfileNames(), ElementsAre("MyISP")) << folder;
    }
}

TEST_F(DialUpProfilesTest, StoreOutOfReachStillListsPeers) {
    AddPeer("provider");
    std::ofstream(HiveFile(HKEY_CURRENT_USER), std::ios::trunc) << "not a database";
    EXPECT_THAT(DialUpProfileNames(), ElementsAre("provider"));
}

TEST(PppPeersFolderTest, DefaultIsPppdsOwn) {
    ::unsetenv("QUORVANE_PPP_PEERS");
    EXPECT_EQ(PppPeersFolder(), "/etc/ppp/peers");
}

} // namespace
} // namespace quorvane::test
