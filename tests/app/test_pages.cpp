// The settings pages on the real window, driven as a user drives them: Previous and Next, the
// detection method's effects, the checks of the fields a user leaves (and that they never trap
// the user), the file buttons and the panels, a provider picked from the list, the taskbar text
// from start-up on, About, and a first run walked page by page to a saved provider.
#include "app/about.h"
#include "app/save_dialog.h"
#include "settings/profiles.h"
#include "settings/registry.h"
#include "settings/rollover_store.h"
#include "tests/app/window_test.h"
#include "watch/windows_list.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

using namespace quorvane;

namespace {

const DateTime kToday = EncodeDate(2026, 3, 7);
const QString kTimeMessage =
    QStringLiteral("Time must be in the format HH:MM:SS AM/PM\r\n\r\nPlease re-check what you "
                   "entered.");

class Pages : public test::WindowTest {
protected:
    // The window restored and in front, so the focus moves as it does for a user.
    static void Restore(TfrmTimer& w) {
        w.OnRestore();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    }
    // Lets every reaction that waits for the focus to settle run, several rounds over: a loop
    // between two fields would show itself as more messages.
    static void Settle() {
        for (int round = 0; round < 10; ++round)
            QCoreApplication::processEvents();
    }
    // Clicks into the field, types over its text, and leaves with Tab.
    static void TypeAndLeave(QLineEdit* field, const QString& text) {
        QTest::mouseClick(field, Qt::LeftButton);
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Tab);
        Settle();
    }
    // A click on a check box's indicator, where a user clicks it.
    static void Click(QCheckBox* box) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    }
    static void OpenBilling(TfrmTimer& w, bool peak) {
        w.SetActivePage("Billing");
        w.ckEnableBilling->setChecked(true);
        w.ckEnablePeak->setChecked(peak);
    }
    // A stored provider, saved for `savedFor`, with the settings given.
    static void Store(const std::string& name, const std::vector<ProfileSetting>& settings,
                      const ProfileTotals& totals, DateTime savedFor, bool makeDefault) {
        std::vector<ProfileSetting> all = settings;
        all.push_back(LastSaveDateSetting(savedFor));
        ASSERT_TRUE(SaveProfile(name, all, totals, makeDefault));
    }
    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const auto& shown : boxes_->shown)
            texts.push_back(shown.text);
        return texts;
    }
};

TEST_F(Pages, NextAndPreviousWalkThePagesAndStopAtTheEnds) {
    TfrmTimer w;
    const QStringList order = {"Provider", "Detection",     "Billing", "Logging",
                               "Toggles",  "Adjust Timers", "Timer"};
    w.Timers = {false, 60, 120, 3600, 7200};
    w.seAdjHour->setValue(5);
    for (int i = 1; i <= 7; ++i) {
        QTest::mouseClick(w.sbNext, Qt::LeftButton);
        EXPECT_EQ(w.ActivePageName(), order[std::min(i, 6)]);
        EXPECT_EQ(w.seAdjHour->value(), 0) << "every page change sets the adjustments to 0";
    }
    EXPECT_EQ(w.lToday->text(), "001:00:00") << "the Timer page shows the totals it comes to";
    EXPECT_EQ(w.lInsidePeak->text(), "000:01:00");
    for (int i = 5; i >= -1; --i) {
        QTest::mouseClick(w.sbPrevious, Qt::LeftButton);
        EXPECT_EQ(w.ActivePageName(), order[std::max(i, 0)]);
    }

    // Leaving Adjust Timers with Total Time selected and coming back: Today again.
    w.SetActivePage("Adjust Timers");
    w.rbTotalTime->click();
    EXPECT_EQ(w.lCurrValue->text(), "002:00:00");
    QTest::mouseClick(w.sbNext, Qt::LeftButton);
    QTest::mouseClick(w.sbPrevious, Qt::LeftButton);
    EXPECT_TRUE(w.rbToday->isChecked());
    EXPECT_EQ(w.lCurrValue->text(), "001:00:00");
}

TEST_F(Pages, TheDetectionMethodShowsEnablesAndClears) {
    struct Case {
        int method;
        bool comPort, seekText, watching, manual;
    };
    const Case cases[] = {
        {0, false, true, true, false},
        {1, true, false, true, false},
        {2, false, false, false, true},
        {-1, false, false, false, true}, // none chosen: as Manual
    };
    FixedWindowTitles desktop;
    desktop.readable = false;
    TfrmTimer w;
    w.SetWindowTitleSource(desktop);
    QCheckBox* const manualOnly[] = {w.ckStartWhenRun, w.ckCloseOnDisconnect};
    QCheckBox* const watchOnly[] = {w.ckWatchOnRun, w.ckColoredIconWatching};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        w.cbDetection->setCurrentIndex(c.method == 2 ? 0 : 2);
        for (QCheckBox* box : manualOnly)
            box->setChecked(true);
        for (QCheckBox* box : watchOnly)
            box->setChecked(true);
        w.cbDetection->setCurrentIndex(c.method);
        EXPECT_EQ(!w.pCOMPort->isHidden(), c.comPort);
        EXPECT_EQ(!w.cbProv->isHidden(), c.seekText);
        EXPECT_EQ(!w.lProvider->isHidden(), c.seekText);
        EXPECT_EQ(!w.lCaptionNote->isHidden(), c.seekText) << "no captions to read here";
        EXPECT_EQ(w.sbWatching->isEnabled(), c.watching);
        EXPECT_EQ(w.sbManual->isEnabled(), c.manual);
        EXPECT_FALSE(w.sbOverRide->isEnabled());
        for (QCheckBox* box : manualOnly) {
            EXPECT_EQ(box->isEnabled(), c.manual);
            EXPECT_EQ(box->isChecked(), c.manual) << box->objectName().toStdString();
        }
        for (QCheckBox* box : watchOnly) {
            EXPECT_EQ(box->isEnabled(), !c.manual);
            EXPECT_EQ(box->isChecked(), !c.manual) << box->objectName().toStdString();
        }
    }
    // Back to Manual: enabled again, but left unchecked.
    w.cbDetection->setCurrentIndex(0);
    w.cbDetection->setCurrentIndex(2);
    EXPECT_TRUE(w.ckStartWhenRun->isEnabled());
    EXPECT_FALSE(w.ckStartWhenRun->isChecked());

    // Override follows a running session; the method never switches watching on or off.
    w.sbManual->click();
    w.cbDetection->setCurrentIndex(0);
    EXPECT_TRUE(w.tOnLine->isActive());
    EXPECT_TRUE(w.sbOverRide->isEnabled());
    w.sbOverRide->click();
    w.sbWatching->click();
    ASSERT_TRUE(w.tWatching->isActive());
    w.cbDetection->setCurrentIndex(1);
    EXPECT_TRUE(w.tWatching->isActive());
    EXPECT_FALSE(w.tOnLine->isActive());
}

TEST_F(Pages, PanelsFollowTheirBoxesAndKeepTheirValues) {
    TfrmTimer w;
    Restore(w);
    const std::pair<QCheckBox*, QFrame*> panels[] = {{w.ckEnableBilling, w.pBilling},
                                                     {w.ckEnablePeak, w.pPeak},
                                                     {w.ckEnableLogging, w.pLogging}};
    w.eFreeHours->setText("7");
    for (const auto& [box, panel] : panels) {
        w.SetActivePage(w.Page("Billing")->isAncestorOf(box) ? "Billing" : "Logging");
        Click(box);
        EXPECT_FALSE(panel->isHidden()) << box->objectName().toStdString();
        Click(box);
        EXPECT_TRUE(panel->isHidden()) << box->objectName().toStdString();
    }
    EXPECT_EQ(w.eFreeHours->text(), "7");
}

TEST_F(Pages, FreeHoursAreAWholeNumberAndChooseThePriceRule) {
    TfrmTimer w;
    Restore(w);
    OpenBilling(w, false);
    QTest::mouseClick(w.eFreeHours, Qt::LeftButton);
    w.eFreeHours->selectAll();
    QTest::keyClick(w.eFreeHours, Qt::Key_Backspace);
    EXPECT_EQ(w.eFreeHours->text(), "0");
    EXPECT_EQ(w.lPricePer->text(), "Price per Minute");
    QTest::keyClick(w.eFreeHours, Qt::Key_End);
    QTest::keyClicks(w.eFreeHours, "5");
    EXPECT_EQ(w.lPricePer->text(), "Price per Extra Hour");
    QTest::keyClicks(w.eFreeHours, "x");
    EXPECT_EQ(w.eFreeHours->text(), "0");
}

TEST_F(Pages, ThePriceIsFormattedAndCannotBeLeftAtZero) {
    struct Case {
        const char* separator;
        const char* freeHours;
        const char* typed;
        const char* shown;
        const char* message; // nullptr: none
    };
    const Case cases[] = {
        {",", "5", "2.5", "2.50", nullptr},
        {",", "5", "abc", "0.00", "\"Price per Extra Hour\" is a required field."},
        {",", "0", "0", "0.00", "\"Price per Minute\" is a required field."},
        {",", "5", "-3", "-3.00", nullptr},
        {",", "5", "1000", "1,000.00", nullptr},
        {",", "5", "1,000.00", "1,000.00", nullptr}, // the field's own writing reads back
        {".", "5", "1234.5", "1.234.50", nullptr},
        {".", "5", "1.234.50", "1.234.50", nullptr},
    };
    TfrmTimer w;
    Restore(w);
    OpenBilling(w, false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Regional().thousandSeparator = c.separator;
        w.eFreeHours->setText(c.freeHours);
        boxes_->shown.clear();
        TypeAndLeave(w.ePrice, c.typed);
        EXPECT_EQ(w.ePrice->text(), c.shown);
        if (c.message) {
            EXPECT_EQ(Texts(), std::vector<QString>{c.message});
            EXPECT_EQ(QApplication::focusWidget(), w.ePrice) << "the focus comes back";
        } else {
            EXPECT_TRUE(Texts().empty());
            EXPECT_NE(QApplication::focusWidget(), w.ePrice);
        }
    }
}

TEST_F(Pages, PeakTimesNeedAClockTimeWithAmOrPm) {
    const std::pair<const char*, bool> cases[] = {
        {"10:00:00 AM", true}, {"10:00 pm", true},     {"10:00:00", false},
        {"10 AM", false},      {"25:00:00 PM", false},
    };
    TfrmTimer w;
    Restore(w);
    OpenBilling(w, true);
    for (QLineEdit* field : {w.eStart, w.eStop}) {
        for (const auto& [typed, accepted] : cases) {
            SCOPED_TRACE(typed);
            w.eStart->setText("08:00:00 AM");
            w.eStop->setText("06:00:00 PM");
            boxes_->shown.clear();
            TypeAndLeave(field, typed);
            EXPECT_EQ(field->text(), typed) << "the text stays as typed";
            EXPECT_EQ(Texts(),
                      accepted ? std::vector<QString>{} : std::vector<QString>{kTimeMessage});
            EXPECT_EQ(QApplication::focusWidget() == field, !accepted);
        }
    }
    // A 24-hour locale takes the AM/PM form too.
    Regional() = *RegionalSettings::FromLocale("de_DE.UTF-8");
    w.eStop->setText("06:00:00 PM");
    w.eStart->setFocus(Qt::OtherFocusReason);
    boxes_->shown.clear();
    TypeAndLeave(w.eStart, "10:00:00 pm");
    EXPECT_TRUE(Texts().empty());
}

// Leaving a wrong start for an empty stop, by mouse or by Tab, and the other way round: one
// message, the focus back on the field left, and no second check of the other field.
TEST_F(Pages, AFailedCheckNeverStartsALoopBetweenTwoFields) {
    TfrmTimer w;
    Restore(w);
    OpenBilling(w, true);
    for (const auto& [from, to] : {std::pair{w.eStart, w.eStop}, std::pair{w.eStop, w.eStart}}) {
        for (bool byMouse : {true, false}) {
            SCOPED_TRACE(from->objectName().toStdString() + (byMouse ? " mouse" : " tab"));
            from->setText("abc");
            to->clear();
            from->setFocus(Qt::OtherFocusReason); // the user is in the field
            boxes_->shown.clear();
            if (byMouse)
                QTest::mouseClick(to, Qt::LeftButton);
            else
                QTest::keyClick(from, from == w.eStart ? Qt::Key_Tab : Qt::Key_Backtab);
            Settle();
            EXPECT_EQ(Texts(), std::vector<QString>{kTimeMessage});
            EXPECT_EQ(QApplication::focusWidget(), from);
        }
    }
    // Each new attempt to leave is told again.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    Settle();
    EXPECT_EQ(boxes_->shown.size(), 2u);
}

TEST_F(Pages, LoadingAProviderNeverRunsTheChecks) {
    Store("Dial Net",
          {{"ckEnableBilling", Variant(true), vkBool},
           {"ckEnablePeak", Variant(true), vkBool},
           {"ePrice", Variant(std::string("0")), vkString},
           {"eStart", Variant(std::string("soon")), vkString}},
          {0, 0, 0, 0}, kToday, true);
    Store("Budget Line", {{"eStop", Variant(std::string("")), vkString}}, {0, 0, 0, 0}, kToday,
          false);
    TfrmTimer w; // the default provider loaded at start-up
    Restore(w);
    EXPECT_EQ(w.ePrice->text(), "0");
    // The focus left in the price field while the page changes and another provider is picked.
    w.SetActivePage("Billing");
    w.ePrice->setFocus(Qt::OtherFocusReason);
    w.SetActivePage("Provider");
    const int index = w.cbProvider->findText("Budget Line");
    w.cbProvider->setCurrentIndex(index);
    emit w.cbProvider->activated(index);
    Settle();
    EXPECT_TRUE(Texts().empty());
    EXPECT_EQ(w.eStart->text(), "soon");
}

TEST_F(Pages, BrowseOffersTheLastNameAndCancelChangesNothing) {
    TfrmTimer w;
    FileDialogScript dialog;
    dialog.Answer(QStringLiteral("/sounds/alarm.WAV"));
    dialog.Answer(std::nullopt);
    dialog.Answer(QStringLiteral("/logs/dial net.TXT"));
    w.eLogFile->setText("/old/log.TXT");
    w.sbWavBrowse->click();
    w.sbLogBrowse->click();
    EXPECT_EQ(w.eLogFile->text(), "/old/log.TXT") << "cancelled";
    w.sbLogBrowse->click();
    EXPECT_EQ(w.eWavAlarm->text(), "/sounds/alarm.WAV");
    EXPECT_EQ(w.eLogFile->text(), "/logs/dial net.TXT");
    ASSERT_EQ(dialog.shown.size(), 3u);
    const FileDialogScript::Shown wav = dialog.shown[0];
    EXPECT_EQ(wav.title, "Wav Alarm");
    EXPECT_EQ(wav.filter, "Wav Files (*.WAV)|*.WAV");
    EXPECT_EQ(wav.defaultExt, "WAV");
    EXPECT_EQ(wav.fileName, "");
    const FileDialogScript::Shown log = dialog.shown[1];
    EXPECT_EQ(log.title, "Log File");
    EXPECT_EQ(log.filter, "Log Files (*.TXT)|*.TXT");
    EXPECT_EQ(log.defaultExt, "TXT");
    EXPECT_EQ(log.fileName, "/sounds/alarm.WAV") << "the name the dialog returned last";
    EXPECT_EQ(dialog.shown[2].fileName, "/sounds/alarm.WAV");
}

TEST_F(Pages, ClearButtonsEmptyTheirFieldAndFollowItOnlyWhenTheMouseMoves) {
    TfrmTimer w;
    Restore(w);
    w.ckEnableBilling->setChecked(true);
    w.ckEnableLogging->setChecked(true);
    struct Panel {
        const char* page;
        QFrame* panel;
        QLineEdit* field;
        QToolButton* clear;
        std::vector<QToolButton*> follow;
    };
    const Panel panels[] = {
        {"Billing", w.pBilling, w.eWavAlarm, w.sbClearWav, {w.sbWavPlay, w.sbClearWav}},
        {"Logging", w.pLogging, w.eLogFile, w.sbClearLog, {w.sbClearLog}},
    };
    for (const Panel& p : panels) {
        SCOPED_TRACE(p.page);
        w.SetActivePage(p.page);
        p.field->setText("/some/file");
        QTest::mouseClick(p.clear, Qt::LeftButton);
        EXPECT_EQ(p.field->text(), "");
        for (QToolButton* button : p.follow)
            EXPECT_TRUE(button->isEnabled()) << "until the mouse moves over the panel";
        for (const auto& [text, enabled] :
             {std::pair{"", false}, std::pair{"   ", false}, std::pair{"/a.wav", true}}) {
            p.field->setText(text);
            QTest::mouseMove(p.panel, QPoint(2, 2));
            for (QToolButton* button : p.follow)
                EXPECT_EQ(button->isEnabled(), enabled) << '"' << text << '"';
            QTest::mouseMove(w.Page(p.page), QPoint(1, 1));
        }
    }
    EXPECT_TRUE(w.ckEnableLogging->isChecked()) << "clearing the log file leaves logging on";
    EXPECT_TRUE(w.sbWavBrowse->isEnabled());
    EXPECT_TRUE(w.sbLogBrowse->isEnabled());
}

TEST_F(Pages, APickedProviderLoadsAndThePagesFollowIt) {
    Store("Dial Net",
          {{"cbDetection", Variant(0), vkInteger},
           {"ckEnableBilling", Variant(true), vkBool},
           {"cbMinimizedTime", Variant(0), vkInteger}},
          {3723, 0, 0, 9000}, kToday, true);
    Store("Budget Line",
          {{"cbDetection", Variant(2), vkInteger},
           {"ckEnableBilling", Variant(false), vkBool},
           {"cbMinimizedTime", Variant(1), vkInteger}},
          {500, 0, 0, 7000}, kToday - 1, false);
    TfrmTimer w;
    // From start-up on, the taskbar shows the chosen timer of the loaded totals.
    EXPECT_EQ(w.ApplicationTitle(), "T: 001:02:03");
    EXPECT_TRUE(w.sbWatching->isEnabled());

    const int index = w.cbProvider->findText("Budget Line");
    w.cbProvider->setCurrentIndex(index);
    emit w.cbProvider->activated(index);
    EXPECT_FALSE(w.sbWatching->isEnabled());
    EXPECT_TRUE(w.sbManual->isEnabled());
    EXPECT_TRUE(w.pBilling->isHidden());
    // Saved yesterday: its Today is yesterday's, so today starts from 0.
    EXPECT_EQ(w.Timers, (TimerSet{false, 0, 0, 0, 7000}));
    EXPECT_EQ(w.ApplicationTitle(), "Tot: 001:56:40");

    w.cbMinimizedTime->setCurrentIndex(0);
    emit w.cbMinimizedTime->activated(0);
    EXPECT_EQ(w.ApplicationTitle(), "T: 000:00:00") << "the choice shows at once";

    w.cbProvider->setCurrentIndex(w.cbProvider->findText("Dial Net"));
    emit w.cbProvider->activated(w.cbProvider->currentIndex());
    EXPECT_EQ(w.Timers.Today, 3723) << "saved today: kept";
}

// Delete loads the default provider, and the pages follow it as after any load.
TEST_F(Pages, AfterDeleteThePagesFollowTheProviderLoaded) {
    Store("Hand Line", {{"cbDetection", Variant(2), vkInteger}}, {0, 0, 0, 0}, kToday, true);
    Store("Modem Line",
          {{"cbDetection", Variant(1), vkInteger}, {"ckEnableBilling", Variant(true), vkBool}},
          {0, 0, 0, 0}, kToday, false);
    TfrmTimer w;
    const int index = w.cbProvider->findText("Modem Line");
    w.cbProvider->setCurrentIndex(index);
    emit w.cbProvider->activated(index);
    ASSERT_FALSE(w.pCOMPort->isHidden());
    boxes_->Answer(mrYes);
    w.btnDelete->click();
    EXPECT_EQ(w.cbProvider->currentText(), "Hand Line");
    EXPECT_EQ(w.cbDetection->currentIndex(), 2);
    EXPECT_TRUE(w.pCOMPort->isHidden());
    EXPECT_FALSE(w.sbWatching->isEnabled());
    EXPECT_TRUE(w.sbManual->isEnabled());
    EXPECT_TRUE(w.ckStartWhenRun->isEnabled());
}

TEST_F(Pages, AboutPausesWatchingWhileItIsOpen) {
    FixedWindowTitles desktop;
    for (bool watching : {true, false}) {
        SCOPED_TRACE(watching);
        TfrmTimer w;
        w.SetWindowTitleSource(desktop);
        w.cbDetection->setCurrentIndex(0);
        if (watching)
            w.sbWatching->click();
        std::optional<bool> watchingWhileOpen;
        QTimer::singleShot(0, w.AboutBox(), [&] {
            watchingWhileOpen = w.tWatching->isActive() || w.sbWatching->isChecked();
            QTest::mouseClick(w.AboutBox()->OKButton, Qt::LeftButton);
        });
        w.AboutUsClick();
        EXPECT_EQ(watchingWhileOpen, false);
        EXPECT_EQ(w.tWatching->isActive(), watching);
        EXPECT_EQ(w.sbWatching->isChecked(), watching);
        EXPECT_FALSE(w.AboutBox()->isVisible());
    }
}

// Without the script: the real note of a failed check is on screen, and the user goes on.
class WhileTheNoteIsUp : public Pages {
protected:
    void SetUp() override {
        Pages::SetUp();
        boxes_.reset();
    }
    static QMessageBox* Note() {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(top);
            if (box && box->isVisible())
                return box;
        }
        return nullptr;
    }
    static int NotesShown() {
        int count = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            count += qobject_cast<QMessageBox*>(top) && top->isVisible();
        return count;
    }
    // A zero price left with Tab: the note is up and the focus is back in the price field.
    void FailThePrice(TfrmTimer& w) {
        Restore(w);
        OpenBilling(w, false);
        TypeAndLeave(w.ePrice, "0");
        QMessageBox* note = Note();
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->windowTitle(), "Information");
        EXPECT_EQ(note->text(), "\"Price per Minute\" is a required field.");
        EXPECT_EQ(w.focusWidget(), w.ePrice);
    }
};

TEST_F(WhileTheNoteIsUp, PreviousNextAndMinimiseGoAhead) {
    const std::pair<const char*, std::function<void(TfrmTimer&)>> actions[] = {
        {"Next", [](TfrmTimer& w) { QTest::mouseClick(w.sbNext, Qt::LeftButton); }},
        {"Previous", [](TfrmTimer& w) { QTest::mouseClick(w.sbPrevious, Qt::LeftButton); }},
        {"Minimise", [](TfrmTimer& w) { w.showMinimized(); }},
    };
    const QString expected[] = {"Logging", "Detection", "Billing"};
    int i = 0;
    for (const auto& [name, act] : actions) {
        SCOPED_TRACE(name);
        TfrmTimer w;
        FailThePrice(w);
        act(w);
        Settle();
        EXPECT_EQ(w.ActivePageName(), expected[i++]);
        EXPECT_EQ(NotesShown(), 1) << "no second note";
        if (std::string(name) == "Minimise") {
            EXPECT_TRUE(w.isMinimized());
        }
        Note()->close();
    }
}

TEST_F(WhileTheNoteIsUp, ExitAndCloseEndTheProgram) {
    for (const bool exitButton : {true, false}) {
        SCOPED_TRACE(exitButton ? "Exit" : "close");
        TfrmTimer w;
        FailThePrice(w);
        QTimer::singleShot(0, &w, [&w, exitButton] {
            if (exitButton)
                QTest::mouseClick(w.Leave, Qt::LeftButton);
            else
                w.close();
        });
        EXPECT_EQ(QApplication::exec(), 0);
        if (!exitButton) {
            EXPECT_FALSE(w.isVisible());
        }
        if (QMessageBox* note = Note())
            note->close();
    }
}

// A first run as a user makes it: the empty window, a new name, every page with Next, each field
// wrong first and then right, Save; the store holds what was typed and the next start loads it.
TEST_F(Pages, AFirstRunWalkedPageByPageToASavedProvider) {
    const std::filesystem::path wav = home_ / "alarm.WAV";
    const std::filesystem::path log = home_ / "dial net.TXT";
    {
        TfrmTimer w;
        EXPECT_TRUE(w.isMinimized());
        EXPECT_TRUE(Texts().empty()) << "the first run says nothing";
        Restore(w);
        EXPECT_EQ(w.ActivePageName(), "Provider");
        QTest::mouseClick(w.cbProvider->lineEdit(), Qt::LeftButton);
        QTest::keyClicks(w.cbProvider->lineEdit(), "Dial Net");
        Click(w.ckSetAsDefault);

        QTest::mouseClick(w.sbNext, Qt::LeftButton); // Detection
        w.cbDetection->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w.cbDetection, Qt::Key_Down); // TCP/IP
        QTest::keyClick(w.cbDetection, Qt::Key_Down); // COM Port
        ASSERT_EQ(w.cbDetection->currentIndex(), 1);
        QTest::keyClick(w.seCOMPort, Qt::Key_Up);

        QTest::mouseClick(w.sbNext, Qt::LeftButton); // Billing
        Click(w.ckEnableBilling);
        TypeAndLeave(w.eFreeHours, "1x");
        EXPECT_EQ(w.eFreeHours->text(), "0");
        TypeAndLeave(w.eFreeHours, "10");
        TypeAndLeave(w.ePrice, "none");
        TypeAndLeave(w.ePrice, "2.5");
        w.seCycleDay->selectAll();
        QTest::keyClicks(w.seCycleDay, "15");
        FileDialogScript dialog;
        dialog.Answer(QString::fromStdString(wav.string()));
        dialog.Answer(QString::fromStdString(log.string()));
        QTest::mouseClick(w.sbWavBrowse, Qt::LeftButton);
        Click(w.ckEnablePeak);
        TypeAndLeave(w.eStart, "8 AM");
        TypeAndLeave(w.eStart, "08:00:00 AM");
        TypeAndLeave(w.eStop, "6:00:00 pm");

        QTest::mouseClick(w.sbNext, Qt::LeftButton); // Logging
        Click(w.ckEnableLogging);
        QTest::mouseClick(w.sbLogBrowse, Qt::LeftButton);

        QTest::mouseClick(w.sbNext, Qt::LeftButton); // Toggles
        Click(w.ckWatchOnRun);
        Click(w.ckStartWhenRun); // Manual only: stays off
        w.cbMinimizedTime->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w.cbMinimizedTime, Qt::Key_Up); // from Elapsed to Total
        EXPECT_EQ(w.ApplicationTitle(), "Tot: 000:00:00");

        QTest::mouseClick(w.sbNext, Qt::LeftButton); // Adjust Timers
        QTest::mouseClick(w.sbNext, Qt::LeftButton); // Timer
        EXPECT_EQ(w.ActivePageName(), "Timer");
        QTest::mouseClick(w.sbSave, Qt::LeftButton);
        EXPECT_EQ(Texts(), (std::vector<QString>{"\"Price per Extra Hour\" is a required field.",
                                                 kTimeMessage,
                                                 "Provider settings have been saved to the "
                                                 "Registry."}));
        w.tWatching->stop();
    }
    const auto stored = [](const char* name, int kind) {
        Variant value;
        ReadValueByPath(RootKey::LocalMachine, ProviderKeyPath("Dial Net") + name, kind, value);
        return value;
    };
    EXPECT_EQ(stored("cbDetection", vkInteger).toInt(), 1);
    EXPECT_EQ(stored("seCOMPort", vkInteger).toInt(), 2);
    EXPECT_TRUE(stored("ckEnableBilling", vkBool).toBool());
    EXPECT_EQ(stored("eFreeHours", vkString).toString(), "10");
    EXPECT_EQ(stored("ePrice", vkString).toString(), "2.50");
    EXPECT_EQ(stored("seCycleDay", vkInteger).toInt(), 15);
    EXPECT_EQ(stored("eWavAlarm", vkString).toString(), wav.string());
    EXPECT_TRUE(stored("ckEnablePeak", vkBool).toBool());
    EXPECT_EQ(stored("eStart", vkString).toString(), "08:00:00 AM");
    EXPECT_EQ(stored("eStop", vkString).toString(), "6:00:00 pm");
    EXPECT_TRUE(stored("ckEnableLogging", vkBool).toBool());
    EXPECT_EQ(stored("eLogFile", vkString).toString(), log.string());
    EXPECT_TRUE(stored("ckWatchOnRun", vkBool).toBool());
    EXPECT_FALSE(stored("ckStartWhenRun", vkBool).toBool());
    EXPECT_EQ(stored("cbMinimizedTime", vkInteger).toInt(), 1);
    EXPECT_EQ(ReadLastSaveDate("Dial Net"), kToday);
    EXPECT_EQ(StoredDefaultProvider(), "Dial Net");

    boxes_->shown.clear();
    TfrmTimer next;
    EXPECT_TRUE(Texts().empty());
    EXPECT_EQ(next.cbProvider->currentText(), "Dial Net");
    EXPECT_EQ(next.cbDetection->currentIndex(), 1);
    EXPECT_FALSE(next.pCOMPort->isHidden());
    EXPECT_EQ(next.ePrice->text(), "2.50");
    EXPECT_EQ(next.lPricePer->text(), "Price per Extra Hour");
    EXPECT_FALSE(next.pPeak->isHidden());
    EXPECT_EQ(next.eLogFile->text(), QString::fromStdString(log.string()));
    EXPECT_TRUE(next.tWatching->isActive()) << "watching on start, as the toggle says";
    EXPECT_EQ(next.ApplicationTitle(), "Tot: 000:00:00");
    next.tWatching->stop();
}

} // namespace
