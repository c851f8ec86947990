// Desktop notifications from the real window, over the tests' private session bus to a stand-in
// notification server on a connection of its own: the free hours used up during a session, the
// data allowance at 80 % and at 100 %, the first lost session log line of a program run, and a
// bus with no server on it.
#include "app/alarm_player.h"
#include "app/messages.h"
#include "app/notifier.h"
#include "app/timer.h"
#include "core/clock.h"
#include "core/regional.h"
#include "settings/profiles.h"
#include "settings/registry.h"
#include "support/store_home.h"
#include "watch/net_interfaces.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusError>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

using namespace quorvane;

namespace {

// A safety net for a broken bus, never a measure of speed: every wait ends at its event.
constexpr int kNoEventAfterMs = 120000;

// Records what the window asks the desktop to show, as a notification server would.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString app, icon, summary, body;
        QVariantMap hints;
        int timeout;
    };
    std::vector<Call> calls;

public slots:
    uint Notify(const QString& app, uint /*replaces*/, const QString& icon, const QString& summary,
                const QString& body, const QStringList& /*actions*/, const QVariantMap& hints,
                int timeout) {
        calls.push_back({app, icon, summary, body, hints, timeout});
        return static_cast<uint>(calls.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
};

// The stand-in server, owning org.freedesktop.Notifications while it exists.
class NotificationServer {
public:
    NotificationServer()
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnection)) {
        EXPECT_TRUE(bus_.isConnected())
            << "no session bus: " << qPrintable(bus_.lastError().message());
        EXPECT_TRUE(bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake_,
                                        QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(bus_.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }
    ~NotificationServer() {
        bus_.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(kConnection);
    }

    const std::vector<FakeNotifications::Call>& Calls() const { return fake_.calls; }

    // Sends a last notice through the window and waits for it: the server has then seen every
    // earlier one too, since one connection's calls arrive in order.
    const std::vector<FakeNotifications::Call>& AllFrom(TfrmTimer& w) {
        const QString marker = QStringLiteral("marker %1").arg(++markers_);
        w.Notifier()->Notify(marker, QString());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !fake_.calls.empty() && fake_.calls.back().summary == marker; },
            kNoEventAfterMs));
        return fake_.calls;
    }

private:
    static inline const QString kConnection = QStringLiteral("notification-server");
    QDBusConnection bus_;
    FakeNotifications fake_;
    int markers_ = 0;
};

class Notifications : public test::OwnStoreTest {
protected:
    // A provider with manual sessions.
    static void Provider(TfrmTimer& w) {
        w.cbProvider->setEditText(QStringLiteral("Dial Net"));
        w.cbDetection->setCurrentIndex(2);
    }
    void Tick(TfrmTimer& w, double seconds) {
        clock_.AdvanceSeconds(seconds);
        w.tOnLineTimer();
    }
    static std::int32_t StoredTotal() {
        Variant value;
        ReadValueByPath(RootKey::LocalMachine, ProviderKeyPath("Dial Net") + "TotalTime", vkInteger,
                        value);
        return value.isEmpty() ? -1 : value.toInt();
    }

    ManualClock clock_{EncodeDate(2026, 3, 7) + EncodeTime(10, 0, 0)};
    ModalScript boxes_;
};

TEST_F(Notifications, FreeHoursUsedUpInASessionAreToldOnceWithTheCharges) {
    for (const bool alarmFile : {false, true}) {
        SCOPED_TRACE(alarmFile ? "with an alarm file" : "without an alarm file");
        NotificationServer server;
        boxes_.shown.clear();
        TfrmTimer w;
        Provider(w);
        w.ckEnableBilling->setChecked(true);
        w.eFreeHours->setText(QStringLiteral("5"));
        w.ePrice->setText(QStringLiteral("2.00"));
        if (alarmFile) {
            // Not a sound: the alarm's error box shows that the alarm still ran.
            const std::filesystem::path notWav = home_ / "notes.wav";
            std::ofstream(notWav) << "no sound here";
            w.eWavAlarm->setText(QString::fromStdString(notWav.string()));
        }
        w.Timers.TotalTime = 6 * 3600 - 2;
        QSignalSpy tried(w.mpWav, &TAlarmPlayer::Finished);
        w.sbManual->click();
        Tick(w, 1); // the first tick: 5:59:58, within the free hours
        EXPECT_TRUE(server.AllFrom(w).size() == 1) << "nothing before the free hours run out";
        Tick(w, 2); // 6:00:00
        Tick(w, 1);
        Tick(w, 3600);
        w.sbManual->click();

        const auto& calls = server.AllFrom(w);
        ASSERT_EQ(calls.size(), 3u) << "one marker, the notice, one marker";
        const FakeNotifications::Call& told = calls[1];
        EXPECT_EQ(told.app, "Quorvane");
        EXPECT_EQ(told.icon, "quorvane");
        EXPECT_EQ(told.hints.value(QStringLiteral("desktop-entry")).toString(), "quorvane");
        EXPECT_EQ(told.timeout, -1);
        EXPECT_EQ(told.summary, "Free hours used up");
        EXPECT_EQ(told.body, "Your 5 free hours with Dial Net are used up. Charges so far: $2.00");

        EXPECT_EQ(w.Timers.AlarmPlayed, alarmFile);
        // The player says so when it has tried, beside the window's thread.
        if (alarmFile) {
            ASSERT_TRUE(tried.count() > 0 || tried.wait(kNoEventAfterMs));
        }
        EXPECT_EQ(tried.count(), alarmFile ? 1 : 0);
        ASSERT_EQ(boxes_.shown.size(), alarmFile ? 1u : 0u);
        if (alarmFile) {
            EXPECT_EQ(boxes_.shown[0].caption, "Error");
        }
    }
}

// Each alert once in the billing cycle, also after the program has started again.
TEST_F(Notifications, TheDataAllowanceIsToldAt80AndAt100PercentOnceACycle) {
    NotificationServer server;
    FakeNetInterfaces interfaces;
    const int usb = interfaces.AddOnline("usb0", {0, 0});
    // Not a sound: the alarm's error box shows that the alarm ran.
    const std::filesystem::path notWav = home_ / "notes.wav";
    std::ofstream(notWav) << "no sound here";
    const auto session = [&](TfrmTimer& w, const std::vector<InterfaceCounters>& readings) {
        w.SetInterfaceSource(interfaces);
        w.sbWatching->click();
        w.tWatchingTimer();
        ASSERT_TRUE(w.tOnLine->isActive());
        Tick(w, 1);
        for (const InterfaceCounters& counters : readings) {
            interfaces.SetCounters(usb, counters);
            Tick(w, 1);
        }
        w.sbOverRide->click();
    };
    {
        TfrmTimer w;
        w.cbProvider->setEditText(QStringLiteral("Mobile Net"));
        w.cbDetection->setCurrentIndex(kNetworkInterface);
        w.eInterface->setEditText(QStringLiteral("usb0"));
        w.eDataAllowance->setText(QStringLiteral("10")); // MB
        w.seCycleDay->setValue(15);                       // 8 days from 7 March
        w.eWavAlarm->setText(QString::fromStdString(notWav.string()));
        w.btnSave->click();
        boxes_.shown.clear();
        QSignalSpy tried(w.mpWav, &TAlarmPlayer::Finished);
        session(w, {{7000000, 900000},   // 7.9 MB
                    {7000000, 1000000},  // 8 MB: 80 %
                    {7500000, 1000000},
                    {9000000, 1000000},  // 10 MB: 100 %
                    {12000000, 1000000}});
        const auto& calls = server.AllFrom(w);
        ASSERT_EQ(calls.size(), 3u) << "the two alerts, one marker";
        EXPECT_EQ(calls[0].summary, "Data allowance 80 % used");
        EXPECT_EQ(calls[0].body, "8 MB of 10 MB, 80 % used with Mobile Net. 8 days are left in "
                                 "the billing cycle.");
        EXPECT_EQ(calls[1].summary, "Data allowance used up");
        EXPECT_EQ(calls[1].body, "10 MB of 10 MB, 100 % used with Mobile Net. 8 days are left "
                                 "in the billing cycle.");
        ASSERT_TRUE(tried.count() > 0 || tried.wait(kNoEventAfterMs)) << "the alarm at 100 %";
        EXPECT_EQ(tried.count(), 1);
        ASSERT_EQ(boxes_.shown.size(), 1u) << "the alarm at 100 %";
        EXPECT_EQ(boxes_.shown[0].caption, "Error");
    }
    // Started again, still in the same cycle: what fired is kept.
    TfrmTimer again;
    EXPECT_EQ(again.cbProvider->currentText(), "Mobile Net");
    const std::size_t before = server.Calls().size();
    session(again, {{20000000, 1000000}});
    EXPECT_EQ(server.AllFrom(again).size(), before + 1) << "no alert, one more marker";
}

TEST_F(Notifications, TheFirstLostLogLineOfARunIsToldAndTheStopGoesOn) {
    NotificationServer server;
    TfrmTimer w;
    Provider(w);
    w.ckEnableLogging->setChecked(true);
    const std::filesystem::path log = home_ / "missing" / "usage.log";
    w.eLogFile->setText(QString::fromStdString(log.string()));
    const auto session = [&](int seconds) {
        w.sbManual->click();
        Tick(w, 1);
        Tick(w, seconds);
        w.sbManual->click();
        EXPECT_FALSE(w.tOnLine->isActive());
    };
    session(30);
    EXPECT_EQ(StoredTotal(), 30) << "the totals are saved all the same";
    session(10);
    w.eLogFile->clear(); // a later failure of another kind stays quiet too
    session(5);
    EXPECT_EQ(StoredTotal(), 45);

    const auto& calls = server.AllFrom(w);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].summary, "Session log not written");
    EXPECT_EQ(calls[0].body,
              QStringLiteral("The session's line could not be written to %1: No such "
                             "file or directory. Later failures are not shown "
                             "until Quorvane starts again.")
                  .arg(QString::fromStdString(log.string())));
    EXPECT_FALSE(std::filesystem::exists(log.parent_path()));
    EXPECT_TRUE(boxes_.shown.empty()) << "nothing modal";
}

// An empty log name is how the user turns the log off: nothing is lost, so nothing is told, and
// the notice of the run is still there for a named file that cannot be written.
TEST_F(Notifications, AnEmptyLogNameIsNoFailure) {
    NotificationServer server;
    TfrmTimer w;
    Provider(w);
    w.ckEnableLogging->setChecked(true);
    w.eLogFile->clear();
    w.sbManual->click();
    Tick(w, 1);
    Tick(w, 30);
    w.sbManual->click();
    EXPECT_EQ(StoredTotal(), 30);
    EXPECT_EQ(server.AllFrom(w).size(), 1u) << "the marker alone";

    const std::filesystem::path log = home_ / "missing" / "usage.log";
    w.eLogFile->setText(QString::fromStdString(log.string()));
    w.sbManual->click();
    Tick(w, 1);
    Tick(w, 5);
    w.sbManual->click();
    const auto& calls = server.AllFrom(w);
    ASSERT_EQ(calls.size(), 3u) << "a marker, the notice, a marker";
    EXPECT_EQ(calls[1].summary, "Session log not written");
    EXPECT_TRUE(calls[1].body.contains(QString::fromStdString(log.string())));
}

TEST_F(Notifications, ABusWithoutANotificationServerShowsNothingAndNothingFails) {
    TfrmTimer w;
    Provider(w);
    w.ckEnableLogging->setChecked(true);
    w.eLogFile->setText(QString::fromStdString((home_ / "missing" / "usage.log").string()));
    QSignalSpy settled(w.Notifier(), &TNotifier::Settled);
    w.sbManual->click();
    Tick(w, 1);
    Tick(w, 20);
    w.sbManual->click();
    EXPECT_EQ(StoredTotal(), 20);
    ASSERT_TRUE(settled.count() > 0 || settled.wait(kNoEventAfterMs));
    EXPECT_EQ(settled.at(0).at(0).value<TNotifier::Route>(), TNotifier::Route::Nowhere);
    EXPECT_TRUE(boxes_.shown.empty());
}

} // namespace

#include "test_notifications.moc"
