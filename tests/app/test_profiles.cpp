// Provider profiles as the user meets them on the real window: save and load of every control
// and the totals, the stored types and bytes, the default provider, Delete, a profile brought
// over from Windows with quorvane-reg, and the store failing underneath.
#include "app/messages.h"
#include "app/profile_form.h"
#include "app/timer.h"
#include "core/bytes.h"
#include "core/clock.h"
#include "core/store_folder.h"
#include "settings/registry.h"
#include "settings/store.h"
#include "tests/app/window_test.h"
#include "tests/settings/store_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace quorvane;

namespace {

const std::string kProviders = "Software\\Morvath Software\\Quorvane v4.8\\Providers";

class ProfilesTest : public test::WindowTest {
protected:
    static void Name(TfrmTimer& w, const QString& name) {
        w.cbProvider->lineEdit()->clear();
        QTest::keyClicks(w.cbProvider->lineEdit(), name);
    }
    static RegistryKey Key(const std::string& provider) {
        return RegistryKey::Open(RootKey::LocalMachine, kProviders + "\\" + provider, false);
    }
    static void Put(const std::string& path, const Variant& value, int kind) {
        ASSERT_TRUE(WriteValueByPath(RootKey::LocalMachine, path, value, kind));
    }
};

// Every setting control set away from its design value, in the order a save writes them.
void FillEveryControl(TfrmTimer& w) {
    w.cbDetection->setCurrentIndex(1);
    w.seCOMPort->setValue(3);
    w.seDelayMin->setValue(2);
    w.seDelaySec->setValue(30);
    w.cbProv->setEditText(QStringLiteral("Connected Net"));
    w.ckEnableBilling->setChecked(true);
    w.ePrice->setText(QStringLiteral("2.50"));
    w.eFreeHours->setText(QStringLiteral("5"));
    w.eWavAlarm->setText(QStringLiteral("/sounds/alarm.wav"));
    w.seCycleDay->setValue(15);
    w.ckEnablePeak->setChecked(true);
    w.eStart->setText(QStringLiteral("08:00:00 AM"));
    w.eStop->setText(QStringLiteral("06:00:00 PM"));
    w.ckEnableLogging->setChecked(true);
    w.eLogFile->setText(QStringLiteral("/home/me/dial net.txt"));
    w.ckStartWhenRun->setChecked(true);
    w.ckCloseOnDisconnect->setChecked(true);
    w.cbMinimizedTime->setCurrentIndex(1);
    w.ckWatchOnRun->setChecked(true);
    w.ckColoredIconWatching->setChecked(true);
    w.seAdjHour->setValue(-7);
    w.seAdjMin->setValue(12);
    w.eInterface->setEditText(QStringLiteral("wwan0"));
    w.eDataAllowance->setText(QStringLiteral("5000"));
    w.ckDataRxOnly->setChecked(true);
    w.Timers = {false, 200, 300, 100, 600};
    w.Data = {{1200, 340}, {5000000000, 120000000}};
    w.DataAlerts = 1;
}

Bytes Dword(std::int32_t v) {
    return LittleEndianBytes(static_cast<std::uint32_t>(v), 4);
}
Bytes Date(DateTime day) {
    return LittleEndianBytes(std::bit_cast<std::uint64_t>(day), 8);
}
Bytes Sz(std::string_view text) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    return b;
}

TEST_F(ProfilesTest, SaveThenLoadEveryControlAndTheTotals) {
    clock_.Set(EncodeDate(2026, 3, 9) + EncodeTime(17, 30, 0));
    TfrmTimer saver;
    Name(saver, QStringLiteral("Dial Net"));
    FillEveryControl(saver);
    saver.btnSave->click();
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].caption, "Information");
    EXPECT_EQ(boxes_->shown[0].text, "Provider settings have been saved to the Registry.");
    EXPECT_EQ(saver.cbProvider->currentText(), "Dial Net");
    EXPECT_EQ(saver.cbProvider->count(), 1);

    // What the store holds: every value in creation order with the registry type and bytes.
    const RegistryKey key = Key("Dial Net");
    ASSERT_TRUE(key);
    const std::vector<RegValue> expected = {
        {"cbProvider", REG_DWORD, Dword(-1)}, // a typed name, not an entry picked from the list
        {"ckSetAsDefault", REG_DWORD, Dword(0)},
        {"cbDetection", REG_DWORD, Dword(1)},
        {"seCOMPort", REG_DWORD, Dword(3)},
        {"seDelayMin", REG_DWORD, Dword(2)},
        {"seDelaySec", REG_DWORD, Dword(30)},
        {"eProv", REG_SZ, Sz("Connected Net")},
        {"ckEnableBilling", REG_DWORD, Dword(1)},
        {"ePrice", REG_SZ, Sz("2.50")},
        {"eFreeHours", REG_SZ, Sz("5")},
        {"eWavAlarm", REG_SZ, Sz("/sounds/alarm.wav")},
        {"seCycleDay", REG_DWORD, Dword(15)},
        {"ckEnablePeak", REG_DWORD, Dword(1)},
        {"eStart", REG_SZ, Sz("08:00:00 AM")},
        {"eStop", REG_SZ, Sz("06:00:00 PM")},
        {"ckEnableLogging", REG_DWORD, Dword(1)},
        {"eLogFile", REG_SZ, Sz("/home/me/dial net.txt")},
        {"ckStartWhenRun", REG_DWORD, Dword(1)},
        {"ckCloseOnDisconnect", REG_DWORD, Dword(1)},
        {"cbMinimizedTime", REG_DWORD, Dword(1)},
        {"ckWatchOnRun", REG_DWORD, Dword(1)},
        {"ckColoredIconWatching", REG_DWORD, Dword(1)},
        {"seAdjHour", REG_DWORD, Dword(-7)},
        {"seAdjMin", REG_DWORD, Dword(12)},
        {"eInterface", REG_SZ, Sz("wwan0")}, // a combo box named "e": stored by its text
        {"eDataAllowance", REG_SZ, Sz("5000")},
        {"ckDataRxOnly", REG_DWORD, Dword(1)},
        {"LastSaveDate", REG_BINARY, Date(EncodeDate(2026, 3, 9))}, // the day Today counts for
        {"Today", REG_DWORD, Dword(100)},
        {"InsidePeak", REG_DWORD, Dword(200)},
        {"OutsidePeak", REG_DWORD, Dword(300)},
        {"TotalTime", REG_DWORD, Dword(600)},
        {"TodayRx", REG_QWORD, LittleEndianBytes(1200, 8)},
        {"TodayTx", REG_QWORD, LittleEndianBytes(340, 8)},
        {"TotalRx", REG_QWORD, LittleEndianBytes(5000000000, 8)},
        {"TotalTx", REG_QWORD, LittleEndianBytes(120000000, 8)},
        {"DataAlerts", REG_DWORD, Dword(1)},
    };
    EXPECT_EQ(key.Values(), expected);

    TfrmTimer loader;
    loader.FillProviderList(true);
    EXPECT_EQ(loader.cbProvider->currentText(), "Dial Net");
    ASSERT_TRUE(loader.TransferProviderSettings(true, loader.Timers));
    for (QObject* component : saver.components) {
        const QString name = component->objectName();
        QObject* other = loader.FindComponent(name);
        ASSERT_NE(other, nullptr) << name.toStdString();
        if (auto* e = qobject_cast<QLineEdit*>(component))
            EXPECT_EQ(qobject_cast<QLineEdit*>(other)->text(), e->text()) << name.toStdString();
        else if (auto* s = qobject_cast<QSpinBox*>(component))
            EXPECT_EQ(qobject_cast<QSpinBox*>(other)->value(), s->value()) << name.toStdString();
        else if (auto* c = qobject_cast<QCheckBox*>(component))
            EXPECT_EQ(qobject_cast<QCheckBox*>(other)->isChecked(), c->isChecked())
                << name.toStdString();
        else if (auto* b = qobject_cast<QComboBox*>(component); b && b != saver.cbProvider) {
            EXPECT_EQ(qobject_cast<QComboBox*>(other)->currentText(), b->currentText())
                << name.toStdString();
        }
    }
    EXPECT_EQ(loader.Timers, (TimerSet{false, 200, 300, 100, 600}));
    EXPECT_EQ(loader.Data, saver.Data);
    EXPECT_EQ(loader.DataAlerts, 1);
    // Loading reacts as the user's own changes do.
    EXPECT_FALSE(loader.pBilling->isHidden());
    EXPECT_FALSE(loader.pPeak->isHidden());
    EXPECT_FALSE(loader.pLogging->isHidden());
    EXPECT_EQ(loader.lPricePer->text(), "Price per Extra Hour");
}

TEST_F(ProfilesTest, LoadClampsSkipsAndKeepsWhatIsNotStored) {
    const std::string p = kProviders + "\\Tiny\\";
    Put(p + "seCOMPort", 9, vkInteger);
    Put(p + "seAdjHour", -5000, vkInteger);
    Put(p + "cbMinimizedTime", -1, vkInteger);
    Put(p + "cbDetection", 7, vkInteger); // no such entry
    Put(p + "cbProvider", 3, vkInteger);  // never applied: the name decides
    Put(p + "eProv", std::string("Seek Me"), vkString);
    Put(p + "CKENABLEPEAK", true, vkBool); // a beginning of another letter case is passed over
    Put(p + "ckNoSuchBox", true, vkBool);
    Put(p + "Today", 42, vkInteger);
    Put(p + "CycleDayChanged", true, vkBool);

    TfrmTimer w;
    w.seCycleDay->setValue(20);
    w.cbMinimizedTime->setCurrentIndex(2);
    w.Timers = {false, 1, 2, 3, 4};
    Name(w, QStringLiteral("Tiny"));
    ASSERT_TRUE(w.TransferProviderSettings(true, w.Timers));
    EXPECT_EQ(w.seCOMPort->value(), 4);
    EXPECT_EQ(w.seAdjHour->value(), -999);
    EXPECT_EQ(w.cbMinimizedTime->currentIndex(), -1);
    EXPECT_EQ(w.cbDetection->currentIndex(), -1);
    EXPECT_EQ(w.cbProvider->currentText(), "Tiny");
    EXPECT_EQ(w.cbProv->currentText(), "Seek Me");
    EXPECT_FALSE(w.ckEnablePeak->isChecked());
    EXPECT_EQ(w.seCycleDay->value(), 20) << "a value not stored keeps what the box shows";
    EXPECT_EQ(w.Timers, (TimerSet{false, 1, 2, 42, 4})) << "missing totals keep memory's";

    // Loading a name with no profile leaves its empty key behind and takes nothing.
    Name(w, QStringLiteral("Nobody"));
    ASSERT_TRUE(w.TransferProviderSettings(true, w.Timers));
    EXPECT_TRUE(Key("Nobody"));
    EXPECT_TRUE(Key("Nobody").ValueNames().empty());
    EXPECT_EQ(w.seCOMPort->value(), 4);
}

TEST_F(ProfilesTest, AWrongTypeEndsTheLoadAtThatValue) {
    const std::string p = kProviders + "\\Broken\\";
    Put(p + "ckEnableBilling", true, vkBool);
    Put(p + "ckSetAsDefault", true, vkBool);
    Put(p + "ePrice", 7, vkInteger); // a text control's value stored as a number
    Put(p + "eFreeHours", std::string("9"), vkString);
    Put(p + "TotalTime", 500, vkInteger);
    Put(kProviders + "\\DefaultProvider", std::string("Broken"), vkString);

    TfrmTimer w; // starting up loads the default provider: the error is shown, the window lives
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].caption, "Error");
    EXPECT_EQ(boxes_->shown[0].text, "Invalid data type for 'ePrice'");
    w.ckEnableBilling->setChecked(false);
    w.ckSetAsDefault->setChecked(false);
    try {
        w.TransferProviderSettings(true, w.Timers);
        FAIL() << "the load should have stopped";
    } catch (const ERegistryError& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'ePrice'");
    }
    EXPECT_TRUE(w.ckEnableBilling->isChecked()) << "set before the bad value";
    EXPECT_EQ(w.eFreeHours->text(), "0") << "after it: not reached";
    EXPECT_EQ(w.Timers.TotalTime, 0);
    EXPECT_TRUE(w.ckSetAsDefault->isChecked()) << "the default step is skipped too";

    // Through a user action the error is shown and the window goes on.
    Put(kProviders + "\\Other\\ckEnableBilling", false, vkBool);
    Name(w, QStringLiteral("Other"));
    boxes_->Answer(mrYes);
    w.btnDelete->click(); // deleting "Other" loads the default provider, "Broken"
    ASSERT_EQ(boxes_->shown.size(), 3u);
    EXPECT_EQ(boxes_->shown[2].caption, "Error");
    EXPECT_EQ(boxes_->shown[2].text, "Invalid data type for 'ePrice'");
}

TEST_F(ProfilesTest, SetAsDefault) {
    TfrmTimer w;
    Name(w, QStringLiteral("Alpha"));
    w.ckSetAsDefault->setChecked(true);
    w.btnSave->click();
    EXPECT_EQ(ReadStringByPath(RootKey::LocalMachine, kProviders + "\\DefaultProvider"), "Alpha");
    EXPECT_FALSE(w.ckSetAsDefault->isChecked());
    EXPECT_EQ(Key("Alpha").QueryValue("ckSetAsDefault")->data, Dword(1));

    Name(w, QStringLiteral("Beta"));
    w.btnSave->click();
    w.FillProviderList(true);
    EXPECT_EQ(w.cbProvider->currentText(), "Alpha");
    // Every load of Alpha checks the box again, makes it the default once more and unchecks it.
    Put(kProviders + "\\DefaultProvider", std::string("Beta"), vkString);
    ASSERT_TRUE(w.TransferProviderSettings(true, w.Timers));
    EXPECT_EQ(ReadStringByPath(RootKey::LocalMachine, kProviders + "\\DefaultProvider"), "Alpha");
    EXPECT_FALSE(w.ckSetAsDefault->isChecked());
}

TEST_F(ProfilesTest, Delete) {
    TfrmTimer w;
    for (const char* name : {"gamma", "Net", "beta", "Alpha"}) {
        Name(w, QString::fromLatin1(name));
        w.btnSave->click();
    }
    w.FillProviderList(false);
    EXPECT_EQ(w.cbProvider->itemText(0), "Alpha");
    EXPECT_EQ(w.cbProvider->itemText(1), "beta");
    EXPECT_EQ(w.cbProvider->itemText(3), "Net");
    boxes_->shown.clear();

    Name(w, QStringLiteral("Never Saved"));
    w.btnDelete->click();
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].text,
              "You must first click APPLY to save \"Never Saved\"s information. Then, you will "
              "be able to click DELETE and remove them.");
    EXPECT_FALSE(Key("Never Saved"));

    Name(w, QStringLiteral("   "));
    w.btnDelete->click();
    EXPECT_EQ(boxes_->shown.size(), 1u) << "a blank name never deletes and says nothing";

    Put(kProviders + "\\DefaultProvider", std::string("Net"), vkString);
    for (int answer : {mrNo, mrCancel}) {
        Name(w, QStringLiteral("gamma"));
        boxes_->Answer(answer);
        w.btnDelete->click();
        EXPECT_TRUE(Key("gamma"));
    }
    EXPECT_EQ(boxes_->shown.back().caption, "Confirm");
    EXPECT_EQ(boxes_->shown.back().text,
              "Are you sure you wish to remove \"gamma\" as a provider?");

    // Letter case: the key goes, the default (spelt differently) stays.
    Name(w, QStringLiteral("NET"));
    boxes_->Answer(mrYes);
    w.btnDelete->click();
    EXPECT_EQ(ReadStringByPath(RootKey::LocalMachine, kProviders + "\\DefaultProvider"), "Net");
    // Its values are gone; loading the default afterwards leaves only an empty key of that name.
    ASSERT_TRUE(Key("Net"));
    EXPECT_TRUE(Key("Net").ValueNames().empty());

    Put(kProviders + "\\DefaultProvider", std::string("gamma"), vkString);
    Name(w, QStringLiteral("gamma"));
    boxes_->Answer(mrYes);
    w.btnDelete->click();
    EXPECT_FALSE(Key("gamma"));
    EXPECT_EQ(ReadStringByPath(RootKey::LocalMachine, kProviders + "\\DefaultProvider"), "");
    EXPECT_EQ(w.cbProvider->currentText(), "") << "no default, though others exist";
    EXPECT_EQ(w.cbProvider->count(), 3);
}

TEST_F(ProfilesTest, TheNameBoxEnablesSaveDeleteAndDefault) {
    TfrmTimer w;
    Name(w, QStringLiteral("  "));
    EXPECT_FALSE(w.btnSave->isEnabled());
    EXPECT_FALSE(w.btnDelete->isEnabled());
    EXPECT_FALSE(w.ckSetAsDefault->isEnabled());
    Name(w, QStringLiteral("x"));
    EXPECT_TRUE(w.btnSave->isEnabled());
    EXPECT_TRUE(w.ckSetAsDefault->isEnabled());
    w.sbWatching->setChecked(true);
    w.LockWhileWatching();
    Name(w, QStringLiteral("y"));
    EXPECT_FALSE(w.btnSave->isEnabled());
    EXPECT_FALSE(w.btnDelete->isEnabled());
}

TEST_F(ProfilesTest, ABlankNameNeverTouchesANamedProvider) {
    TfrmTimer w;
    Name(w, QStringLiteral("Named"));
    w.btnSave->click();
    const std::vector<RegValue> named = Key("Named").Values();

    w.cbProvider->setEditText(QString());
    w.Timers = {false, 1, 2, 3, 4};
    w.ckEnableBilling->setChecked(true);
    EXPECT_TRUE(w.TransferProviderSettings(false, w.Timers));
    w.cbProvider->setEditText(QStringLiteral("  "));
    w.Timers = {};
    w.ckEnableBilling->setChecked(false);
    EXPECT_TRUE(w.TransferProviderSettings(true, w.Timers));
    EXPECT_EQ(w.Timers, (TimerSet{false, 1, 2, 3, 4}));
    EXPECT_TRUE(w.ckEnableBilling->isChecked());
    EXPECT_EQ(Key("Named").Values(), named);
    std::vector<std::string> keys;
    GetKeyNamesByPath(RootKey::LocalMachine, kProviders, keys);
    EXPECT_EQ(keys, std::vector<std::string>{"Named"});

    // A backslash would reach into another provider's key: nothing is written.
    Name(w, QStringLiteral("Named\\Sub"));
    boxes_->shown.clear();
    w.btnSave->click();
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_TRUE(boxes_->shown[0].text.contains("backslash"));
    EXPECT_TRUE(Key("Named").SubkeyNames().empty());
}

TEST_F(ProfilesTest, ASaveTheStoreRefusesSaysSoAndChangesNothing) {
    TfrmTimer w;
    Name(w, QStringLiteral("Dial Net"));
    w.Timers.Today = 77;
    // A store folder below a regular file can never be created, not even by root.
    const std::filesystem::path blocker = home_ / "not-a-folder";
    std::ofstream(blocker) << "x";
    setenv("QUORVANE_HOME", (blocker / "store").c_str(), 1);
    w.btnSave->click();
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].text,
              "Some kind of error occured when trying to save the Provider information to the "
              "Registry?\r\n\r\nNo settings were saved.");
    EXPECT_EQ(w.Timers.Today, 77);
    EXPECT_EQ(w.cbProvider->currentText(), "Dial Net");
}

TEST_F(ProfilesTest, AProfileIsSavedWholeOrNotAtAll) {
    TfrmTimer w;
    Name(w, QStringLiteral("Dial Net"));
    w.btnSave->click();
    const std::vector<RegValue> before = Key("Dial Net").Values();

    // Another program holds the store's write lock for longer than a save waits.
    const test::ShortBusyTimeout shortWait;
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(HiveFile(RootKey::LocalMachine).c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    FillEveryControl(w);
    boxes_->shown.clear();
    w.btnSave->click();
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_TRUE(boxes_->shown[0].text.startsWith("Some kind of error occured"));
    EXPECT_EQ(Key("Dial Net").Values(), before);
}

TEST_F(ProfilesTest, AProfileBroughtOverFromWindows) {
    const std::string command = std::string(QUORVANE_REG_BINARY) + " import \"" +
                                std::getenv("QUORVANE_TEST_DATA") +
                                "/provider-export.reg\" >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    // On the day the export was made: no new day, no cycle day, the totals as they were.
    clock_.Set(EncodeDate(2026, 11, 30) + EncodeTime(10, 0, 0));
    TfrmTimer w; // starting up loads the default provider
    EXPECT_EQ(w.cbProvider->currentText(), "Dial Net");
    ASSERT_EQ(w.cbProvider->count(), 2);
    EXPECT_EQ(w.cbProvider->itemText(0), "Budget Line");
    EXPECT_EQ(w.cbDetection->currentIndex(), 0);
    EXPECT_EQ(w.seCOMPort->value(), 2);
    EXPECT_EQ(w.seDelaySec->value(), 30);
    EXPECT_EQ(w.cbProv->currentText(), "Dial Net");
    EXPECT_EQ(w.ePrice->text(), "2.00");
    EXPECT_EQ(w.eFreeHours->text(), "5");
    EXPECT_EQ(w.seCycleDay->value(), 15);
    EXPECT_EQ(w.eStop->text(), "06:00:00 PM");
    EXPECT_EQ(w.eLogFile->text(), "C:\\QUORVANE\\DIALNET.TXT");
    EXPECT_EQ(w.cbMinimizedTime->currentIndex(), 1);
    EXPECT_TRUE(w.ckWatchOnRun->isChecked());
    EXPECT_EQ(w.Timers, (TimerSet{false, 0x4650, 0x23a5, 0xe8d, 0x69f5}));

    w.cbProvider->setCurrentIndex(0);
    ASSERT_TRUE(w.TransferProviderSettings(true, w.Timers));
    EXPECT_EQ(w.cbDetection->currentIndex(), 1);
    EXPECT_EQ(w.seCOMPort->value(), 3);
    EXPECT_EQ(w.ePrice->text(), "0.05");
    EXPECT_EQ(w.lPricePer->text(), "Price per Minute");
    EXPECT_FALSE(w.ckEnablePeak->isChecked());
    EXPECT_TRUE(w.pPeak->isHidden());
    EXPECT_EQ(w.Timers, (TimerSet{false, 0, 0, 0, 0x1e96}));
}

} // namespace
