#include "app/timer.h"

#include "accounting/session_tick.h"
#include "app/about.h"
#include "app/alarm_player.h"
#include "app/caption_font.h"
#include "app/help_viewer.h"
#include "app/icons.h"
#include "app/list_combo.h"
#include "app/messages.h"
#include "app/notifier.h"
#include "app/profile_form.h"
#include "app/save_dialog.h"
#include "app/session_keeper.h"
#include "app/store_messages.h"
#include "app/x11_window.h"
#include "core/regional.h"
#include "serial/comm32.h"
#include "watch/com_port_probe.h"
#include "watch/interface_watch.h"
#include "watch/netlink_interfaces.h"
#include "watch/windows_list.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

namespace quorvane {

namespace {

const char* const kTagProperty = "tag";
const QString kZeroDuration = QStringLiteral("000:00:00");

// A spin box whose line edit can be limited or made untypable; the arrows work either way.
class TSpinEdit : public QSpinBox {
public:
    explicit TSpinEdit(QWidget* parent) : QSpinBox(parent) {}
    void SetArrowsOnly() { lineEdit()->setReadOnly(true); }
    void SetMaxLength(int length) { lineEdit()->setMaxLength(length); }
};

void SetupSpin(QSpinBox* spin, int minimum, int maximum, int value) {
    spin->setRange(minimum, maximum);
    spin->setValue(value);
}

// Panels that are hidden by the options keep their room, so the window's fixed size fits every
// combination of options and nothing moves when a panel appears.
void KeepRoomWhenHidden(QWidget* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

void MakeDropDownList(QComboBox* combo, const QStringList& items) {
    combo->setEditable(false);
    combo->addItems(items);
    combo->setCurrentIndex(-1);
}

QLabel* WordWrapped(QLabel* label) {
    label->setWordWrap(true);
    return label;
}

} // namespace

int Tag(const QObject* component) {
    return component ? component->property(kTagProperty).toInt() : 0;
}

void SetTag(QObject* component, int tag) {
    if (component)
        component->setProperty(kTagProperty, tag);
}

template <class T> T* TfrmTimer::Make(QWidget* parent, const char* name) {
    auto* component = new T(parent);
    component->setObjectName(QString::fromLatin1(name));
    components.push_back(component);
    return component;
}

QToolButton* TfrmTimer::MakeToolButton(const char* name, const QString& hint, int standardIcon) {
    auto* button = Make<QToolButton>(pToolBar, name);
    button->setToolTip(hint);
    button->setAccessibleName(hint);
    button->setIcon(LazyStandardIcon(static_cast<QStyle::StandardPixmap>(standardIcon), this));
    button->setIconSize(QSize(20, 20));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QWidget* TfrmTimer::MakePage(const char* name, const QString& heading) {
    auto* page = Make<QWidget>(nbMain, name);
    nbMain->addWidget(page);

    const QString key = QString::fromLatin1(name).remove(QLatin1Char(' '));
    auto* picture = Make<QLabel>(page, ("img" + key).toLatin1().constData());
    picture->setFrameShape(QFrame::Panel);
    picture->setFrameShadow(QFrame::Sunken);
    picture->setPixmap(ProgramPixmap(32));
    picture->setFixedSize(40, 40);
    picture->setAlignment(Qt::AlignCenter);

    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    if (!heading.isEmpty()) {
        auto* title = Make<QLabel>(page, ("lblHeading" + key).toLatin1().constData());
        title->setText(heading);
        QFont font = title->font();
        font.setPointSizeF(font.pointSizeF() * 1.8);
        font.setBold(true);
        title->setFont(font);
        top->addSpacing(8);
        top->addWidget(title);
    }
    top->addStretch();

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    return page;
}

TfrmTimer::TfrmTimer(QWidget* parent)
    : QWidget(parent), applicationTitle_(QString::fromLatin1(kApplicationTitle)) {
    setObjectName(QStringLiteral("frmTimer"));
    // Before any child exists, so that all of them take it (see caption_font.h).
    UseShaper(this, false);
    setWindowTitle(QString::fromLatin1(kWindowCaption));
    // A single border with the system menu, minimise and help buttons, and no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowContextHelpButtonHint | Qt::WindowCloseButtonHint);

    CreateToolBar();
    nbMain = Make<QStackedWidget>(this, "nbMain");
    CreateProviderPage();
    CreateDetectionPage();
    CreateBillingPage();
    CreateLoggingPage();
    CreateTogglesPage();
    CreateAdjustTimersPage();
    CreateTimerPage();
    CreateNonVisual();
    CreateNetworkParts();
    CreateHistoryParts();
    nbMain->setCurrentIndex(0);

    // What is typed or loaded into a field may be in any script.
    for (QLineEdit* field : findChildren<QLineEdit*>()) {
        connect(field, &QLineEdit::textChanged, field,
                [field](const QString& text) { UseShaper(field, NeedsShaper(text)); });
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pToolBar);
    layout->addWidget(nbMain);
    setFixedSize(sizeHint().expandedTo(QSize(560, 400)));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    setWindowIcon(ProgramIcon());
    // The lamp, the taskbar text and the window's state change for timers, the kernel's
    // interfaces and D-Bus as much as for X events: each change reaches the desktop at once.
    SendX11RequestsBeforeEachWait(this);
    CreateTrayIcon();
    SetApplicationTitle(applicationTitle_);
    notifier_ = new TNotifier(trayIcon_, this);

    connect(Leave, &QToolButton::clicked, this, &TfrmTimer::LeaveClick);
    connect(Ask4Help, &QToolButton::clicked, this, &TfrmTimer::Ask4HelpClick);
    connect(AboutUs, &QToolButton::clicked, this, &TfrmTimer::AboutUsClick);
    connect(tRollover, &QTimer::timeout, this, &TfrmTimer::tRolloverTimer);
    connect(tSaveRetry, &QTimer::timeout, this, &TfrmTimer::tSaveRetryTimer);
    ConnectProviderHandlers();
    ConnectSessionHandlers();
    ConnectPageHandlers();
    ConnectAdjustHandlers();

    FormCreate();
}

TfrmTimer::~TfrmTimer() = default;

void TfrmTimer::CreateToolBar() {
    pToolBar = new QFrame(this);
    pToolBar->setObjectName(QStringLiteral("pToolBar"));
    components.push_back(pToolBar);
    pToolBar->setFrameShape(QFrame::StyledPanel);
    pToolBar->setFrameShadow(QFrame::Raised);

    sbPrevious = MakeToolButton("sbPrevious", QStringLiteral("Previous"), QStyle::SP_ArrowLeft);
    sbNext = MakeToolButton("sbNext", QStringLiteral("Next"), QStyle::SP_ArrowRight);
    sbWatching =
        MakeToolButton("sbWatching", QStringLiteral("Watching On/Off"), QStyle::SP_DriveNetIcon);
    sbWatching->setCheckable(true);
    sbOverRide = MakeToolButton("sbOverRide", QStringLiteral("Override Automatic Detection"),
                                QStyle::SP_BrowserStop);
    // Override only means something while a session runs.
    sbOverRide->setEnabled(false);
    sbManual =
        MakeToolButton("sbManual", QStringLiteral("Manual Start/Stop"), QStyle::SP_MediaPlay);
    sbManual->setCheckable(true);
    sbSave = MakeToolButton("sbSave", QStringLiteral("Save provider settings"),
                            QStyle::SP_DialogSaveButton);
    Ask4Help =
        MakeToolButton("Ask4Help", QStringLiteral("Help"), QStyle::SP_TitleBarContextHelpButton);
    AboutUs = MakeToolButton("AboutUs", QStringLiteral("About"), QStyle::SP_MessageBoxInformation);
    Leave = MakeToolButton("Leave", QStringLiteral("Exit"), QStyle::SP_DialogCloseButton);

    auto* layout = new QHBoxLayout(pToolBar);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
    auto separator = [layout] { layout->addSpacing(12); };
    layout->addWidget(sbPrevious);
    layout->addWidget(sbNext);
    separator();
    layout->addWidget(sbWatching);
    layout->addWidget(sbOverRide);
    layout->addWidget(sbManual);
    separator();
    layout->addWidget(sbSave);
    layout->addStretch();
    layout->addWidget(Ask4Help);
    layout->addWidget(AboutUs);
    separator();
    layout->addWidget(Leave);
}

void TfrmTimer::CreateProviderPage() {
    pgProvider = MakePage("Provider", QStringLiteral("Provider"));
    auto* page = pgProvider;
    Label2 = WordWrapped(Make<QLabel>(page, "Label2"));
    Label2->setText(QStringLiteral("Click the box below to select an existing Provider."));
    Label3 = WordWrapped(Make<QLabel>(page, "Label3"));
    Label3->setText(QStringLiteral(
        "Use the Next and Previous buttons to change any settings and Apply to save them."));
    Label4 = WordWrapped(Make<QLabel>(page, "Label4"));
    Label4->setText(
        QStringLiteral("To add a new Provider, type-in their name and click the Next button."));
    Label11 = Make<QLabel>(page, "Label11");
    Label11->setText(QStringLiteral("Provider's Name"));
    cbProvider = Make<TListOnUseCombo>(page, "cbProvider");
    MakeEditableCombo(cbProvider);
    Label11->setBuddy(cbProvider);
    btnDelete = Make<QPushButton>(page, "btnDelete");
    btnDelete->setText(QStringLiteral("&Delete"));
    btnDelete->setFocusPolicy(Qt::ClickFocus);
    ckSetAsDefault = Make<QCheckBox>(page, "ckSetAsDefault");
    ckSetAsDefault->setText(QStringLiteral("Set as Default"));
    btnSave = Make<QPushButton>(page, "btnSave");
    btnSave->setText(QStringLiteral("&Save"));

    auto* body = static_cast<QVBoxLayout*>(page->layout());
    body->addWidget(Label2);
    body->addWidget(Label3);
    body->addWidget(Label4);
    body->addSpacing(8);
    body->addWidget(Label11);
    auto* row = new QHBoxLayout;
    row->addWidget(cbProvider, 1);
    row->addWidget(btnDelete);
    body->addLayout(row);
    auto* row2 = new QHBoxLayout;
    row2->addWidget(ckSetAsDefault);
    row2->addStretch();
    row2->addWidget(btnSave);
    body->addLayout(row2);
    body->addStretch();
}

void TfrmTimer::CreateDetectionPage() {
    pgDetection = MakePage("Detection", QStringLiteral("Detection"));
    auto* page = pgDetection;
    Detect1 = WordWrapped(Make<QLabel>(page, "Detect1"));
    Detect1->setText(QStringLiteral("Click the box below to select how you wish to detect "
                                    "whether your computer is connected to the Internet."));
    Label10 = Make<QLabel>(page, "Label10");
    Label10->setText(QStringLiteral("Detection Method"));
    cbDetection = Make<QComboBox>(page, "cbDetection");
    MakeDropDownList(cbDetection, {QStringLiteral("TCP/IP"), QStringLiteral("COM Port"),
                                   QStringLiteral("Manual")});
    Label10->setBuddy(cbDetection);

    pCOMPort = Make<QFrame>(page, "pCOMPort");
    pCOMPort->setFrameShape(QFrame::StyledPanel);
    lblCOMPort = Make<QLabel>(pCOMPort, "lblCOMPort");
    lblCOMPort->setText(QStringLiteral("COM Port"));
    auto* comPort = Make<TSpinEdit>(pCOMPort, "seCOMPort");
    SetupSpin(comPort, 1, 4, 1);
    comPort->SetArrowsOnly();
    comPort->SetMaxLength(1);
    seCOMPort = comPort;
    lblDelay = Make<QLabel>(pCOMPort, "lblDelay");
    lblDelay->setText(QStringLiteral("Delay"));
    auto* delayMin = Make<TSpinEdit>(pCOMPort, "seDelayMin");
    SetupSpin(delayMin, 0, 59, 0);
    delayMin->SetArrowsOnly();
    seDelayMin = delayMin;
    lblMin = Make<QLabel>(pCOMPort, "lblMin");
    lblMin->setText(QStringLiteral("Min"));
    auto* delaySec = Make<TSpinEdit>(pCOMPort, "seDelaySec");
    SetupSpin(delaySec, 0, 59, 0);
    delaySec->SetArrowsOnly();
    delaySec->SetMaxLength(2);
    seDelaySec = delaySec;
    lblSec = Make<QLabel>(pCOMPort, "lblSec");
    lblSec->setText(QStringLiteral("Sec"));
    pCOMPort->hide();
    KeepRoomWhenHidden(pCOMPort);

    lProvider = Make<QLabel>(page, "lProvider");
    lProvider->setText(QStringLiteral("Seek Text"));
    // The dial-up connections are looked up when the user comes to the list, not with every
    // provider loaded: at start that would open the store's second hive for nothing.
    auto* seekTexts = Make<TListOnUseCombo>(page, "cbProv");
    seekTexts->SetFill([this] { FillDialUpProfiles(); });
    cbProv = seekTexts;
    MakeEditableCombo(cbProv);
    lProvider->setBuddy(cbProv);
    lProvider->hide();
    cbProv->hide();
    KeepRoomWhenHidden(lProvider);
    KeepRoomWhenHidden(cbProv);
    // Not a setting, so not among the components: why a seek text can never match here.
    lCaptionNote = WordWrapped(new QLabel(page));
    lCaptionNote->setObjectName(QStringLiteral("lCaptionNote"));
    lCaptionNote->setText(
        QStringLiteral("Window captions cannot be read on this desktop (no X display), so the "
                       "TCP/IP method cannot see a connection."));
    lCaptionNote->hide();

    auto* port = new QGridLayout(pCOMPort);
    port->addWidget(lblCOMPort, 0, 0);
    port->addWidget(seCOMPort, 1, 0);
    port->addWidget(lblDelay, 0, 1, 1, 4, Qt::AlignHCenter);
    port->addWidget(seDelayMin, 1, 1);
    port->addWidget(lblMin, 1, 2);
    port->addWidget(seDelaySec, 1, 3);
    port->addWidget(lblSec, 1, 4);
    port->setColumnStretch(5, 1);
    // Which device the port number means on Linux; not a setting, so not among the components.
    lPortDevice = new QLabel(pCOMPort);
    lPortDevice->setObjectName(QStringLiteral("lPortDevice"));
    port->addWidget(lPortDevice, 2, 0, 1, 6);
    const auto showDevice = [this] {
        ShowText(lPortDevice, QString::fromStdString(ComPortDeviceText(seCOMPort->value())));
    };
    connect(seCOMPort, &QSpinBox::valueChanged, this, showDevice);
    showDevice();

    // Each method's own controls take the same place below the method's box, one set shown at
    // a time: the place is as tall as the tallest set, so the window's fixed size fits every
    // method, and the set shown starts right below the box, with no room left above it for a
    // set that is hidden.
    seekTextColumn_ = new QVBoxLayout;
    seekTextColumn_->setContentsMargins(0, 0, 0, 0);
    seekTextColumn_->addWidget(lProvider);
    seekTextColumn_->addWidget(cbProv);
    seekTextColumn_->addWidget(lCaptionNote);
    methodPlace_ = new QGridLayout;
    methodPlace_->setContentsMargins(0, 0, 0, 0);
    methodPlace_->addLayout(seekTextColumn_, 0, 0, Qt::AlignTop);
    methodPlace_->addWidget(pCOMPort, 0, 0, Qt::AlignTop);

    auto* body = static_cast<QVBoxLayout*>(page->layout());
    body->addWidget(Detect1);
    body->addSpacing(8);
    body->addWidget(Label10);
    body->addWidget(cbDetection);
    body->addSpacing(8);
    body->addLayout(methodPlace_);
    body->addStretch();
}

void TfrmTimer::CreateBillingPage() {
    pgBilling = MakePage("Billing", QStringLiteral("Billing"));
    auto* page = pgBilling;
    ckEnableBilling = Make<QCheckBox>(page, "ckEnableBilling");
    ckEnableBilling->setText(QStringLiteral("Enable Billing"));

    pBilling = Make<QFrame>(page, "pBilling");
    pBilling->setFrameShape(QFrame::StyledPanel);
    lPricePer = Make<QLabel>(pBilling, "lPricePer");
    lPricePer->setText(QStringLiteral("Price per Extra Hour"));
    lCurrency = Make<QLabel>(pBilling, "lCurrency");
    ePrice = Make<QLineEdit>(pBilling, "ePrice");
    ePrice->setText(QStringLiteral("0.00"));
    lPricePer->setBuddy(ePrice);
    Label9 = Make<QLabel>(pBilling, "Label9");
    Label9->setText(QStringLiteral("Free Hours"));
    eFreeHours = Make<QLineEdit>(pBilling, "eFreeHours");
    eFreeHours->setMaxLength(3);
    eFreeHours->setText(QStringLiteral("0"));
    Label9->setBuddy(eFreeHours);
    Label8 = Make<QLabel>(pBilling, "Label8");
    Label8->setText(QStringLiteral("WAV Alarm"));
    eWavAlarm = Make<QLineEdit>(pBilling, "eWavAlarm");
    eWavAlarm->setReadOnly(true);
    sbWavBrowse = Make<QToolButton>(pBilling, "sbWavBrowse");
    sbWavBrowse->setText(QStringLiteral("..."));
    QFont bold = sbWavBrowse->font();
    bold.setBold(true);
    sbWavBrowse->setFont(bold);
    sbWavPlay = Make<QToolButton>(pBilling, "sbWavPlay");
    sbWavPlay->setIcon(LazyStandardIcon(QStyle::SP_MediaPlay, this));
    sbClearWav = Make<QToolButton>(pBilling, "sbClearWav");
    sbClearWav->setIcon(LazyStandardIcon(QStyle::SP_DialogDiscardButton, this));
    Label13 = Make<QLabel>(pBilling, "Label13");
    Label13->setText(QStringLiteral("Cycle Day"));
    seCycleDay = Make<QSpinBox>(pBilling, "seCycleDay");
    SetupSpin(seCycleDay, 0, 31, 0);
    Label13->setBuddy(seCycleDay);
    pBilling->hide();
    KeepRoomWhenHidden(pBilling);

    ckEnablePeak = Make<QCheckBox>(page, "ckEnablePeak");
    ckEnablePeak->setText(QStringLiteral("Enable Peak Period"));
    pPeak = Make<QFrame>(page, "pPeak");
    pPeak->setFrameShape(QFrame::StyledPanel);
    Label15 = Make<QLabel>(pPeak, "Label15");
    Label15->setText(QStringLiteral("Start"));
    eStart = Make<QLineEdit>(pPeak, "eStart");
    Label15->setBuddy(eStart);
    Label20 = Make<QLabel>(pPeak, "Label20");
    Label20->setText(QStringLiteral("Stop"));
    eStop = Make<QLineEdit>(pPeak, "eStop");
    Label20->setBuddy(eStop);
    pPeak->hide();
    KeepRoomWhenHidden(pPeak);

    auto* billing = new QGridLayout(pBilling);
    billing->addWidget(Label9, 0, 0);
    billing->addWidget(eFreeHours, 1, 0);
    billing->addWidget(lPricePer, 0, 1, 1, 2);
    billing->addWidget(lCurrency, 1, 1);
    billing->addWidget(ePrice, 1, 2);
    billing->addWidget(Label13, 0, 3);
    billing->addWidget(seCycleDay, 1, 3);
    billing->addWidget(Label8, 2, 0, 1, 4);
    auto* wav = new QHBoxLayout;
    wav->addWidget(eWavAlarm, 1);
    wav->addWidget(sbWavBrowse);
    wav->addWidget(sbWavPlay);
    wav->addWidget(sbClearWav);
    billing->addLayout(wav, 3, 0, 1, 4);
    billing->setColumnStretch(2, 1);

    auto* peak = new QGridLayout(pPeak);
    peak->addWidget(Label15, 0, 0);
    peak->addWidget(eStart, 1, 0);
    peak->addWidget(Label20, 0, 1);
    peak->addWidget(eStop, 1, 1);

    auto* body = static_cast<QVBoxLayout*>(page->layout());
    body->addWidget(ckEnableBilling);
    body->addWidget(pBilling);
    body->addWidget(ckEnablePeak);
    body->addWidget(pPeak);
    body->addStretch();
}

void TfrmTimer::CreateLoggingPage() {
    pgLogging = MakePage("Logging", QStringLiteral("Logging"));
    auto* page = pgLogging;
    Label14 = WordWrapped(Make<QLabel>(page, "Label14"));
    Label14->setText(QStringLiteral(
        "Logging allows you to keep a running record of times, charges, and activity."));
    ckEnableLogging = Make<QCheckBox>(page, "ckEnableLogging");
    ckEnableLogging->setText(QStringLiteral("Enable Logging"));
    pLogging = Make<QFrame>(page, "pLogging");
    pLogging->setFrameShape(QFrame::StyledPanel);
    Label16 = Make<QLabel>(pLogging, "Label16");
    Label16->setText(QStringLiteral("Log file path and name"));
    eLogFile = Make<QLineEdit>(pLogging, "eLogFile");
    eLogFile->setReadOnly(true);
    sbLogBrowse = Make<QToolButton>(pLogging, "sbLogBrowse");
    sbLogBrowse->setText(QStringLiteral("..."));
    QFont bold = sbLogBrowse->font();
    bold.setBold(true);
    sbLogBrowse->setFont(bold);
    sbLogBrowse->setToolTip(QStringLiteral("Find/Create Log File"));
    sbClearLog = Make<QToolButton>(pLogging, "sbClearLog");
    sbClearLog->setIcon(LazyStandardIcon(QStyle::SP_DialogDiscardButton, this));
    sbClearLog->setToolTip(QStringLiteral("Clear Log File (Disable)"));
    pLogging->hide();
    KeepRoomWhenHidden(pLogging);

    auto* logging = new QGridLayout(pLogging);
    logging->addWidget(Label16, 0, 0, 1, 3);
    logging->addWidget(eLogFile, 1, 0);
    logging->addWidget(sbLogBrowse, 1, 1);
    logging->addWidget(sbClearLog, 1, 2);
    logging->setColumnStretch(0, 1);

    auto* body = static_cast<QVBoxLayout*>(page->layout());
    body->addWidget(Label14);
    body->addSpacing(8);
    body->addWidget(ckEnableLogging);
    body->addWidget(pLogging);
    body->addStretch();
}

void TfrmTimer::CreateTogglesPage() {
    pgToggles = MakePage("Toggles", QStringLiteral("Toggles / Settings"));
    auto* page = pgToggles;
    auto toggle = [this, page](const char* name, const char* caption) {
        auto* box = Make<QCheckBox>(page, name);
        box->setText(QString::fromLatin1(caption));
        // The detection method's rule finds the toggles it may have to clear by this tag.
        SetTag(box, 99);
        return box;
    };
    ckStartWhenRun = toggle("ckStartWhenRun", "Start Timer when Run (Manual detection only)");
    ckCloseOnDisconnect =
        toggle("ckCloseOnDisconnect", "Close Quorvane on disconnect (Manual detection only)");
    Label28 = Make<QLabel>(page, "Label28");
    Label28->setText(QStringLiteral("Timer to display when minimize"));
    cbMinimizedTime = Make<QComboBox>(page, "cbMinimizedTime");
    MakeDropDownList(cbMinimizedTime,
                     {QStringLiteral("Today"), QStringLiteral("Total"), QStringLiteral("Elapsed")});
    Label28->setBuddy(cbMinimizedTime);
    ckWatchOnRun = toggle("ckWatchOnRun", "Watching enabled when Run");
    ckColoredIconWatching = toggle("ckColoredIconWatching", "Colored Icon for Watching");

    auto* body = static_cast<QVBoxLayout*>(page->layout());
    body->addWidget(ckStartWhenRun);
    body->addWidget(ckCloseOnDisconnect);
    body->addWidget(ckWatchOnRun);
    body->addWidget(ckColoredIconWatching);
    body->addSpacing(8);
    body->addWidget(Label28);
    auto* row = new QHBoxLayout;
    row->addWidget(cbMinimizedTime);
    row->addStretch();
    body->addLayout(row);
    body->addStretch();
}

void TfrmTimer::CreateAdjustTimersPage() {
    pgAdjustTimers = MakePage("Adjust Timers", QStringLiteral("Adjust Timers"));
    auto* page = pgAdjustTimers;
    lblSelectTimer = WordWrapped(Make<QLabel>(page, "lblSelectTimer"));
    lblSelectTimer->setText(QStringLiteral("Select a timer you wish to adjust."));

    gbAvailableTimers = Make<QGroupBox>(page, "gbAvailableTimers");
    gbAvailableTimers->setTitle(QStringLiteral("Available Timers"));
    rbToday = Make<QRadioButton>(gbAvailableTimers, "rbToday");
    rbToday->setText(QStringLiteral("Today"));
    rbToday->setChecked(true);
    rbTotalTime = Make<QRadioButton>(gbAvailableTimers, "rbTotalTime");
    rbTotalTime->setText(QStringLiteral("Total Time"));
    rbOutsidePeak = Make<QRadioButton>(gbAvailableTimers, "rbOutsidePeak");
    rbOutsidePeak->setText(QStringLiteral("Outside Peak Period"));
    rbInsidePeak = Make<QRadioButton>(gbAvailableTimers, "rbInsidePeak");
    rbInsidePeak->setText(QStringLiteral("Inside Peak Period"));

    lblUseArrows = WordWrapped(Make<QLabel>(page, "lblUseArrows"));
    lblUseArrows->setText(
        QStringLiteral("Use the up and down arrows to adjust the Hours/Minutes.  You can select a "
                       "number from 999 through -999.  However, you cannot save a negative time."));

    gbAdjustTimers = Make<QGroupBox>(page, "gbAdjustTimers");
    gbAdjustTimers->setTitle(QStringLiteral("Adjust Timers"));
    lblCurrValue = Make<QLabel>(gbAdjustTimers, "lblCurrValue");
    lblCurrValue->setText(QStringLiteral("Current Value: "));
    lCurrValue = Make<QLabel>(gbAdjustTimers, "lCurrValue");
    lCurrValue->setText(kZeroDuration);
    lblAdjValue = Make<QLabel>(gbAdjustTimers, "lblAdjValue");
    lblAdjValue->setText(QStringLiteral("Adjusted Value:"));
    lAdjValue = Make<QLabel>(gbAdjustTimers, "lAdjValue");
    lAdjValue->setText(kZeroDuration);
    lblHours = Make<QLabel>(gbAdjustTimers, "lblHours");
    lblHours->setText(QStringLiteral("Hours"));
    auto* adjHour = Make<TSpinEdit>(gbAdjustTimers, "seAdjHour");
    SetupSpin(adjHour, -999, 999, 0);
    adjHour->SetMaxLength(4);
    seAdjHour = adjHour;
    lblHours->setBuddy(seAdjHour);
    lblMinutes = Make<QLabel>(gbAdjustTimers, "lblMinutes");
    lblMinutes->setText(QStringLiteral("Minutes"));
    auto* adjMin = Make<TSpinEdit>(gbAdjustTimers, "seAdjMin");
    SetupSpin(adjMin, -999, 999, 0);
    adjMin->SetMaxLength(4);
    seAdjMin = adjMin;
    lblMinutes->setBuddy(seAdjMin);
    btnReset = Make<QPushButton>(gbAdjustTimers, "btnReset");
    btnReset->setText(QStringLiteral("&Reset"));

    lblAdjustedValueNote = WordWrapped(Make<QLabel>(page, "lblAdjustedValueNote"));
    lblAdjustedValueNote->setText(QStringLiteral(
        "The Adjusted Value indicates what the timer would be, including it's current value."));
    btnAdjust = Make<QPushButton>(page, "btnAdjust");
    btnAdjust->setText(QStringLiteral("&Adjust"));
    btnAdjust->setToolTip(QStringLiteral("Increase selected timer by adjustment values"));
    // Nothing to adjust until an hours or minutes value is set.
    btnAdjust->setEnabled(false);
    btnClearAll = Make<QPushButton>(page, "btnClearAll");
    btnClearAll->setText(QStringLiteral("&Clear All"));
    btnClearAll->setToolTip(QStringLiteral("Clear all timers"));

    auto* timers = new QVBoxLayout(gbAvailableTimers);
    timers->addWidget(rbToday);
    timers->addWidget(rbTotalTime);
    timers->addWidget(rbOutsidePeak);
    timers->addWidget(rbInsidePeak);

    auto* adjust = new QGridLayout(gbAdjustTimers);
    adjust->addWidget(lblCurrValue, 0, 0);
    adjust->addWidget(lCurrValue, 0, 1);
    adjust->addWidget(lblAdjValue, 1, 0);
    adjust->addWidget(lAdjValue, 1, 1);
    adjust->addWidget(lblHours, 2, 0);
    adjust->addWidget(seAdjHour, 2, 1);
    adjust->addWidget(lblMinutes, 3, 0);
    adjust->addWidget(seAdjMin, 3, 1);
    adjust->addWidget(btnReset, 4, 1);

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(lblSelectTimer);
    left->addWidget(gbAvailableTimers);
    left->addStretch();
    auto* right = new QVBoxLayout;
    right->addWidget(lblUseArrows);
    right->addWidget(gbAdjustTimers);
    right->addStretch();
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblAdjustedValueNote, 1);
    buttons->addWidget(btnAdjust);
    buttons->addWidget(btnClearAll);

    auto* body = static_cast<QVBoxLayout*>(page->layout());
    body->addLayout(columns);
    body->addLayout(buttons);
}

void TfrmTimer::CreateTimerPage() {
    pgTimer = MakePage("Timer", QString());
    auto* page = pgTimer;
    auto readOut = [this, page](QGroupBox*& group, const char* groupName, const QString& caption,
                                QLabel*& label, const char* labelName, const QString& text) {
        group = Make<QGroupBox>(page, groupName);
        group->setTitle(caption);
        label = Make<QLabel>(group, labelName);
        label->setText(text);
        label->setAlignment(Qt::AlignCenter);
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 1.4);
        font.setBold(true);
        label->setFont(font);
        auto* layout = new QVBoxLayout(group);
        layout->addWidget(label);
    };
    readOut(gbCurrent, "gbCurrent", QStringLiteral("Current Time"), lCurrent, "lCurrent",
            kZeroDuration);
    readOut(gbStart, "gbStart", QStringLiteral("Start Time"), lStart, "lStart", kZeroDuration);
    readOut(gbElapsed, "gbElapsed", QStringLiteral("Elapsed Time"), lElapsed, "lElapsed",
            kZeroDuration);
    readOut(gbCharges, "gbCharges", QStringLiteral("Total Charges"), lCharges, "lCharges",
            QString());
    readOut(gbToday, "gbToday", QStringLiteral("Today"), lToday, "lToday", kZeroDuration);
    readOut(gbTotalTime, "gbTotalTime", QStringLiteral("Total Time"), lTotalTime, "lTotalTime",
            kZeroDuration);
    readOut(gbInsidePeak, "gbInsidePeak", QStringLiteral("Inside Peak Period"), lInsidePeak,
            "lInsidePeak", kZeroDuration);
    readOut(gbOutsidePeak, "gbOutsidePeak", QStringLiteral("Outside Peak Period"), lOutsidePeak,
            "lOutsidePeak", kZeroDuration);

    // Red while no session runs; a session turns it green.
    QPalette palette = lElapsed->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    lElapsed->setPalette(palette);

    auto* grid = new QGridLayout;
    QGroupBox* const left[] = {gbCurrent, gbStart, gbElapsed, gbCharges};
    QGroupBox* const right[] = {gbToday, gbTotalTime, gbInsidePeak, gbOutsidePeak};
    for (int row = 0; row < 4; ++row) {
        grid->addWidget(left[row], row, 0);
        grid->addWidget(right[row], row, 1);
    }
    auto* body = static_cast<QVBoxLayout*>(page->layout());
    body->addLayout(grid);
    body->addStretch();
}

void TfrmTimer::CreateNonVisual() {
    ilIcons = new TImageList(this);
    ilIcons->setObjectName(QStringLiteral("ilIcons"));
    ilIcons->Add(LampPixmap(kLampOnline));
    ilIcons->Add(LampPixmap(kLampOffline));
    components.push_back(ilIcons);

    auto makeTimer = [this](const char* name) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QString::fromLatin1(name));
        timer->setInterval(1000);
        components.push_back(timer);
        return timer;
    };
    tOnLine = makeTimer("tOnLine");
    tWatching = makeTimer("tWatching");
    tRollover = makeTimer("tRollover");
    tRollover->setSingleShot(true);
    // Midnight itself, not a few seconds either side of it.
    tRollover->setTimerType(Qt::PreciseTimer);
    tSaveRetry = makeTimer("tSaveRetry");
    tSaveRetry->setSingleShot(true);
    tSaveRetry->setInterval(kSaveRetryMs);

    sdBrowse = new TSaveDialog(this);
    sdBrowse->setObjectName(QStringLiteral("sdBrowse"));
    sdBrowse->Filter = QStringLiteral("Wav Files (*.WAV)|*.WAV");
    sdBrowse->DefaultExt = QStringLiteral("WAV");
    components.push_back(sdBrowse);

    Comm32 = std::make_unique<TComm32>();
    Comm32->SetBaudRate(14400);
    // The serial threads' notifications are served here, on the window's thread.
    auto* commNotifier = new QSocketNotifier(Comm32->NotifyHandle(), QSocketNotifier::Read, this);
    connect(commNotifier, &QSocketNotifier::activated, this, [this] { Comm32->ProcessMessages(); });

    mpWav = new TAlarmPlayer(this);
    mpWav->setObjectName(QStringLiteral("mpWav"));
    connect(mpWav, &TAlarmPlayer::Finished, this, [this](const QString& failure) {
        if (!failure.isEmpty())
            ShowError(failure);
    });
    session_ = std::make_unique<SessionTick>(Timers);
    keeper_ = std::make_unique<TSessionKeeper>(*session_);
    windowTitles_ = &DesktopWindowTitles();
}

void TfrmTimer::FormCreate() {
    // Restoring from the taskbar entry or the tray icon runs OnRestore from now on.
    restoreAttached_ = true;
    AttachTrayIcon();
    // The decimal point needs no step here: prices and amounts are written and read through
    // Regional(), whose decimal point is always ".", whatever the locale says.
    ShowText(lCurrency, QString::fromStdString(Regional().currencyString));
    const QStringList notes = StartUpSequence();
    StartMinimised();
    // Last, so that the warning comes up above the window; it leaves the window free.
    ReportStoreProblems();
    // Told only now that watching (or a manual session) has begun and the window is up: a box
    // waits for the user in an event loop of its own, which serves the session meanwhile, so an
    // unattended start at login counts from its first second.
    ShowNotes(notes);
}

void TfrmTimer::StartMinimised() {
    // Shown minimised rather than hidden, so the program has its taskbar entry from the start.
    showMinimized();
    // The native window exists only now; the title may have been set before.
    SetLegacyIconName(this, applicationTitle_);
}

QObject* TfrmTimer::FindComponent(const QString& name) const {
    return quorvane::FindComponent(components, name);
}

void TfrmTimer::SetApplicationTitle(const QString& title) {
    applicationTitle_ = title;
    setWindowIconText(title);
    SetLegacyIconName(this, title);
    if (trayIcon_)
        UpdateTrayToolTip();
}

void TfrmTimer::SetStateIcon(int index) {
    const QIcon icon = ilIcons->Icon(index);
    if (icon.isNull())
        return;
    QApplication::setWindowIcon(icon);
    setWindowIcon(icon);
    trayIcon_->setIcon(icon);
}

void TfrmTimer::LockWhileWatching() {
    const bool free = !sbWatching->isChecked();
    for (QWidget* control : {static_cast<QWidget*>(btnSave), static_cast<QWidget*>(sbSave),
                             static_cast<QWidget*>(btnDelete), static_cast<QWidget*>(AboutUs),
                             static_cast<QWidget*>(sbNext), static_cast<QWidget*>(sbPrevious)})
        control->setEnabled(free);
}

QWidget* TfrmTimer::Page(const QString& name) const {
    for (int i = 0; i < nbMain->count(); ++i) {
        QWidget* page = nbMain->widget(i);
        if (page->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return page;
    }
    return nullptr;
}

QString TfrmTimer::ActivePageName() const {
    const QWidget* page = nbMain->currentWidget();
    return page ? page->objectName() : QString();
}

void TfrmTimer::SetActivePage(const QString& name) {
    if (QWidget* page = Page(name))
        nbMain->setCurrentWidget(page);
}

void TfrmTimer::OnRestore() {
    if (restoring_)
        return;
    restoring_ = true;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    restoring_ = false;
}

void TfrmTimer::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !restoreAttached_)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if ((change->oldState() & Qt::WindowMinimized) && !(windowState() & Qt::WindowMinimized))
        OnRestore();
}

void TfrmTimer::LeaveClick() {
    // A stopped session's save still to be made has its last try, with the store's own wait;
    // should it fail, the session's state stays for the next start to recover.
    keeper_->SavePendingStops();
    // Exit drops a running session: its state goes too, or the next start would recover it.
    keeper_->Discard();
    // exit(), not quit(): quit() would first close every window, and closing the main window
    // stops and saves a running session, which Exit must not do.
    QCoreApplication::exit(0);
}

TAboutBox* TfrmTimer::AboutBox() {
    if (!aboutBox_)
        aboutBox_ = new TAboutBox(this);
    return aboutBox_;
}

void TfrmTimer::AboutUsClick() {
    const bool watching = tWatching->isActive();
    sbWatching->setChecked(false);
    sbWatchingClick();
    AboutBox()->exec();
    sbWatching->setChecked(watching);
    sbWatchingClick();
}

QString TfrmTimer::HelpFilePath() const {
    const QString folder =
        helpFolder_.isEmpty() ? QCoreApplication::applicationDirPath() : helpFolder_;
    return QDir(folder).filePath(QString::fromLatin1(kHelpFileName));
}

void TfrmTimer::Ask4HelpClick() {
    const QString path = HelpFilePath();
    if (QFileInfo(path).isFile()) {
        if (!helpViewer_)
            helpViewer_ = new THelpViewer(this);
        if (helpViewer_->ShowContents(path))
            return;
    }
    ShowInformation(QString::fromLatin1(kHelpMissingMessage));
}

} // namespace quorvane
