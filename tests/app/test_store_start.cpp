// The store's files as the start finds them, on the real window: a machine.db or user.db that is
// cut short, not a database, another program's database, a link, a pipe or a folder is named at
// the start with what is wrong and what the user can do, is left exactly as it was, and the
// window runs on; an empty file is a new store.
#include "app/history_window.h"
#include "app/messages.h"
#include "app/timer.h"
#include "core/store_folder.h"
#include "settings/profiles.h"
#include "settings/store.h"
#include "support/files.h"
#include "tests/app/window_test.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorvane;

namespace {

namespace fs = std::filesystem;

// A provider that the start loads, and a dial-up connection in the user's hive, put in through
// quorvane-reg: a process of its own, so the test holds no connection to the store.
void MakeStore(const fs::path& home) {
    const fs::path reg = home.parent_path() / (home.filename().string() + ".reg");
    std::ofstream(reg)
        << "REGEDIT4\n\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Morvath Software\\Quorvane v4.8\\Providers]\n"
        << "\"DefaultProvider\"=\"Dial Net\"\n\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Morvath Software\\Quorvane v4.8\\Providers\\Dial Net]\n"
        << "\"eLogFile\"=\"sessions.txt\"\n\n"
        << "[HKEY_CURRENT_USER\\RemoteAccess\\Profile\\Office]\n"
        << "\"Note\"=\"" << std::string(3000, 'x') << "\"\n";
    const std::string command = "QUORVANE_HOME='" + home.string() + "' " +
                                QUORVANE_REG_BINARY + " import '" + reg.string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

// What stands at `path`, told apart as far as the start could change it: its kind, its bytes,
// its mode and, for a link, where it leads and what is there.
std::string Snapshot(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "nothing";
    std::string what = std::to_string(st.st_mode) + " ";
    if (S_ISLNK(st.st_mode))
        return what + "-> " + fs::read_symlink(path).string() + " " +
               test::ReadBytes(fs::read_symlink(path));
    if (S_ISREG(st.st_mode))
        return what + test::ReadBytes(path);
    return what;
}

class StoreStartTest : public test::WindowTest {
protected:
    // A store folder of the case's own below the test's.
    fs::path CaseFolder(int n) {
        const fs::path home = home_ / ("case" + std::to_string(n));
        setenv("QUORVANE_HOME", home.c_str(), 1);
        EXPECT_TRUE(EnsureStoreFolder());
        return home;
    }
    void TearDown() override {
        setenv("QUORVANE_HOME", home_.c_str(), 1);
        WindowTest::TearDown();
    }
};

struct Damage {
    const char* what;
    std::function<void(const fs::path& file)> make;
    const char* cause; // what the warning says of it
};

const Damage kDamages[] = {
    {"cut short",
     [](const fs::path& file) { fs::resize_file(file, fs::file_size(file) / 2); },
     "is cut short"},
    {"cut short in its header", [](const fs::path& file) { fs::resize_file(file, 50); },
     "is cut short"},
    {"not a database",
     [](const fs::path& file) {
         fs::remove(file);
         std::ofstream(file) << "a note to self, not a database\n";
     },
     "is not a database"},
    {"another program's database",
     [](const fs::path& file) {
         fs::remove(file);
         sqlite3* db = nullptr;
         ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
         sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES('mine')", nullptr,
                      nullptr, nullptr);
         sqlite3_close(db);
     },
     "another program's database"},
    {"a link to a store elsewhere",
     [](const fs::path& file) {
         const fs::path elsewhere = file.parent_path().parent_path() /
                                    (file.parent_path().filename().string() + ".elsewhere");
         fs::rename(file, elsewhere);
         fs::create_symlink(elsewhere, file);
     },
     "is a symbolic link"},
    {"a pipe",
     [](const fs::path& file) {
         fs::remove(file);
         ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
     },
     "is not a regular file"},
    {"a folder",
     [](const fs::path& file) {
         fs::remove(file);
         fs::create_directory(file);
     },
     "is a folder"},
};

// The start says once, in a warning that holds nothing up, which file is wrong, what is wrong
// with it and what the user can do; the file stays as it was, and the window runs on: without
// its providers when machine.db is the one, with them when user.db is. Save then saves nothing
// and still leaves the file alone.
TEST_F(StoreStartTest, TheStartNamesAStoreFileItCannotUseAndLeavesItAlone) {
    int n = 0;
    for (const char* hive : {"machine.db", "user.db"}) {
        for (const Damage& damage : kDamages) {
            SCOPED_TRACE(std::string(hive) + ": " + damage.what);
            const fs::path home = CaseFolder(++n);
            MakeStore(home);
            const fs::path file = home / hive;
            ASSERT_FALSE(fs::exists(file.string() + "-wal")) << "the store was left open";
            damage.make(file);
            const std::string before = Snapshot(file);
            const bool machine = std::string(hive) == "machine.db";
            boxes_->shown.clear();
            {
                TfrmTimer w;
                ASSERT_EQ(boxes_->shown.size(), 1u);
                const QString text = boxes_->shown[0].text;
                EXPECT_EQ(boxes_->shown[0].caption, "Warning");
                EXPECT_TRUE(text.contains(QString::fromStdString(file.string())))
                    << text.toStdString();
                EXPECT_TRUE(text.contains(QString::fromLatin1(damage.cause))) << text.toStdString();
                EXPECT_TRUE(text.contains("left as it is")) << text.toStdString();
                EXPECT_EQ(w.cbProvider->currentText(), machine ? "" : "Dial Net");

                if (machine) {
                    // The Usage History window names the same cause.
                    w.btnHistory->click();
                    auto* history = w.findChild<THistoryWindow*>(QStringLiteral("frmHistory"));
                    ASSERT_NE(history, nullptr);
                    EXPECT_TRUE(history->lProjection->text().contains(damage.cause))
                        << history->lProjection->text().toStdString();
                    boxes_->shown.clear();
                    w.cbProvider->setEditText(QStringLiteral("New Line"));
                    w.btnSave->click();
                    ASSERT_EQ(boxes_->shown.size(), 1u);
                    EXPECT_TRUE(boxes_->shown[0].text.startsWith("Some kind of error occured"));
                }
            }
            EXPECT_EQ(Snapshot(file), before) << "the file was changed";
        }
    }
}

// An empty machine.db or user.db (0 bytes, as a full disk or a careless copy leaves one) is a
// new store: no warning, the usage history reads as empty, and a provider is saved into it.
TEST_F(StoreStartTest, AnEmptyStoreFileIsANewStore) {
    std::ofstream(home_ / "machine.db").flush();
    std::ofstream(home_ / "user.db").flush();
    ASSERT_EQ(fs::file_size(home_ / "machine.db"), 0u);
    std::string why;
    EXPECT_TRUE(UsageHistory::Open(&why)) << why;
    EXPECT_EQ(fs::file_size(home_ / "machine.db"), 0u) << "a read makes nothing";

    TfrmTimer w;
    EXPECT_TRUE(boxes_->shown.empty());
    w.cbProvider->setEditText(QStringLiteral("Dial Net"));
    w.btnSave->click();
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].text, "Provider settings have been saved to the Registry.");
    EXPECT_TRUE(ProviderExists("Dial Net"));
}

} // namespace
