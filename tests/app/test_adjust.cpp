// The Adjust Timers page on the real window: the adjusted value as the arrows set it, Adjust
// and its save, Reset, Clear All with its question, never a negative time, and adjustments
// carried into a running session.
#include "settings/profiles.h"
#include "settings/registry.h"
#include "support/files.h"
#include "tests/app/window_test.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>

using namespace quorvane;
using quorvane::test::H;

namespace {

class Adjust : public test::WindowTest {
protected:
    // The page shown, with the provider named and its totals in memory.
    static void Open(TfrmTimer& w, const TimerSet& totals) {
        w.cbProvider->setEditText(QStringLiteral("Dial Net"));
        w.Timers = totals;
        w.SetActivePage("Adjust Timers");
    }
    static std::int32_t Stored(const char* total) {
        Variant value;
        ReadValueByPath(RootKey::LocalMachine, ProviderKeyPath("Dial Net") + total, vkInteger,
                        value);
        return value.isEmpty() ? -1 : value.toInt();
    }
};

TEST_F(Adjust, TheAdjustedValueFollowsTheArrows) {
    struct Case {
        QRadioButton* TfrmTimer::*timer;
        Duration current;
        int hours, minutes;
        const char* adjusted;
        bool enabled;
    };
    const Case cases[] = {
        {&TfrmTimer::rbToday, H(1), 2, 0, "003:00:00", true},
        {&TfrmTimer::rbToday, H(0, 20), 0, -30, "000:20:00", true}, // the part is dropped
        {&TfrmTimer::rbToday, H(0, 20), 0, -20, "000:00:00", true},
        {&TfrmTimer::rbTotalTime, H(5), -999, 0, "005:00:00", true},
        {&TfrmTimer::rbTotalTime, H(5), -999, 15, "005:15:00", true},
        {&TfrmTimer::rbInsidePeak, H(1), -1, -1, "000:00:00", true}, // never below zero
        {&TfrmTimer::rbOutsidePeak, H(2, 30), 0, 0, "002:30:00", false},
    };
    TfrmTimer w;
    for (const Case& c : cases) {
        SCOPED_TRACE((w.*c.timer)->objectName().toStdString());
        Open(w, {false, c.current, c.current, c.current, c.current});
        (w.*c.timer)->click();
        EXPECT_EQ(w.lCurrValue->text(), QString::fromStdString(DurationText(c.current)));
        w.seAdjHour->setValue(c.hours);
        w.seAdjMin->setValue(c.minutes);
        EXPECT_EQ(w.lAdjValue->text(), c.adjusted);
        EXPECT_EQ(w.btnAdjust->isEnabled(), c.enabled);
        w.btnReset->click();
        EXPECT_EQ(w.seAdjHour->value(), 0);
        EXPECT_EQ(w.seAdjMin->value(), 0);
        EXPECT_EQ(w.lAdjValue->text(), w.lCurrValue->text());
        EXPECT_FALSE(w.btnAdjust->isEnabled());
        w.SetActivePage("Timer");
    }
}

TEST_F(Adjust, AdjustStoresTheTotalAndShowsItEverywhere) {
    TfrmTimer w;
    Open(w, {false, 0, 0, H(1), H(10)});
    w.cbMinimizedTime->setCurrentIndex(0);
    w.seAdjHour->setValue(2);
    w.btnAdjust->click();
    EXPECT_EQ(w.Timers.Today, 10800);
    EXPECT_EQ(Stored("Today"), 10800);
    EXPECT_EQ(Stored("TotalTime"), H(10));
    EXPECT_EQ(w.lCurrValue->text(), "003:00:00");
    EXPECT_EQ(w.lAdjValue->text(), "003:00:00");
    EXPECT_EQ(w.seAdjHour->value(), 0);
    EXPECT_FALSE(w.btnAdjust->isEnabled());
    EXPECT_EQ(w.lToday->text(), "003:00:00");
    EXPECT_EQ(w.ApplicationTitle(), "T: 003:00:00");

    // Two parts that each fit but together do not: the stored time is zero, not negative.
    w.Timers.InsidePeak = H(1);
    w.rbInsidePeak->click();
    w.seAdjHour->setValue(-1);
    w.seAdjMin->setValue(-1);
    w.btnAdjust->click();
    EXPECT_EQ(w.Timers.InsidePeak, 0);
    EXPECT_EQ(Stored("InsidePeak"), 0);
    EXPECT_TRUE(w.rbInsidePeak->isChecked());
}

TEST_F(Adjust, ClearAllAsksFirstAndStoresNothing) {
    TfrmTimer w;
    Open(w, {true, H(1), H(2), H(3), H(6)});
    w.TransferProviderSettings(false, w.Timers);
    w.rbTotalTime->click();
    w.lCurrent->setText("10:00:00 AM");
    w.lElapsed->setText("000:05:00");
    for (int answer : {mrNo, mrCancel}) {
        boxes_->Answer(answer);
        w.btnClearAll->click();
        EXPECT_EQ(w.Timers, (TimerSet{true, H(1), H(2), H(3), H(6)})) << answer;
    }
    boxes_->Answer(mrYes);
    w.btnClearAll->click();
    ASSERT_EQ(boxes_->shown.size(), 3u);
    EXPECT_EQ(boxes_->shown[2].caption, "Confirm");
    EXPECT_EQ(boxes_->shown[2].text, "This is to confirm that you want to CLEAR ALL TIMERS!");
    EXPECT_EQ(w.Timers, (TimerSet{true, 0, 0, 0, 0})) << "the alarm flag stays";
    for (QLabel* label : {w.lToday, w.lTotalTime, w.lInsidePeak, w.lOutsidePeak, w.lCurrent,
                          w.lElapsed, w.lCurrValue, w.lAdjValue})
        EXPECT_EQ(label->text(), "000:00:00") << label->objectName().toStdString();
    EXPECT_TRUE(w.rbTotalTime->isChecked());
    EXPECT_EQ(Stored("TotalTime"), H(6)) << "stored by the next save, not by Clear All";
}

// An adjustment and Clear All made during a session carry into it: the next tick goes on from
// them, and the session's save and log line hold them.
TEST_F(Adjust, ChangesDuringASessionCarryIntoIt) {
    TfrmTimer w;
    Open(w, {false, 0, 0, H(1), H(5)});
    w.cbDetection->setCurrentIndex(2);
    w.ckEnableLogging->setChecked(true);
    const std::filesystem::path log = home_ / "sessions.txt";
    w.eLogFile->setText(QString::fromStdString(log.string()));
    w.sbManual->click();
    Tick(w, 0);
    Tick(w, 10);
    ASSERT_EQ(w.Timers.Today, H(1, 0, 10));

    w.SetActivePage("Adjust Timers");
    w.rbTotalTime->click();
    w.seAdjHour->setValue(-2);
    w.btnAdjust->click();
    EXPECT_EQ(w.Timers.TotalTime, H(3, 0, 10));
    EXPECT_EQ(Stored("TotalTime"), H(3, 0, 10));
    Tick(w, 5);
    EXPECT_EQ(w.lTotalTime->text(), "003:00:15") << "on from the adjusted total";
    EXPECT_EQ(w.lToday->text(), "001:00:15");

    boxes_->Answer(mrYes);
    w.btnClearAll->click();
    Tick(w, 7);
    EXPECT_EQ(w.lToday->text(), "000:00:07");
    EXPECT_EQ(w.lTotalTime->text(), "000:00:07");
    EXPECT_EQ(w.lElapsed->text(), "000:00:22") << "the session itself goes on";

    w.sbManual->click();
    EXPECT_EQ(Stored("Today"), 7);
    EXPECT_EQ(Stored("TotalTime"), 7);
    EXPECT_NE(test::ReadBytes(log).find("Total: 000:00:07"), std::string::npos);
}

} // namespace
