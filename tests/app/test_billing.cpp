// The Billing and Logging pages' outputs on the real window: the charges text from the
// controls, the free-hours alarm and the play button, and the session log.
#include "app/alarm_player.h"
#include "app/messages.h"
#include "app/notifier.h"
#include "app/timer.h"
#include "core/clock.h"
#include "core/regional.h"
#include "support/files.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace quorvane;

namespace {

constexpr int kNoEventAfterMs = 120000;

class BillingTest : public testing::Test {
protected:
    void SetUp() override {
        Regional().currencyString = "$";
        Regional().thousandSeparator = ",";
        dir_ = std::filesystem::path(std::getenv("QUORVANE_HOME")) / "billing";
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { Regional() = saved_; }

    RegionalSettings saved_ = Regional();
    std::filesystem::path dir_;
    ModalScript boxes_;
};

TEST_F(BillingTest, ChargesFollowTheControls) {
    TfrmTimer w;
    w.Timers.TotalTime = 7 * 3600 + 1800;
    EXPECT_EQ(w.FormatCharges(), "$0.00");
    w.ckEnableBilling->setChecked(true);
    w.eFreeHours->setText(QStringLiteral("5"));
    w.ePrice->setText(QStringLiteral("2.00"));
    EXPECT_EQ(w.FormatCharges(), "$4.00");
    w.eFreeHours->setText(QStringLiteral("abc")); // the field puts "0" back at once
    EXPECT_EQ(w.eFreeHours->text(), "0");
    EXPECT_EQ(w.lPricePer->text(), "Price per Minute");
    w.ePrice->setText(QStringLiteral("1,000.00"));
    EXPECT_EQ(w.FormatCharges(), "$450,000.00");
}

TEST_F(BillingTest, AnAlarmThatCannotPlayIsReportedOnceAndCountsAsPlayed) {
    TfrmTimer w;
    const std::filesystem::path notWav = dir_ / "notes.wav";
    std::ofstream(notWav) << "just some text, no sound";
    w.ckEnableBilling->setChecked(true);
    w.eFreeHours->setText(QStringLiteral("5"));
    w.ePrice->setText(QStringLiteral("2.00"));
    w.eWavAlarm->setText(QString::fromStdString(notWav.string()));
    w.Timers.TotalTime = 6 * 3600;
    QSignalSpy tried(w.mpWav, &TAlarmPlayer::Finished);
    w.tOnLine->start(); // a session is running
    for (int tick = 0; tick < 5; ++tick)
        EXPECT_EQ(w.FormatCharges(), "$2.00");
    w.tOnLine->stop();
    // The player says so when it has tried, beside the window's thread.
    ASSERT_TRUE(tried.count() > 0 || tried.wait(kNoEventAfterMs));
    EXPECT_EQ(tried.count(), 1);
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].caption, "Error");
    EXPECT_TRUE(boxes_.shown[0].text.contains("notes.wav")) << boxes_.shown[0].text.toStdString();
    EXPECT_TRUE(w.Timers.AlarmPlayed);
}

TEST_F(BillingTest, ThePlayButtonNamesAMissingFile) {
    TfrmTimer w;
    w.sbWavPlay->click();
    w.eWavAlarm->setText(QStringLiteral("/no/such/alarm.wav"));
    w.sbWavPlay->click();
    ASSERT_EQ(boxes_.shown.size(), 2u);
    EXPECT_EQ(boxes_.shown[0].caption, "Information");
    EXPECT_EQ(boxes_.shown[0].text, "\"\" does not exist?");
    EXPECT_EQ(boxes_.shown[1].text, "\"/no/such/alarm.wav\" does not exist?");
}

TEST_F(BillingTest, TheSessionLogGoesToTheFileOfTheLoggingPage) {
    TfrmTimer w;
    ManualClock clock(EncodeDate(2026, 12, 10) + EncodeTime(21, 5, 9));
    const std::filesystem::path log = dir_ / "sessions.txt";
    std::ofstream(log, std::ios::binary) << "older line\r\n";
    w.eLogFile->setText(QString::fromStdString(log.string()));
    TimerSet timers{false, 60, 0, 5, 12 * 3600 + 5};
    ASSERT_TRUE(w.WriteSessionLog(timers, QStringLiteral("$14.00")));
    EXPECT_EQ(test::ReadBytes(log),
              "12/10/2026  09:05:09 PM  In Peak: 000:01:00  Out Peak: 000:00:00  "
              "Total: 012:00:05  Charges: $14.00\r\nolder line\r\n");
    // Without a session bus (and, offscreen, a tray) the lost line's notice goes nowhere, and
    // nothing fails.
    QSignalSpy settled(w.Notifier(), &TNotifier::Settled);
    w.eLogFile->setText(QString::fromStdString((dir_ / "missing" / "sessions.txt").string()));
    EXPECT_FALSE(w.WriteSessionLog(timers, QStringLiteral("$0.00")));
    EXPECT_TRUE(boxes_.shown.empty());
    ASSERT_EQ(settled.count(), 1);
    EXPECT_EQ(settled.at(0).at(0).value<TNotifier::Route>(), TNotifier::Route::Nowhere);
}

} // namespace
