// The Network Interface method on the real window: its controls, sessions that start and stop as
// soon as the interfaces change (served through the window's own event loop), the bytes of each
// session in the data totals, the store and the read-outs, Override and watching, the data
// totals' clears, the allowance's field and share, and a session cut short. The interfaces come
// from the stand-in here, or, where the program starts with the method chosen, from the kernel
// in a network namespace of the test's own.
#include "accounting/data_allowance.h"
#include "app/messages.h"
#include "app/timer.h"
#include "settings/profiles.h"
#include "settings/registry.h"
#include "settings/rollover_store.h"
#include "settings/session_file.h"
#include "settings/session_store.h"
#include "support/files.h"
#include "support/net_namespace.h"
#include "tests/app/window_test.h"
#include "watch/net_interfaces.h"
#include "watch/windows_list.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>
#include <poll.h>

using namespace quorvane;

namespace {

// A safety net for a broken set-up, never a measure of speed: every wait ends at its event.
constexpr int kNoEventAfterMs = 120000;
const std::string kProvider = "Mobile Net";
const std::string kAllowanceMessage =
    "\"Data Allowance\" must be a whole number of megabytes (MB), at most 18446744073709. Leave "
    "it empty, or 0, for no allowance.";

// The provider's stored allowance text; "(none)" when the value is not there.
std::string StoredAllowance() {
    Variant value;
    ReadValueByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath(kProvider) + "eDataAllowance", vkString,
                    value);
    return value.isEmpty() ? "(none)" : value.toString();
}

class NetworkMethod : public test::WindowTest {
protected:
    // A provider that watches the interfaces named `text` and logs its sessions; the window
    // reads the stand-in's interfaces.
    void Provider(TfrmTimer& w, const QString& text) {
        w.SetInterfaceSource(fake_);
        w.cbProvider->setEditText(QString::fromStdString(kProvider));
        w.cbDetection->setCurrentIndex(kNetworkInterface);
        w.eInterface->setEditText(text);
        w.ckEnableLogging->setChecked(true);
        w.eLogFile->setText(QString::fromStdString(Log().string()));
    }
    std::filesystem::path Log() const { return home_ / "mobile.log"; }

    // The window's event loop until `done`: the stand-in's changes reach the window as the
    // kernel's do, through its descriptor.
    static bool Until(const std::function<bool()>& done) {
        return QTest::qWaitFor(done, kNoEventAfterMs);
    }
    // One round of the event loop, after which the stand-in's descriptor has been served.
    void Serve() {
        QCoreApplication::processEvents();
        pollfd waiting{fake_.ChangeDescriptor(), POLLIN, 0};
        EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "a change was not served";
    }
    static void Watch(TfrmTimer& w) {
        w.sbWatching->click();
        ASSERT_TRUE(w.tWatching->isActive());
    }

    static std::uint64_t Stored(const char* name) {
        return ReadQwordByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath(kProvider) + name)
            .value_or(~std::uint64_t{0});
    }
    static std::string Volume(std::uint64_t bytes) { return FormatDataVolume(bytes); }

    FakeNetInterfaces fake_;
};

TEST_F(NetworkMethod, TheMethodShowsItsControlsAndOffersTheInterfaces) {
    fake_.Add("lo");
    fake_.Add("eth0");
    fake_.Add("usb0");
    TfrmTimer w;
    Provider(w, "usb*");
    EXPECT_FALSE(w.pInterface->isHidden());
    EXPECT_TRUE(w.pCOMPort->isHidden());
    EXPECT_TRUE(w.cbProv->isHidden());
    EXPECT_TRUE(w.sbWatching->isEnabled());
    EXPECT_FALSE(w.sbManual->isEnabled());
    EXPECT_TRUE(w.ckWatchOnRun->isEnabled());
    EXPECT_FALSE(w.ckStartWhenRun->isEnabled());
    QStringList items;
    for (int i = 0; i < w.eInterface->count(); ++i)
        items << w.eInterface->itemText(i);
    EXPECT_EQ(items, (QStringList{"eth0", "usb0"}));
    EXPECT_EQ(w.eInterface->currentText(), "usb*") << "the list leaves the text alone";
    EXPECT_FALSE(w.gbDataToday->isHidden());
    EXPECT_FALSE(w.gbDataTotal->isHidden());
    EXPECT_TRUE(w.gbDataAllowance->isHidden());
    w.eDataAllowance->setText("5000");
    EXPECT_FALSE(w.gbDataAllowance->isHidden());
    EXPECT_EQ(w.lDataAllowance->text(), "0 B of 5 GB, 0 %");

    // A device plugged in meanwhile is offered when the list drops down.
    fake_.Add("wwan0");
    w.eInterface->showPopup();
    EXPECT_EQ(w.eInterface->findText("wwan0"), 2);
    w.eInterface->hidePopup();

    w.cbDetection->setCurrentIndex(kTcpIp);
    EXPECT_TRUE(w.pInterface->isHidden());
    EXPECT_TRUE(w.gbDataToday->isHidden());
    EXPECT_TRUE(w.gbDataAllowance->isHidden());
}

TEST_F(NetworkMethod, OnWaylandTheSeekTextSaysOnlyX11CaptionsAreSeen) {
    FixedWindowTitles desktop;
    TfrmTimer w;
    w.SetWindowTitleSource(desktop);
    struct Case {
        const char* wayland;
        bool readable;
        int method;
        bool waylandNote, captionNote;
    };
    const Case cases[] = {
        {"", true, kTcpIp, false, false},
        {"wayland-0", true, kTcpIp, true, false},
        {"wayland-0", false, kTcpIp, false, true}, // no captions at all: the other note says so
        {"wayland-0", true, kComPort, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wayland);
        qputenv("WAYLAND_DISPLAY", c.wayland);
        desktop.readable = c.readable;
        w.cbDetection->setCurrentIndex(-1);
        w.cbDetection->setCurrentIndex(c.method);
        EXPECT_EQ(!w.lWaylandNote->isHidden(), c.waylandNote);
        EXPECT_EQ(!w.lCaptionNote->isHidden(), c.captionNote);
    }
    EXPECT_TRUE(w.lWaylandNote->text().contains("Network Interface"));
    qputenv("WAYLAND_DISPLAY", "");
}

TEST_F(NetworkMethod, ALinkThatComesUpStartsASessionWhoseBytesAreCountedSavedAndLogged) {
    TfrmTimer w;
    Provider(w, "usb*");
    w.Timers = {false, 0, 0, 100, 1000};
    w.Data = {{1000, 500}, {7000, 3000}};
    Watch(w);
    const int usb = fake_.Add("usb0");
    fake_.SetCounters(usb, {100000, 20000});
    Serve();
    EXPECT_FALSE(w.tOnLine->isActive()) << "down, no address";
    fake_.SetUp(usb, true);
    Serve();
    EXPECT_FALSE(w.tOnLine->isActive()) << "no global address";
    fake_.SetGlobalAddresses(usb, 1);
    ASSERT_TRUE(Until([&] { return w.tOnLine->isActive(); }));
    EXPECT_EQ(w.ActivePageName(), "Timer");
    EXPECT_FALSE(w.sbWatching->isEnabled());
    EXPECT_TRUE(w.sbOverRide->isEnabled());

    Tick(w, 1); // the first tick
    EXPECT_EQ(w.Data, (DataTotals{{1000, 500}, {7000, 3000}}));
    fake_.SetCounters(usb, {1340000, 60000});
    Tick(w, 5);
    EXPECT_EQ(w.Data, (DataTotals{{1241000, 40500}, {1247000, 43000}}));
    EXPECT_EQ(w.lDataToday->text(), QString::fromStdString(Volume(1241000 + 40500)));
    EXPECT_EQ(w.lDataTotal->text(), "1.29 MB");
    EXPECT_TRUE(w.TrayIcon()->toolTip().endsWith("\nData today: 1.28 MB\nData total: 1.29 MB"))
        << w.TrayIcon()->toolTip().toStdString();

    fake_.SetCounters(usb, {1400000, 61000}); // after the last tick, before the stop
    fake_.SetUp(usb, false);
    ASSERT_TRUE(Until([&] { return !w.tOnLine->isActive(); }));
    EXPECT_TRUE(w.sbWatching->isEnabled());
    EXPECT_EQ(w.Data, (DataTotals{{1301000, 41500}, {1307000, 44000}}));
    EXPECT_EQ(Stored("TodayRx"), 1301000u);
    EXPECT_EQ(Stored("TodayTx"), 41500u);
    EXPECT_EQ(Stored("TotalRx"), 1307000u);
    EXPECT_EQ(Stored("TotalTx"), 44000u);
    Variant today;
    ReadValueByPath(HKEY_LOCAL_MACHINE, ProviderKeyPath(kProvider) + "Today", vkInteger, today);
    EXPECT_EQ(today.toInt(), 105);
    // The log line is laid out as ever.
    const std::string log = test::ReadBytes(Log());
    EXPECT_NE(log.find("  In Peak: 000:00:00  Out Peak: 000:00:00  Total: 000:16:45  Charges: "),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Data"), std::string::npos);

    // More traffic with no session: not counted.
    fake_.SetCounters(usb, {9000000, 9000000});
    fake_.SetUp(usb, true);
    ASSERT_TRUE(Until([&] { return w.tOnLine->isActive(); }));
    Tick(w, 1);
    EXPECT_EQ(w.Data.total, (DataBytes{1307000, 44000}));
}

TEST_F(NetworkMethod, AnInterfaceThatGoesAwayGivesItsLastBytesOnce) {
    TfrmTimer w;
    Provider(w, "usb*");
    Watch(w);
    const int first = fake_.AddOnline("usb0", {1000, 1000});
    const int second = fake_.AddOnline("usb1", {50, 50});
    ASSERT_TRUE(Until([&] { return w.tOnLine->isActive(); }));
    Tick(w, 1);
    fake_.SetCounters(first, {4000, 2000});
    fake_.SetCounters(second, {80, 60});
    Tick(w, 1);
    EXPECT_EQ(w.Data.total, (DataBytes{3030, 1010}));

    // Gone between two ticks: the session goes on through the other, with the bytes since.
    fake_.SetCounters(first, {6000, 2500});
    fake_.Remove(first);
    Serve();
    EXPECT_TRUE(w.tOnLine->isActive());
    EXPECT_EQ(w.Data.total, (DataBytes{5030, 1510}));
    Tick(w, 1);
    EXPECT_EQ(w.Data.total, (DataBytes{5030, 1510}));

    // Back under a new index: all its counter is new. Then the last one goes, and the session.
    const int again = fake_.AddOnline("usb0", {300, 100});
    Serve();
    Tick(w, 1);
    EXPECT_EQ(w.Data.total, (DataBytes{5330, 1610}));
    fake_.Remove(again);
    fake_.SetCounters(second, {90, 70});
    fake_.Remove(second);
    ASSERT_TRUE(Until([&] { return !w.tOnLine->isActive(); }));
    EXPECT_EQ(w.Data.total, (DataBytes{5340, 1620}));
    EXPECT_EQ(Stored("TotalRx"), 5340u);
}

TEST_F(NetworkMethod, OverrideAndWatchingWorkAsForTheOtherMethods) {
    TfrmTimer w;
    Provider(w, "wwan0");
    const int wwan = fake_.AddOnline("wwan0", {0, 0});
    Serve();
    EXPECT_FALSE(w.tOnLine->isActive()) << "watching is off";
    // Events, not polling: the watching tick is a safety net of a minute, and watching switched
    // on looks at the interfaces at once.
    EXPECT_EQ(w.tWatching->interval(), 60000);
    Watch(w);
    ASSERT_TRUE(Until([&] { return w.tOnLine->isActive(); }));
    w.sbOverRide->click();
    EXPECT_FALSE(w.tOnLine->isActive());
    EXPECT_FALSE(w.tWatching->isActive());
    EXPECT_TRUE(w.sbWatching->isChecked());
    EXPECT_FALSE(w.sbNext->isEnabled());
    // While overridden, changes start nothing.
    fake_.SetUp(wwan, false);
    Serve();
    fake_.SetUp(wwan, true);
    Serve();
    EXPECT_FALSE(w.tOnLine->isActive());
    w.sbWatching->click(); // released
    w.sbWatching->click(); // and pressed again
    ASSERT_TRUE(Until([&] { return w.tOnLine->isActive(); }));
    w.sbOverRide->click();

    // The text changed while watching is looked at as soon as it is typed.
    w.eInterface->setEditText("wwan1");
    w.sbWatching->click();
    w.sbWatching->click();
    Serve();
    EXPECT_FALSE(w.tOnLine->isActive());
    w.eInterface->setEditText("wwan*");
    ASSERT_TRUE(Until([&] { return w.tOnLine->isActive(); }));
    // Another method ticks every second again.
    w.sbOverRide->click();
    w.sbWatching->click();
    w.cbDetection->setCurrentIndex(kTcpIp);
    EXPECT_EQ(w.tWatching->interval(), 1000);
}

TEST_F(NetworkMethod, TheDataTotalsClearWithTodayTheCycleAndClearAll) {
    clock_.Set(EncodeDate(2026, 3, 14) + EncodeTime(23, 59, 0));
    const ProfileData data{{1000, 100, 90000, 9000}, kDataAlert80};
    ASSERT_TRUE(SaveProfile(kProvider,
                            {{"cbDetection", Variant(kManual), vkInteger},
                             {"seCycleDay", Variant(15), vkInteger}},
                            {10, 0, 0, 100}, true, nullptr, &data));
    ASSERT_TRUE(WriteLastDate(EncodeDate(2026, 3, 14), true));
    ASSERT_TRUE(WriteLastCycleClear(kProvider, EncodeDate(2026, 2, 15), true));
    TfrmTimer w;
    EXPECT_EQ(w.Data, (DataTotals{{1000, 100}, {90000, 9000}}));
    EXPECT_EQ(w.DataAlerts, kDataAlert80);

    clock_.Set(EncodeDate(2026, 3, 15) + EncodeTime(0, 0, 1)); // a new day, and the cycle day
    boxes_->shown.clear();
    w.tRolloverTimer();
    EXPECT_EQ(boxes_->shown.size(), 2u);
    EXPECT_EQ(w.Data, DataTotals{});
    EXPECT_EQ(w.DataAlerts, 0);
    EXPECT_EQ(Stored("TotalRx"), 0u);
    ProfileData stored;
    LoadProfileData(kProvider, stored);
    EXPECT_EQ(stored, ProfileData{});

    w.Data = {{500, 50}, {8000, 800}};
    clock_.Set(EncodeDate(2026, 3, 16) + EncodeTime(0, 0, 1)); // a new day only
    w.tRolloverTimer();
    EXPECT_EQ(w.Data, (DataTotals{{}, {8000, 800}}));
    EXPECT_EQ(Stored("TotalRx"), 8000u);

    boxes_->Answer(mrYes);
    w.btnClearAllClick();
    EXPECT_EQ(w.Data, DataTotals{});
    EXPECT_EQ(w.lDataTotal->text(), "0 B");
}

TEST_F(NetworkMethod, TheAllowanceFieldTakesWholeMegabytes) {
    TfrmTimer w;
    Provider(w, "usb0");
    w.OnRestore();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.SetActivePage("Billing");
    // The largest allowance whose bytes a 64-bit count holds, and anything longer kept whole
    // (never cut to the field's width) and refused.
    const std::pair<const char*, bool> cases[] = {
        {"5000", true},  {"", true},    {"2.5", false},
        {"5 GB", false}, {"0", true},   {"-1", false},
        {"1e3", false},  {"18446744073709", true}, {"18446744073710", false},
        {"99999999999999999999", false}};
    for (const auto& [typed, accepted] : cases) {
        SCOPED_TRACE(typed);
        boxes_->shown.clear();
        QTest::mouseClick(w.eDataAllowance, Qt::LeftButton);
        w.eDataAllowance->selectAll();
        QTest::keyClick(w.eDataAllowance, Qt::Key_Backspace);
        QTest::keyClicks(w.eDataAllowance, typed);
        QTest::keyClick(w.eDataAllowance, Qt::Key_Tab);
        for (int round = 0; round < 10; ++round)
            QCoreApplication::processEvents();
        EXPECT_EQ(w.eDataAllowance->text().toStdString(), typed) << "the text is kept";
        EXPECT_EQ(boxes_->shown.empty(), accepted);
        EXPECT_EQ(QApplication::focusWidget() == w.eDataAllowance, !accepted);
        if (!accepted) {
            EXPECT_EQ(boxes_->shown[0].text.toStdString(), kAllowanceMessage);
        }
    }
}

// An allowance that is not a whole number of megabytes is not saved: the save is refused with
// the field's message, on its page, and the store keeps what it had; a good one is saved.
TEST_F(NetworkMethod, TheSaveRefusesAnAllowanceThatIsNoWholeNumber) {
    TfrmTimer w;
    Provider(w, "usb0");
    w.eDataAllowance->setText("5000");
    boxes_->shown.clear();
    w.btnSave->click();
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].text, "Provider settings have been saved to the Registry.");
    EXPECT_EQ(StoredAllowance(), "5000");
    for (const char* bad : {"5 GB", "-1", "1e3", "2.5", "99999999999999999999"}) {
        SCOPED_TRACE(bad);
        w.SetActivePage("Provider");
        w.eDataAllowance->setText(bad);
        boxes_->shown.clear();
        w.btnSave->click();
        ASSERT_EQ(boxes_->shown.size(), 1u);
        EXPECT_EQ(boxes_->shown[0].text.toStdString(), kAllowanceMessage);
        EXPECT_EQ(w.ActivePageName().toStdString(), "Billing") << "the field is shown";
        EXPECT_EQ(StoredAllowance(), "5000") << "nothing was saved";
        EXPECT_EQ(w.eDataAllowance->text().toStdString(), bad) << "the text is kept";
    }
    w.eDataAllowance->setText("");
    boxes_->shown.clear();
    w.btnSave->click();
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(StoredAllowance(), "");
}

// A provider brought in (from Windows, by quorvane-reg) with an allowance that is not a whole
// number shows it whole, and marked as not taken, until it is put right.
TEST_F(NetworkMethod, AnImportedBadAllowanceShowsAsBad) {
    const struct {
        const char* stored;
        bool bad;
    } cases[] = {
        {"5 GB", true},   {"-1", true}, {"1e3", true}, {"99999999999999999999", true},
        {"5000", false},  {"", false},  {"0", false},  {"18446744073709", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        ASSERT_TRUE(SaveProfile(kProvider,
                                {{"cbDetection", Variant(kNetworkInterface), vkInteger},
                                 {"eDataAllowance", Variant(std::string(c.stored)), vkString}},
                                {0, 0, 0, 0}, true));
        TfrmTimer w;
        EXPECT_EQ(w.cbProvider->currentText().toStdString(), kProvider);
        EXPECT_EQ(w.eDataAllowance->text().toStdString(), c.stored);
        EXPECT_EQ(w.lDataAllowanceNote->isVisibleTo(w.pgBilling), c.bad);
        EXPECT_EQ(w.eDataAllowance->toolTip().toStdString(), c.bad ? kAllowanceMessage : "");
        if (c.bad) {
            // Put right, the mark goes.
            w.eDataAllowance->setText("5000");
            EXPECT_FALSE(w.lDataAllowanceNote->isVisibleTo(w.pgBilling));
            EXPECT_EQ(w.eDataAllowance->toolTip().toStdString(), "");
        }
    }
}

TEST_F(NetworkMethod, TheTimerPageAndTheTooltipShowTheShareOfTheAllowance) {
    TfrmTimer w;
    Provider(w, "usb0");
    w.eDataAllowance->setText("5000");
    w.Data = {{0, 0}, {1000000000, 240000000}};
    w.SetActivePage("Timer");
    EXPECT_EQ(w.lDataAllowance->text(), "1.24 GB of 5 GB, 24 %");
    w.ckDataRxOnly->setChecked(true);
    EXPECT_EQ(w.lDataAllowance->text(), "1 GB of 5 GB, 20 %");
    EXPECT_TRUE(w.TrayIcon()->toolTip().endsWith("\nAllowance: 1 GB of 5 GB, 20 %"));
}

// A session's bytes go into the state kept against a kill, and the next start recovers them: a
// kill those of the last tick (the state file's), a power cut, which takes the runtime folder
// with it, those of the store's last write.
TEST_F(NetworkMethod, TheBytesOfASessionCutShortAreRecoveredWithItsTime) {
    int usb = -1;
    for (const bool powerCut : {true, false}) {
        SCOPED_TRACE(powerCut ? "a power cut" : "a kill");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software");
        clock_.Set(EncodeDate(2026, 3, 9) + EncodeTime(10, 0, 0));
        auto w = std::make_unique<TfrmTimer>();
        Provider(*w, "usb0");
        w->btnSave->click();
        if (usb >= 0)
            fake_.SetCounters(usb, {5000, 5000});
        Watch(*w);
        if (usb < 0)
            usb = fake_.AddOnline("usb0", {5000, 5000});
        ASSERT_TRUE(Until([&] { return w->tOnLine->isActive(); }));
        Tick(*w, 1);
        for (int second = 1; second <= 31; ++second) {
            fake_.SetCounters(usb, {5000 + 1000u * second, 5000 + 100u * second});
            Tick(*w, 1);
        }
        const std::optional<StoredSessionState> state = ReadSessionState();
        ASSERT_TRUE(state);
        EXPECT_EQ(state->bytes, (SessionStateBytes{30000, 3000, 0, 0}));
        fake_.SetCounters(usb, {99000, 99000}); // after the store's last write
        Tick(*w, 1);
        w.reset(); // killed: none of the close steps
        if (powerCut)
            std::filesystem::remove(SessionStateFilePath());

        // Started again: the method is chosen, but nothing of the kernel's is opened without
        // watching.
        TfrmTimer again;
        const DataBytes recovered = powerCut ? DataBytes{30000, 3000} : DataBytes{94000, 94000};
        EXPECT_EQ(again.Data, (DataTotals{recovered, recovered}));
        EXPECT_EQ(Stored("TotalRx"), recovered.rx);
        EXPECT_FALSE(ReadSessionState());
    }
}

// A provider with the method and "Watching enabled when Run" starts watching the kernel's own
// interfaces, here those of a network namespace the test makes.
TEST_F(NetworkMethod, WatchingEnabledWhenRunWatchesTheKernelsInterfaces) {
    test::NetNamespace here, peer;
    if (!here.Made())
        GTEST_SKIP() << here.Why();
    ASSERT_TRUE(SaveProfile(kProvider,
                            {{"cbDetection", Variant(kNetworkInterface), vkInteger},
                             {"eInterface", Variant("v0"), vkString},
                             {"ckWatchOnRun", Variant(true), vkBool}},
                            {}, true));
    std::unique_ptr<TfrmTimer> w;
    {
        const test::Inside inside(here);
        w = std::make_unique<TfrmTimer>();
    }
    EXPECT_TRUE(w->tWatching->isActive());
    EXPECT_EQ(w->eInterface->currentText(), "v0");
    std::string output;
    ASSERT_EQ(here.Run("ip link add v0 type veth peer name p0 netns " + std::to_string(peer.Pid()) +
                           " && ip addr add 10.0.0.1/24 dev v0 && ip link set v0 up",
                       &output),
              0)
        << output;
    ASSERT_EQ(peer.Run("ip link set p0 up", &output), 0) << output;
    ASSERT_TRUE(Until([&] { return w->tOnLine->isActive(); }));
    ASSERT_EQ(here.Run("ip link set v0 down", &output), 0) << output;
    ASSERT_TRUE(Until([&] { return !w->tOnLine->isActive(); }));
}

} // namespace
