// NetworkManager for the Network Interface method, over the tests' private system bus with a
// stand-in NetworkManager (python3-dbusmock's template) that each test starts and ends: the
// active connections with their interfaces and metering, the connection names, and a window
// whose session follows a connection by its name, or every metered one for an empty text.
#include "app/messages.h"
#include "app/network_manager.h"
#include "app/timer.h"
#include "tests/app/window_test.h"
#include "watch/net_interfaces.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quorvane;

namespace {

// A safety net for a broken bus, never a measure of speed: every wait ends at its event.
constexpr int kNoEventAfterMs = 120000;

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kRoot = QStringLiteral("/org/freedesktop");
const QString kMock = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kDevice = QStringLiteral("org.freedesktop.NetworkManager.Device");
constexpr uint kMeteredYes = 1, kMeteredNo = 2, kMeteredGuessYes = 3;

// The stand-in NetworkManager on the tests' system bus while the object lives, driven through
// the template's own methods.
class FakeNetworkManager {
public:
    explicit FakeNetworkManager(const std::filesystem::path& output)
        : bus_(QDBusConnection::systemBus()) {
        qDBusRegisterMetaType<QMap<QString, QVariantMap>>();
        EXPECT_TRUE(bus_.isConnected()) << "no private system bus";
        QDBusServiceWatcher registered(kService, bus_, QDBusServiceWatcher::WatchForRegistration);
        QSignalSpy up(&registered, &QDBusServiceWatcher::serviceRegistered);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int log = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            ::execl(QUORVANE_SYSTEM_PYTHON3, "python3", "-m", "dbusmock", "--system", "--template",
                    "networkmanager", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        EXPECT_TRUE(bus_.interface()->isServiceRegistered(kService) || up.wait(kNoEventAfterMs))
            << "the stand-in NetworkManager did not come up";
    }
    ~FakeNetworkManager() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

    // A wired device for `interface`, metered as given (NMMetered); answers its path.
    QString AddDevice(const QString& name, const QString& interface, uint metered) {
        const QString path = Call(kRoot, kMock, "AddEthernetDevice", {name, interface, 100})
                                 .value(0)
                                 .toString();
        Call(path, kMock, "AddProperty",
             {kDevice, QStringLiteral("Metered"), QVariant::fromValue(QDBusVariant(metered))});
        return path;
    }
    void SetMetered(const QString& device, uint metered) {
        Call(device, kMock, "UpdateProperties",
             {kDevice, QVariantMap{{QStringLiteral("Metered"), metered}}});
    }
    // A kept connection of that name; answers its path.
    QString AddConnection(const QString& id) {
        const QMap<QString, QVariantMap> settings{
            {QStringLiteral("connection"),
             {{QStringLiteral("id"), id},
              {QStringLiteral("type"), QStringLiteral("gsm")},
              {QStringLiteral("uuid"), QStringLiteral("uuid-") + id}}}};
        return Call(kRoot, QStringLiteral("org.freedesktop.NetworkManager.Settings"),
                    "SettingsAddConnection", {QVariant::fromValue(settings)})
            .value(0)
            .value<QDBusObjectPath>()
            .path();
    }
    // The connection activated on the device; answers the active connection's path.
    QString Activate(const QString& device, const QString& connection, const QString& name) {
        return Call(kRoot, kMock, "AddActiveConnection",
                    {QStringList{device}, connection, QStringLiteral("/"), name, 2u})
            .value(0)
            .toString();
    }
    void Deactivate(const QString& device, const QString& active) {
        Call(kRoot, kMock, "RemoveActiveConnection", {device, active});
    }

private:
    QVariantList Call(const QString& path, const QString& interface, const char* method,
                      const QVariantList& arguments) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, path, interface, QString::fromLatin1(method));
        call.setArguments(arguments);
        const QDBusMessage reply = bus_.call(call);
        EXPECT_NE(reply.type(), QDBusMessage::ErrorMessage)
            << method << ": " << reply.errorMessage().toStdString();
        return reply.arguments();
    }

    QDBusConnection bus_;
    pid_t pid_ = -1;
};

class NetworkManagerTest : public test::WindowTest {
protected:
    static bool Until(const std::function<bool()>& done) {
        return QTest::qWaitFor(done, kNoEventAfterMs);
    }
    std::filesystem::path Output() const { return home_ / "networkmanager.out"; }
};

bool Has(const std::vector<NmConnection>& active, const std::string& id,
         std::vector<std::string> interfaces, bool metered) {
    for (const NmConnection& c : active)
        if (c.id == id)
            return c.interfaces == interfaces && c.metered == metered;
    return false;
}

TEST_F(NetworkManagerTest, TheActiveConnectionsWithTheirInterfacesAndMeteringAndTheNames) {
    FakeNetworkManager nm(Output());
    const QString modem = nm.AddDevice("mock_wwan0", "wwan0", kMeteredGuessYes);
    const QString wired = nm.AddDevice("mock_eth0", "eth0", kMeteredNo);
    const QString mobile = nm.AddConnection("Mobile Broadband");
    const QString office = nm.AddConnection("Office");
    nm.AddConnection("Hotel Wi-Fi");

    TNetworkManager client;
    const QString mobileActive = nm.Activate(modem, mobile, "Mobile0");
    nm.Activate(wired, office, "Office0");
    ASSERT_TRUE(Until([&] {
        return client.ActiveConnections().size() == 2 && client.ConnectionNames().size() == 3;
    }));
    EXPECT_TRUE(Has(client.ActiveConnections(), "Mobile Broadband", {"wwan0"}, true));
    EXPECT_TRUE(Has(client.ActiveConnections(), "Office", {"eth0"}, false));
    EXPECT_EQ(client.ConnectionNames(),
              (std::vector<std::string>{"Mobile Broadband", "Office", "Hotel Wi-Fi"}));

    // Changes are followed: metering, a connection going down.
    nm.SetMetered(wired, kMeteredYes);
    ASSERT_TRUE(Until([&] { return Has(client.ActiveConnections(), "Office", {"eth0"}, true); }));
    nm.Deactivate(modem, mobileActive);
    ASSERT_TRUE(Until([&] { return client.ActiveConnections().size() == 1; }));
    EXPECT_EQ(client.ActiveConnections()[0].id, "Office");
}

TEST_F(NetworkManagerTest, WithoutNetworkManagerThereIsNothingAndNothingFails) {
    TNetworkManager client;
    QSignalSpy changed(&client, &TNetworkManager::Changed);
    ASSERT_TRUE(changed.wait(kNoEventAfterMs));
    EXPECT_TRUE(client.ActiveConnections().empty());
    EXPECT_TRUE(client.ConnectionNames().empty());
}

TEST_F(NetworkManagerTest, ASessionFollowsAConnectionByItsNameOrEveryMeteredOne) {
    FakeNetworkManager nm(Output());
    FakeNetInterfaces interfaces;
    const int usb = interfaces.AddOnline("usb0", {1000, 1000});
    const QString phone = nm.AddDevice("mock_usb0", "usb0", kMeteredYes);
    const QString tethering = nm.AddConnection("Phone Tethering");

    TfrmTimer w;
    w.SetInterfaceSource(interfaces);
    w.cbProvider->setEditText("Phone");
    w.cbDetection->setCurrentIndex(kNetworkInterface);
    w.eInterface->setEditText("Phone Tethering");
    // The connection names come into the list as NetworkManager gives them.
    ASSERT_TRUE(Until([&] { return w.eInterface->findText("Phone Tethering") >= 0; }));
    EXPECT_EQ(w.eInterface->findText("usb0"), 0);
    w.sbWatching->click();
    w.tWatchingTimer();
    EXPECT_FALSE(w.tOnLine->isActive()) << "usb0 is up, but the connection is not active";

    QString active = nm.Activate(phone, tethering, "Phone0");
    ASSERT_TRUE(Until([&] { return w.tOnLine->isActive(); }));
    Tick(w, 1);
    interfaces.SetCounters(usb, {5000, 2000});
    nm.Deactivate(phone, active);
    ASSERT_TRUE(Until([&] { return !w.tOnLine->isActive(); }));
    EXPECT_EQ(w.Data.total, (DataBytes{4000, 1000})) << "read up to the stop";

    // Empty: any connection NetworkManager marks metered.
    w.eInterface->setEditText("");
    active = nm.Activate(phone, tethering, "Phone1");
    ASSERT_TRUE(Until([&] { return w.tOnLine->isActive(); }));
    nm.SetMetered(phone, kMeteredNo);
    ASSERT_TRUE(Until([&] { return !w.tOnLine->isActive(); }));
}

} // namespace
