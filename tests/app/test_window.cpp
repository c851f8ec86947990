// The main window as the user meets it: every control of every page, the toolbar, the timers
// and icons, the taskbar text, the minimised start, Exit and the lock while watching.
#include "app/about.h"
#include "app/drawn_pictures.h"
#include "app/icons.h"
#include "app/save_dialog.h"
#include "app/timer.h"
#include "core/regional.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGlyphRun>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <optional>

using namespace quorvane;

namespace {

enum class Kind {
    Edit,
    ReadOnlyEdit,
    EditableCombo,
    DropDown,
    Spin,
    Check,
    Label,
    Button,
    Tool,
    Radio,
    Panel,
    Group
};

struct Limits {
    int minimum;
    int maximum;
    int value;
};

struct Row {
    const char* page;
    const char* name;
    Kind kind;
    const char* text = nullptr; // caption, text, or group title
    QStringList items = {};
    std::optional<Limits> limits = {};
    bool hidden = false;
    bool disabled = false;
    bool checked = false;
    int maxLength = -1;
    bool arrowsOnly = false;
    int selected = -1; // a drop-down list's selected entry
};

const QString kZero = QStringLiteral("000:00:00");

// Every control of the seven pages with what it shows after a start with an empty store: no
// provider, so no detection method, which counts as Manual.
const std::vector<Row>& ControlTable() {
    static const std::vector<Row> rows = {
        {"Provider", "Label2", Kind::Label, "Click the box below to select an existing Provider."},
        {"Provider", "Label3", Kind::Label,
         "Use the Next and Previous buttons to change any settings and Apply to save them."},
        {"Provider", "Label4", Kind::Label,
         "To add a new Provider, type-in their name and click the Next button."},
        {"Provider", "Label11", Kind::Label, "Provider's Name"},
        {"Provider", "cbProvider", Kind::EditableCombo, ""},
        {"Provider", "btnDelete", Kind::Button, "&Delete"},
        {"Provider", "ckSetAsDefault", Kind::Check, "Set as Default"},
        {"Provider", "btnSave", Kind::Button, "&Save"},

        {"Detection", "Detect1", Kind::Label,
         "Click the box below to select how you wish to detect whether your computer is "
         "connected to the Internet."},
        {"Detection", "Label10", Kind::Label, "Detection Method"},
        {"Detection",
         "cbDetection",
         Kind::DropDown,
         nullptr,
         {"TCP/IP", "COM Port", "Manual", "Network Interface"}},
        {"Detection", "lProvider", Kind::Label, "Seek Text", {}, {}, true},
        {"Detection", "cbProv", Kind::EditableCombo, "", {}, {}, true},
        {"Detection", "pCOMPort", Kind::Panel, nullptr, {}, {}, true},
        {"Detection",
         "seCOMPort",
         Kind::Spin,
         nullptr,
         {},
         Limits{1, 4, 1},
         false,
         false,
         false,
         1,
         true},
        {"Detection",
         "seDelayMin",
         Kind::Spin,
         nullptr,
         {},
         Limits{0, 59, 0},
         false,
         false,
         false,
         -1,
         true},
        {"Detection",
         "seDelaySec",
         Kind::Spin,
         nullptr,
         {},
         Limits{0, 59, 0},
         false,
         false,
         false,
         2,
         true},
        {"Detection", "pInterface", Kind::Panel, nullptr, {}, {}, true},
        {"Detection", "lInterface", Kind::Label, "Interface or Connection"},
        {"Detection", "eInterface", Kind::EditableCombo, ""},

        {"Billing", "ckEnableBilling", Kind::Check, "Enable Billing"},
        {"Billing", "pBilling", Kind::Panel, nullptr, {}, {}, true},
        {"Billing", "Label9", Kind::Label, "Free Hours"},
        {"Billing", "eFreeHours", Kind::Edit, "0", {}, {}, false, false, false, 3},
        {"Billing", "lPricePer", Kind::Label, "Price per Extra Hour"},
        {"Billing", "lCurrency", Kind::Label, "$"},
        {"Billing", "ePrice", Kind::Edit, "0.00"},
        {"Billing", "Label13", Kind::Label, "Cycle Day"},
        {"Billing", "seCycleDay", Kind::Spin, nullptr, {}, Limits{0, 31, 0}},
        {"Billing", "Label8", Kind::Label, "WAV Alarm"},
        {"Billing", "eWavAlarm", Kind::ReadOnlyEdit, ""},
        {"Billing", "sbWavBrowse", Kind::Tool, "..."},
        {"Billing", "sbWavPlay", Kind::Tool},
        {"Billing", "sbClearWav", Kind::Tool},
        {"Billing", "ckEnablePeak", Kind::Check, "Enable Peak Period"},
        {"Billing", "pPeak", Kind::Panel, nullptr, {}, {}, true},
        {"Billing", "Label15", Kind::Label, "Start"},
        {"Billing", "eStart", Kind::Edit, ""},
        {"Billing", "Label20", Kind::Label, "Stop"},
        {"Billing", "eStop", Kind::Edit, ""},
        {"Billing", "pDataAllowance", Kind::Panel},
        {"Billing", "lblDataAllowance", Kind::Label, "Data Allowance"},
        {"Billing", "eDataAllowance", Kind::Edit, "", {}, {}, false, false, false, 32767},
        {"Billing", "lblDataMB", Kind::Label, "MB per billing cycle (empty: none)"},
        {"Billing", "ckDataRxOnly", Kind::Check, "Count received data only"},

        {"Logging", "Label14", Kind::Label,
         "Logging allows you to keep a running record of times, charges, and activity."},
        {"Logging", "ckEnableLogging", Kind::Check, "Enable Logging"},
        {"Logging", "pLogging", Kind::Panel, nullptr, {}, {}, true},
        {"Logging", "Label16", Kind::Label, "Log file path and name"},
        {"Logging", "eLogFile", Kind::ReadOnlyEdit, ""},
        {"Logging", "sbLogBrowse", Kind::Tool, "..."},
        {"Logging", "sbClearLog", Kind::Tool},

        {"Toggles", "ckStartWhenRun", Kind::Check, "Start Timer when Run (Manual detection only)"},
        {"Toggles", "ckCloseOnDisconnect", Kind::Check,
         "Close Quorvane on disconnect (Manual detection only)"},
        {"Toggles", "ckWatchOnRun", Kind::Check, "Watching enabled when Run", {}, {}, false, true},
        {"Toggles",
         "ckColoredIconWatching",
         Kind::Check,
         "Colored Icon for Watching",
         {},
         {},
         false,
         true},
        {"Toggles", "Label28", Kind::Label, "Timer to display when minimize"},
        // The taskbar text shows Elapsed when nothing is chosen, and says so here.
        {.page = "Toggles",
         .name = "cbMinimizedTime",
         .kind = Kind::DropDown,
         .items = {"Today", "Total", "Elapsed"},
         .selected = 2},

        {"Adjust Timers", "gbAvailableTimers", Kind::Group, "Available Timers"},
        {"Adjust Timers", "rbToday", Kind::Radio, "Today", {}, {}, false, false, true},
        {"Adjust Timers", "rbTotalTime", Kind::Radio, "Total Time"},
        {"Adjust Timers", "rbInsidePeak", Kind::Radio, "Inside Peak Period"},
        {"Adjust Timers", "rbOutsidePeak", Kind::Radio, "Outside Peak Period"},
        {"Adjust Timers", "gbAdjustTimers", Kind::Group, "Adjust Timers"},
        {"Adjust Timers", "lCurrValue", Kind::Label, "000:00:00"},
        {"Adjust Timers", "lAdjValue", Kind::Label, "000:00:00"},
        {"Adjust Timers",
         "seAdjHour",
         Kind::Spin,
         nullptr,
         {},
         Limits{-999, 999, 0},
         false,
         false,
         false,
         4},
        {"Adjust Timers",
         "seAdjMin",
         Kind::Spin,
         nullptr,
         {},
         Limits{-999, 999, 0},
         false,
         false,
         false,
         4},
        {"Adjust Timers", "btnReset", Kind::Button, "&Reset"},
        {"Adjust Timers", "btnAdjust", Kind::Button, "&Adjust", {}, {}, false, true},
        {"Adjust Timers", "btnClearAll", Kind::Button, "&Clear All"},

        {"Timer", "gbCurrent", Kind::Group, "Current Time"},
        {"Timer", "lCurrent", Kind::Label, "000:00:00"},
        {"Timer", "gbStart", Kind::Group, "Start Time"},
        {"Timer", "lStart", Kind::Label, "000:00:00"},
        {"Timer", "gbElapsed", Kind::Group, "Elapsed Time"},
        {"Timer", "lElapsed", Kind::Label, "000:00:00"},
        {"Timer", "gbCharges", Kind::Group, "Total Charges"},
        {"Timer", "lCharges", Kind::Label, "$0.00"},
        {"Timer", "gbToday", Kind::Group, "Today"},
        {"Timer", "lToday", Kind::Label, "000:00:00"},
        {"Timer", "gbTotalTime", Kind::Group, "Total Time"},
        {"Timer", "lTotalTime", Kind::Label, "000:00:00"},
        {"Timer", "gbInsidePeak", Kind::Group, "Inside Peak Period"},
        {"Timer", "lInsidePeak", Kind::Label, "000:00:00"},
        {"Timer", "gbOutsidePeak", Kind::Group, "Outside Peak Period"},
        {"Timer", "lOutsidePeak", Kind::Label, "000:00:00"},
        // Shown with the Network Interface method only.
        {"Timer", "gbDataToday", Kind::Group, "Data Today", {}, {}, true},
        {"Timer", "lDataToday", Kind::Label, "0 B"},
        {"Timer", "gbDataTotal", Kind::Group, "Data Total", {}, {}, true},
        {"Timer", "lDataTotal", Kind::Label, "0 B"},
        {"Timer", "gbDataAllowance", Kind::Group, "Data Allowance", {}, {}, true},
        {"Timer", "lDataAllowance", Kind::Label, "0 B"},
    };
    return rows;
}

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// The text a control of the given kind shows; nullopt when the control is not of that kind.
std::optional<QString> TextAs(QObject* control, Kind kind) {
    switch (kind) {
    case Kind::Edit:
    case Kind::ReadOnlyEdit: {
        auto* edit = qobject_cast<QLineEdit*>(control);
        if (!edit || edit->isReadOnly() != (kind == Kind::ReadOnlyEdit))
            return std::nullopt;
        return edit->text();
    }
    case Kind::EditableCombo:
    case Kind::DropDown: {
        auto* combo = qobject_cast<QComboBox*>(control);
        if (!combo || combo->isEditable() != (kind == Kind::EditableCombo))
            return std::nullopt;
        return combo->currentText();
    }
    case Kind::Spin: {
        auto* spin = qobject_cast<QSpinBox*>(control);
        return spin ? std::optional(spin->text()) : std::nullopt;
    }
    case Kind::Check: {
        auto* box = qobject_cast<QCheckBox*>(control);
        return box ? std::optional(box->text()) : std::nullopt;
    }
    case Kind::Label: {
        auto* label = qobject_cast<QLabel*>(control);
        return label ? std::optional(label->text()) : std::nullopt;
    }
    case Kind::Button: {
        auto* button = qobject_cast<QPushButton*>(control);
        return button ? std::optional(button->text()) : std::nullopt;
    }
    case Kind::Tool: {
        auto* button = qobject_cast<QToolButton*>(control);
        return button ? std::optional(button->text()) : std::nullopt;
    }
    case Kind::Radio: {
        auto* button = qobject_cast<QRadioButton*>(control);
        return button ? std::optional(button->text()) : std::nullopt;
    }
    case Kind::Group: {
        auto* group = qobject_cast<QGroupBox*>(control);
        return group ? std::optional(group->title()) : std::nullopt;
    }
    case Kind::Panel: {
        auto* frame = qobject_cast<QFrame*>(control);
        if (!frame || qobject_cast<QLabel*>(control))
            return std::nullopt;
        return QString();
    }
    }
    return std::nullopt;
}

class Window : public ::testing::Test {
protected:
    // The window's currency comes from the regional settings, which tests set directly.
    void SetUp() override { Regional() = RegionalSettings{}; }
};

TEST_F(Window, EveryControlExistsOnItsPageAsDesigned) {
    TfrmTimer w;
    for (const Row& row : ControlTable()) {
        SCOPED_TRACE(row.name);
        QObject* found = w.FindComponent(QString::fromLatin1(row.name));
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->objectName(), QString::fromLatin1(row.name));
        auto* widget = qobject_cast<QWidget*>(found);
        ASSERT_NE(widget, nullptr);
        QWidget* page = w.Page(QString::fromLatin1(row.page));
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(page->isAncestorOf(widget));

        const std::optional<QString> text = TextAs(found, row.kind);
        ASSERT_TRUE(text.has_value()) << "wrong kind";
        if (row.text) {
            EXPECT_EQ(*text, QString::fromUtf8(row.text));
        }
        if (auto* combo = qobject_cast<QComboBox*>(found)) {
            EXPECT_EQ(Items(combo), row.items);
            EXPECT_EQ(combo->currentIndex(), row.selected);
        }
        if (row.limits) {
            auto* spin = qobject_cast<QSpinBox*>(found);
            EXPECT_EQ(spin->minimum(), row.limits->minimum);
            EXPECT_EQ(spin->maximum(), row.limits->maximum);
            EXPECT_EQ(spin->value(), row.limits->value);
        }
        if (row.maxLength > 0) {
            auto* edit = qobject_cast<QLineEdit*>(found);
            if (!edit)
                edit = found->findChild<QLineEdit*>();
            ASSERT_NE(edit, nullptr);
            EXPECT_EQ(edit->maxLength(), row.maxLength);
        }
        EXPECT_EQ(widget->isHidden(), row.hidden);
        EXPECT_EQ(widget->isEnabled(), !row.disabled);
        if (auto* button = qobject_cast<QAbstractButton*>(found); button && button->isCheckable()) {
            EXPECT_EQ(button->isChecked(), row.checked);
        }
    }
}

TEST_F(Window, SettingControlsComeInTheOrderProfilesAreStored) {
    TfrmTimer w;
    QStringList stored;
    for (QObject* component : w.components) {
        if (qobject_cast<QLineEdit*>(component) || qobject_cast<QComboBox*>(component) ||
            qobject_cast<QCheckBox*>(component) || qobject_cast<QSpinBox*>(component))
            stored << component->objectName();
    }
    const QStringList expected = {"cbProvider",
                                  "ckSetAsDefault",
                                  "cbDetection",
                                  "seCOMPort",
                                  "seDelayMin",
                                  "seDelaySec",
                                  "cbProv",
                                  "ckEnableBilling",
                                  "ePrice",
                                  "eFreeHours",
                                  "eWavAlarm",
                                  "seCycleDay",
                                  "ckEnablePeak",
                                  "eStart",
                                  "eStop",
                                  "ckEnableLogging",
                                  "eLogFile",
                                  "ckStartWhenRun",
                                  "ckCloseOnDisconnect",
                                  "cbMinimizedTime",
                                  "ckWatchOnRun",
                                  "ckColoredIconWatching",
                                  "seAdjHour",
                                  "seAdjMin",
                                  "eInterface",
                                  "eDataAllowance",
                                  "ckDataRxOnly"};
    EXPECT_EQ(stored, expected);
}

TEST_F(Window, ComponentsAreUniqueAndFoundByNameInAnyLetterCase) {
    TfrmTimer w;
    QSet<QString> names;
    for (QObject* component : w.components) {
        EXPECT_FALSE(component->objectName().isEmpty());
        EXPECT_FALSE(names.contains(component->objectName().toLower()))
            << component->objectName().toStdString();
        names.insert(component->objectName().toLower());
    }
    EXPECT_EQ(w.FindComponent("EPRICE"), w.ePrice);
    EXPECT_EQ(w.FindComponent("tonline"), w.tOnLine);
    EXPECT_EQ(w.FindComponent("sdBrowse"), w.sdBrowse);
    EXPECT_EQ(w.FindComponent("eProv"), nullptr);
    EXPECT_EQ(w.FindComponent(""), nullptr);
}

TEST_F(Window, ToolbarButtonsCarryTheirHints) {
    TfrmTimer w;
    const std::vector<std::tuple<QToolButton*, const char*, bool>> buttons = {
        {w.sbPrevious, "Previous", false},
        {w.sbNext, "Next", false},
        {w.sbWatching, "Watching On/Off", true},
        {w.sbOverRide, "Override Automatic Detection", false},
        {w.Ask4Help, "Help", false},
        {w.AboutUs, "About", false},
        {w.Leave, "Exit", false},
        {w.sbManual, "Manual Start/Stop", true},
        {w.sbSave, "Save provider settings", false},
    };
    for (const auto& [button, hint, latching] : buttons) {
        SCOPED_TRACE(hint);
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(hint));
        EXPECT_EQ(button->isCheckable(), latching);
        EXPECT_FALSE(button->isChecked());
        EXPECT_FALSE(w.nbMain->isAncestorOf(button));
    }
    EXPECT_EQ(w.sbLogBrowse->toolTip(), "Find/Create Log File");
    EXPECT_EQ(w.sbClearLog->toolTip(), "Clear Log File (Disable)");
    EXPECT_EQ(w.btnAdjust->toolTip(), "Increase selected timer by adjustment values");
    EXPECT_EQ(w.btnClearAll->toolTip(), "Clear all timers");
    EXPECT_TRUE(w.sbWavBrowse->font().bold());
    EXPECT_FALSE(w.sbWavPlay->icon().isNull());
    EXPECT_FALSE(w.sbOverRide->isEnabled());
}

// The pictures are looked up when first drawn, not at start: they are still the style's own, in
// every mode a button draws them.
TEST_F(Window, ButtonsShowTheStylesStandardPictures) {
    TfrmTimer w;
    const std::pair<QToolButton*, QStyle::StandardPixmap> buttons[] = {
        {w.sbPrevious, QStyle::SP_ArrowLeft},
        {w.sbNext, QStyle::SP_ArrowRight},
        {w.sbWatching, QStyle::SP_DriveNetIcon},
        {w.sbOverRide, QStyle::SP_BrowserStop},
        {w.sbManual, QStyle::SP_MediaPlay},
        {w.sbSave, QStyle::SP_DialogSaveButton},
        {w.Ask4Help, QStyle::SP_TitleBarContextHelpButton},
        {w.AboutUs, QStyle::SP_MessageBoxInformation},
        {w.Leave, QStyle::SP_DialogCloseButton},
        {w.sbWavPlay, QStyle::SP_MediaPlay},
        {w.sbClearWav, QStyle::SP_DialogDiscardButton},
        {w.sbClearLog, QStyle::SP_DialogDiscardButton},
    };
    for (const auto& [button, which] : buttons) {
        SCOPED_TRACE(button->objectName().toStdString());
        const QIcon expected = w.style()->standardIcon(which);
        const QIcon shown = button->icon();
        EXPECT_FALSE(shown.isNull());
        for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active})
            EXPECT_EQ(shown.pixmap(QSize(20, 20), mode).toImage(),
                      expected.pixmap(QSize(20, 20), mode).toImage());
        EXPECT_EQ(shown.availableSizes(), expected.availableSizes());
    }
}

TEST_F(Window, NotebookHasSevenPagesInOrderAndShowsProvider) {
    TfrmTimer w;
    const QStringList names = {"Provider", "Detection",     "Billing", "Logging",
                               "Toggles",  "Adjust Timers", "Timer"};
    ASSERT_EQ(w.nbMain->count(), names.size());
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(w.nbMain->widget(i)->objectName(), names[i]);
    EXPECT_EQ(w.ActivePageName(), "Provider");
    EXPECT_EQ(w.Page("adjust timers"), w.pgAdjustTimers);
    EXPECT_EQ(w.Page("Settings"), nullptr);

    // The large headings; "Timer" has none.
    const QStringList headings = {"Provider", "Detection",          "Billing",
                                  "Logging",  "Toggles / Settings", "Adjust Timers"};
    for (int i = 0; i < headings.size(); ++i) {
        bool found = false;
        for (auto* label : w.nbMain->widget(i)->findChildren<QLabel*>())
            found = found || (label->text() == headings[i] && label->font().bold());
        EXPECT_TRUE(found) << headings[i].toStdString();
    }

    w.SetActivePage("Timer");
    EXPECT_EQ(w.nbMain->currentWidget(), w.pgTimer);
}

TEST_F(Window, AdjustTimersPageTexts) {
    TfrmTimer w;
    QStringList texts;
    for (auto* label : w.pgAdjustTimers->findChildren<QLabel*>())
        texts << label->text();
    for (const char* expected :
         {"Select a timer you wish to adjust.",
          "Use the up and down arrows to adjust the Hours/Minutes.  You can select a number from "
          "999 through -999.  However, you cannot save a negative time.",
          "The Adjusted Value indicates what the timer would be, including it's current value.",
          "Current Value: ", "Adjusted Value:", "Hours", "Minutes"})
        EXPECT_TRUE(texts.contains(QString::fromLatin1(expected))) << expected;
}

TEST_F(Window, TogglesCarryTag99AndTheTimersAreStopped) {
    TfrmTimer w;
    for (QCheckBox* box :
         {w.ckStartWhenRun, w.ckCloseOnDisconnect, w.ckWatchOnRun, w.ckColoredIconWatching})
        EXPECT_EQ(Tag(box), 99) << box->objectName().toStdString();
    EXPECT_EQ(Tag(w.ckEnableBilling), 0);
    EXPECT_EQ(Tag(w.tOnLine), 0);
    SetTag(w.tOnLine, 1);
    EXPECT_EQ(Tag(w.tOnLine), 1);

    for (QTimer* timer : {w.tOnLine, w.tWatching}) {
        EXPECT_EQ(timer->interval(), 1000);
        EXPECT_FALSE(timer->isActive());
        EXPECT_NE(std::find(w.components.begin(), w.components.end(), timer), w.components.end());
    }
    EXPECT_NE(w.mpWav, nullptr);
    EXPECT_EQ(w.sdBrowse->Filter, "Wav Files (*.WAV)|*.WAV");
    EXPECT_EQ(w.sdBrowse->DefaultExt, "WAV");
}

TEST_F(Window, ElapsedReadOutStartsRed) {
    TfrmTimer w;
    EXPECT_EQ(w.lElapsed->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(w.lElapsed->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
}

TEST_F(Window, CurrencyLabelFollowsTheRegionalSettings) {
    Regional().currencyString = "€";
    TfrmTimer w;
    EXPECT_EQ(w.lCurrency->text(), QString::fromUtf8("€"));
}

// The window lays its own captions out without the OpenType shaper (it measures hundreds of them
// at start); a text that needs the shaper keeps it. Arabic without it comes out unjoined: typed
// into a field, shown as the locale's currency, it must come out as with the shaper.
TEST_F(Window, ArabicIsJoinedWhereTheCaptionsGoWithoutTheShaper) {
    const QString arabic = QString::fromUtf8("مرحبا");
    const auto glyphs = [](const QString& text, const QFont& font) {
        QTextLayout layout(text, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        QList<quint32> indexes;
        for (const QGlyphRun& run : layout.glyphRuns())
            indexes += run.glyphIndexes();
        return indexes;
    };
    QFont withoutShaper = QApplication::font();
    withoutShaper.setStyleStrategy(QFont::PreferNoShaping);
    const QList<quint32> joined = glyphs(arabic, QApplication::font());
    if (joined == glyphs(arabic, withoutShaper))
        GTEST_SKIP() << "no font on this machine has Arabic's joined forms";

    Regional().currencyString = "ر.س";
    TfrmTimer w;
    EXPECT_TRUE(w.Label11->font().styleStrategy() & QFont::PreferNoShaping);
    EXPECT_TRUE(w.ckSetAsDefault->font().styleStrategy() & QFont::PreferNoShaping);
    EXPECT_TRUE(w.cbProvider->lineEdit()->font().styleStrategy() & QFont::PreferNoShaping);

    w.cbProvider->setEditText(arabic);
    EXPECT_EQ(glyphs(arabic, w.cbProvider->lineEdit()->font()), joined);
    w.eLogFile->setText(QStringLiteral("/home/") + arabic + QStringLiteral(".log"));
    EXPECT_EQ(glyphs(arabic, w.eLogFile->font()), joined);
    const QString currency = QString::fromUtf8("ر.س");
    EXPECT_EQ(w.lCurrency->text(), currency);
    EXPECT_EQ(glyphs(currency, w.lCurrency->font()), glyphs(currency, QApplication::font()));
    // The drop-down list of names lays out with the shaper.
    w.cbProvider->addItem(arabic);
    w.cbProvider->showPopup();
    EXPECT_EQ(glyphs(arabic, w.cbProvider->view()->font()), joined);
    w.cbProvider->hidePopup();
    // A Latin name again: the field goes back to the cheaper layout.
    w.cbProvider->setEditText(QStringLiteral("Northern Lights"));
    EXPECT_TRUE(w.cbProvider->lineEdit()->font().styleStrategy() & QFont::PreferNoShaping);
}

QRgb CentreOf(const QPixmap& pixmap) {
    return pixmap.toImage().pixel(8, 8);
}

TEST_F(Window, LampsAreGreenAndRedAndBecomeTheProgramsIcon) {
    TfrmTimer w;
    ASSERT_EQ(w.ilIcons->Count(), 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(w.ilIcons->Pixmap(i).size(), QSize(16, 16));
    const QRgb green = CentreOf(w.ilIcons->Pixmap(0));
    const QRgb red = CentreOf(w.ilIcons->Pixmap(1));
    EXPECT_GT(qGreen(green), 2 * qRed(green));
    EXPECT_GT(qRed(red), 2 * qGreen(red));

    for (int index : {0, 1}) {
        w.SetStateIcon(index);
        const QRgb shown = CentreOf(w.windowIcon().pixmap(16, 16));
        EXPECT_EQ(shown, CentreOf(w.ilIcons->Pixmap(index)));
        EXPECT_EQ(CentreOf(QApplication::windowIcon().pixmap(16, 16)), shown);
        EXPECT_EQ(CentreOf(w.TrayIcon()->icon().pixmap(16, 16)), shown);
    }
    w.SetStateIcon(7);
    EXPECT_EQ(CentreOf(w.windowIcon().pixmap(16, 16)), red);
}

// The build keeps the pictures a start shows in the program: each must be the picture the
// drawing code draws, pixel for pixel, and a picture the build did not keep is drawn on demand.
TEST_F(Window, PicturesKeptByTheBuildAreTheDrawnOnes) {
    const auto same = [](const QPixmap& kept, const QImage& drawn) {
        return kept.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) ==
               drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    QStringList kept;
    for (const DrawnPicture& picture : DrawnPictures())
        kept << QString::fromLatin1(picture.name);
    EXPECT_EQ(kept, (QStringList{"program-16", "program-32", "program-48", "lamp-00c800",
                                 "lamp-dc0000"}));
    for (int size : kProgramIconSizes)
        EXPECT_TRUE(same(ProgramPixmap(size), ProgramImage(size))) << size;
    for (const QColor& colour : {kLampOnline, kLampOffline})
        EXPECT_TRUE(same(LampPixmap(colour), LampImage(colour))) << colour.name().toStdString();
    EXPECT_TRUE(same(ProgramPixmap(24), ProgramImage(24)));
    EXPECT_TRUE(same(LampPixmap(Qt::blue), LampImage(Qt::blue)));
    EXPECT_EQ(ProgramIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
}

TEST_F(Window, CaptionAndTaskbarText) {
    TfrmTimer w;
    EXPECT_EQ(w.windowTitle(), "Quorvane v4.9");
    // "Quorvane v.48" is only the starting title: start-up puts the chosen timer in its place.
    EXPECT_EQ(w.ApplicationTitle(), "E: 000:00:00");
    EXPECT_EQ(w.windowIconText(), "E: 000:00:00");
    EXPECT_EQ(w.TrayIcon()->toolTip(), "E: 000:00:00");

    w.SetApplicationTitle("T: 001:00:00");
    EXPECT_EQ(w.windowIconText(), "T: 001:00:00");
    EXPECT_EQ(w.TrayIcon()->toolTip(), "T: 001:00:00");
    EXPECT_EQ(w.windowTitle(), "Quorvane v4.9");
}

TEST_F(Window, FixedSingleBorderWithoutMaximise) {
    TfrmTimer w;
    const Qt::WindowFlags flags = w.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    // Room for every page with all its panels shown.
    for (QWidget* panel : {static_cast<QWidget*>(w.pBilling), static_cast<QWidget*>(w.pPeak)})
        panel->show();
    EXPECT_LE(w.pgBilling->sizeHint().height(), w.nbMain->height());
}

TEST_F(Window, StartsMinimisedAndRestoringShowsTheWindow) {
    TfrmTimer w;
    EXPECT_TRUE(w.isMinimized());
    // The About box and the help viewer are made when first asked for.
    EXPECT_EQ(w.findChild<TAboutBox*>(), nullptr);
    EXPECT_EQ(w.HelpViewer(), nullptr);
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top != &w) {
            EXPECT_FALSE(top->isVisible()) << top->objectName().toStdString();
        }
    }

    // Restored from the taskbar.
    w.setWindowState(Qt::WindowNoState);
    EXPECT_FALSE(w.isMinimized());
    EXPECT_TRUE(w.isVisible());

    // Minimised again and restored from the tray icon.
    w.showMinimized();
    ASSERT_TRUE(w.isMinimized());
    emit w.TrayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(w.isMinimized());
    EXPECT_TRUE(w.isVisible());
}

TEST_F(Window, WhileWatchingTheSixButtonsAreLockedOnEveryPage) {
    TfrmTimer w;
    w.OnRestore();
    const std::vector<QWidget*> locked = {w.btnSave, w.sbSave, w.btnDelete,
                                          w.AboutUs, w.sbNext, w.sbPrevious};
    w.cbDetection->setCurrentIndex(0); // watching needs a method other than Manual
    for (int page = 0; page < w.nbMain->count(); ++page) {
        w.nbMain->setCurrentIndex(page);
        QTest::mouseClick(w.sbWatching, Qt::LeftButton);
        ASSERT_TRUE(w.sbWatching->isChecked());
        w.LockWhileWatching();
        for (QWidget* control : locked)
            EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
        EXPECT_TRUE(w.Leave->isEnabled());
        EXPECT_TRUE(w.Ask4Help->isEnabled());

        QTest::mouseClick(w.sbWatching, Qt::LeftButton);
        ASSERT_FALSE(w.sbWatching->isChecked());
        w.LockWhileWatching();
        for (QWidget* control : locked)
            EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
    }
}

TEST_F(Window, ArrowsOnlySpinEditsIgnoreTypingButStepWithTheArrows) {
    TfrmTimer w;
    w.OnRestore();
    w.SetActivePage("Detection");
    w.pCOMPort->show();

    QTest::keyClicks(w.seCOMPort, "3");
    EXPECT_EQ(w.seCOMPort->value(), 1);
    QTest::keyClick(w.seCOMPort, Qt::Key_Up);
    EXPECT_EQ(w.seCOMPort->value(), 2);
    QTest::keyClick(w.seDelaySec, Qt::Key_Down);
    EXPECT_EQ(w.seDelaySec->value(), 0);
    QTest::keyClick(w.seDelaySec, Qt::Key_Up);
    EXPECT_EQ(w.seDelaySec->value(), 1);

    // The cycle day and the adjustments take typed numbers.
    w.SetActivePage("Billing");
    w.pBilling->show();
    w.seCycleDay->selectAll();
    QTest::keyClicks(w.seCycleDay, "15");
    EXPECT_EQ(w.seCycleDay->value(), 15);
    w.SetActivePage("Adjust Timers");
    w.seAdjHour->selectAll();
    QTest::keyClicks(w.seAdjHour, "-999");
    EXPECT_EQ(w.seAdjHour->value(), -999);
}

TEST_F(Window, ProviderNamesAreTypedNotCompletedOrCollected) {
    TfrmTimer w;
    w.OnRestore();
    w.cbProvider->addItems({"Dial Net", "Other"});
    w.cbProvider->setCurrentIndex(-1);
    w.cbProvider->setEditText(QString());
    QTest::keyClicks(w.cbProvider, "Dial");
    EXPECT_EQ(w.cbProvider->currentText(), "Dial");
    QTest::keyClick(w.cbProvider, Qt::Key_Return);
    EXPECT_EQ(w.cbProvider->count(), 2);
    EXPECT_EQ(w.cbProvider->currentText(), "Dial");
}

// Counts the close events a window receives: Exit must not send one.
class CloseCounter : public QObject {
public:
    int closes = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close)
            ++closes;
        return false;
    }
};

TEST_F(Window, ExitEndsTheEventLoopWithoutTheCloseSteps) {
    TfrmTimer w;
    w.OnRestore();
    CloseCounter counter;
    w.installEventFilter(&counter);
    // A session is running when the user exits.
    w.tOnLine->start();

    QTimer::singleShot(0, &w, [&w] { QTest::mouseClick(w.Leave, Qt::LeftButton); });
    const int status = QApplication::exec();

    EXPECT_EQ(status, 0);
    EXPECT_EQ(counter.closes, 0);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.tOnLine->isActive());
    w.tOnLine->stop();
}

} // namespace
