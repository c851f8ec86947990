// The main window's Network Interface method: its controls on the Detection, Billing and Timer
// pages, sessions started and stopped as soon as the kernel (or NetworkManager) reports a
// change, the bytes of each session counted into the data totals, and the data allowance's
// alerts. The rules are in watch/interface_watch.h and accounting/data_allowance.h.
#include "app/timer.h"

#include "accounting/data_allowance.h"
#include "app/caption_font.h"
#include "app/list_combo.h"
#include "app/messages.h"
#include "app/network_manager.h"
#include "app/notifier.h"
#include "app/session_keeper.h"
#include "core/clock.h"
#include "core/text.h"
#include "settings/profiles.h"
#include "watch/interface_watch.h"
#include "watch/netlink_interfaces.h"
#include "watch/windows_list.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <limits>

namespace quorvane {

namespace {

// On Wayland the caption scan reaches only the windows of X11 programs (through Xwayland).
bool WaylandSession() {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
}

// The grid of the layout tree under `layout` that holds `widget`.
QGridLayout* GridHolding(QLayout* layout, QWidget* widget) {
    if (auto* grid = qobject_cast<QGridLayout*>(layout); grid && grid->indexOf(widget) >= 0)
        return grid;
    for (int i = 0; i < layout->count(); ++i)
        if (QLayout* inner = layout->itemAt(i)->layout())
            if (QGridLayout* found = GridHolding(inner, widget))
                return found;
    return nullptr;
}

void KeepRoom(QWidget* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

// With the Network Interface method sessions follow the kernel's and NetworkManager's events;
// the watching tick is only a safety net for anything not reported, so it does not wake the
// program every second.
constexpr int kInterfaceWatchingTickMs = 60 * 1000;
constexpr int kWatchingTickMs = 1000;

const QString kInterfaceHint = QStringLiteral(
    "An interface (wwan0), a pattern (ppp*, enx*) or a NetworkManager connection; empty: any "
    "metered connection.");

QString Volume(std::uint64_t bytes) {
    return QString::fromStdString(FormatDataVolume(bytes));
}

} // namespace

void TfrmTimer::CreateNetworkParts() {
    // "Detection": the fourth method, and what it watches.
    cbDetection->addItem(QStringLiteral("Network Interface"));
    lWaylandNote = new QLabel(pgDetection);
    lWaylandNote->setObjectName(QStringLiteral("lWaylandNote"));
    lWaylandNote->setWordWrap(true);
    lWaylandNote->setText(QStringLiteral("On Wayland only X11 programs' window captions can be "
                                         "read; the Network Interface method sees any "
                                         "connection."));
    lWaylandNote->hide();
    seekTextColumn_->addWidget(lWaylandNote);

    pInterface = Make<QFrame>(pgDetection, "pInterface");
    lInterface = Make<QLabel>(pInterface, "lInterface");
    lInterface->setText(QStringLiteral("Interface or Connection"));
    // Interfaces come and go: the list is read when the user comes to it.
    auto* combo = new TListOnUseCombo(pInterface);
    combo->SetFill([this] { FillInterfaceList(); });
    combo->setObjectName(QStringLiteral("eInterface"));
    components.push_back(combo);
    eInterface = combo;
    MakeEditableCombo(eInterface);
    lInterface->setBuddy(eInterface);
    // Not a setting, so not among the components.
    lInterfaceNote = new QLabel(pInterface);
    lInterfaceNote->setObjectName(QStringLiteral("lInterfaceNote"));
    lInterfaceNote->setWordWrap(true);
    lInterfaceNote->setText(kInterfaceHint);
    auto* interfaceLayout = new QVBoxLayout(pInterface);
    interfaceLayout->setContentsMargins(0, 0, 0, 0);
    interfaceLayout->addWidget(lInterface);
    interfaceLayout->addWidget(eInterface);
    interfaceLayout->addWidget(lInterfaceNote);
    pInterface->hide();
    KeepRoom(pInterface);
    methodPlace_->addWidget(pInterface, 0, 0, Qt::AlignTop);

    // "Billing": the data allowance.
    pDataAllowance = Make<QFrame>(pgBilling, "pDataAllowance");
    pDataAllowance->setFrameShape(QFrame::StyledPanel);
    lblDataAllowance = Make<QLabel>(pDataAllowance, "lblDataAllowance");
    lblDataAllowance->setText(QStringLiteral("Data Allowance"));
    eDataAllowance = Make<QLineEdit>(pDataAllowance, "eDataAllowance");
    // No limit on its length: a longer text would be cut without a word, and a cut number is
    // another allowance. The check refuses what no 64-bit count of bytes can hold.
    lblDataAllowance->setBuddy(eDataAllowance);
    lblDataMB = Make<QLabel>(pDataAllowance, "lblDataMB");
    lblDataMB->setText(QStringLiteral("MB per billing cycle (empty: none)"));
    ckDataRxOnly = Make<QCheckBox>(pDataAllowance, "ckDataRxOnly");
    ckDataRxOnly->setText(QStringLiteral("Count received data only"));
    // Not a setting, so not among the components.
    lDataAllowanceNote = new QLabel(pDataAllowance);
    lDataAllowanceNote->setObjectName(QStringLiteral("lDataAllowanceNote"));
    lDataAllowanceNote->setWordWrap(true);
    lDataAllowanceNote->setText(
        tr("This is not a whole number of megabytes: no allowance is counted until it is put "
           "right."));
    QPalette warning = lDataAllowanceNote->palette();
    warning.setColor(QPalette::WindowText, QColor(200, 0, 0));
    lDataAllowanceNote->setPalette(warning);
    lDataAllowanceNote->hide();
    auto* allowance = new QGridLayout(pDataAllowance);
    allowance->addWidget(lblDataAllowance, 0, 0, 1, 2);
    allowance->addWidget(eDataAllowance, 1, 0);
    allowance->addWidget(lblDataMB, 1, 1);
    allowance->addWidget(lDataAllowanceNote, 2, 0, 1, 2);
    allowance->addWidget(ckDataRxOnly, 3, 0, 1, 2);
    allowance->setColumnStretch(1, 1);
    auto* billing = static_cast<QVBoxLayout*>(pgBilling->layout());
    billing->insertWidget(billing->indexOf(pPeak) + 1, pDataAllowance);

    // "Timer": the data read-outs below the time ones, in their style.
    auto readOut = [this](QGroupBox*& group, const char* groupName, const QString& caption,
                          QLabel*& label, const char* labelName) {
        group = Make<QGroupBox>(pgTimer, groupName);
        group->setTitle(caption);
        label = Make<QLabel>(group, labelName);
        label->setText(Volume(0));
        label->setAlignment(Qt::AlignCenter);
        label->setFont(lToday->font());
        auto* layout = new QVBoxLayout(group);
        layout->addWidget(label);
        group->hide();
        KeepRoom(group);
    };
    readOut(gbDataToday, "gbDataToday", QStringLiteral("Data Today"), lDataToday, "lDataToday");
    readOut(gbDataTotal, "gbDataTotal", QStringLiteral("Data Total"), lDataTotal, "lDataTotal");
    readOut(gbDataAllowance, "gbDataAllowance", QStringLiteral("Data Allowance"), lDataAllowance,
            "lDataAllowance");
    if (QGridLayout* grid = GridHolding(pgTimer->layout(), gbCurrent)) {
        const int row = grid->rowCount();
        grid->addWidget(gbDataToday, row, 0);
        grid->addWidget(gbDataTotal, row, 1);
        grid->addWidget(gbDataAllowance, row + 1, 0, 1, 2);
    }

    // Handlers. The kernel's interfaces are opened when they are first needed: watching switched
    // on with the method, the list dropped down, or a watching tick.
    connect(sbWatching, &QToolButton::toggled, this, [this](bool on) {
        if (on && DetectionMethod() == kNetworkInterface) {
            Interfaces();
            ScheduleInterfaceWatch();
        }
    });
    connect(eInterface, &QComboBox::editTextChanged, this, [this] {
        if (tWatching->isActive() && DetectionMethod() == kNetworkInterface)
            ScheduleInterfaceWatch();
    });
    eDataAllowance->installEventFilter(this);
    connect(eDataAllowance, &QLineEdit::textChanged, this, &TfrmTimer::ShowDataTotals);
    // Typed or loaded: a text that is no allowance shows so at once, not only when the field is
    // left, since loading never runs the field's check.
    connect(eDataAllowance, &QLineEdit::textChanged, this, &TfrmTimer::ShowAllowanceValidity);
    connect(ckDataRxOnly, &QCheckBox::toggled, this, &TfrmTimer::ShowDataTotals);
    keeper_->CountBytesFrom([this] {
        return interfaceWatch_ && interfaceWatch_->Counting() ? interfaceWatch_->Counted()
                                                              : DataBytes{};
    });
}

void TfrmTimer::SetInterfaceSource(NetInterfaceSource& source) {
    AttachInterfaces(source);
}

InterfaceWatch& TfrmTimer::Interfaces() {
    if (!interfaceWatch_) {
        kernelInterfaces_ = std::make_unique<NetlinkInterfaces>();
        AttachInterfaces(*kernelInterfaces_);
    }
    return *interfaceWatch_;
}

void TfrmTimer::AttachInterfaces(NetInterfaceSource& source) {
    interfaceNotifier_.reset();
    interfaceWatch_ = std::make_unique<InterfaceWatch>(source);
    if (source.ChangeDescriptor() >= 0) {
        interfaceNotifier_ =
            std::make_unique<QSocketNotifier>(source.ChangeDescriptor(), QSocketNotifier::Read);
        connect(interfaceNotifier_.get(), &QSocketNotifier::activated, this,
                &TfrmTimer::InterfacesChanged);
    }
    if (!networkManager_) {
        networkManager_ = new TNetworkManager(this);
        connect(networkManager_, &TNetworkManager::Changed, this, [this] {
            if (DetectionMethod() == kNetworkInterface)
                FillInterfaceList();
            InterfacesChanged();
        });
    }
}

void TfrmTimer::ShowNetworkControls() {
    const int method = DetectionMethod();
    const bool network = method == kNetworkInterface;
    const int tick = network ? kInterfaceWatchingTickMs : kWatchingTickMs;
    if (tWatching->interval() != tick) {
        tWatching->setInterval(tick);
        // Chosen while watching: the interfaces are looked at now, not at the next tick.
        if (network && tWatching->isActive())
            ScheduleInterfaceWatch();
    }
    lWaylandNote->setVisible(method == kTcpIp && WaylandSession() &&
                             windowTitles_->CaptionsReadable());
    pInterface->setVisible(network);
    for (QGroupBox* readOut : {gbDataToday, gbDataTotal})
        readOut->setVisible(network);
    if (network) {
        const std::string problem = interfaceWatch_ ? interfaceWatch_->Source().Problem() : "";
        if (interfaceWatch_)
            FillInterfaceList();
        ShowText(lInterfaceNote, problem.empty()
                                     ? kInterfaceHint
                                     : QStringLiteral("The network interfaces cannot be read: %1.")
                                           .arg(QString::fromStdString(problem)));
    }
    ShowDataTotals();
}

void TfrmTimer::FillInterfaceList() {
    const std::vector<std::string> names =
        networkManager_ ? networkManager_->ConnectionNames() : std::vector<std::string>{};
    const std::vector<std::string> choices =
        InterfaceChoices(Interfaces().Source().Interfaces(), names);
    const QString text = eInterface->currentText();
    const QSignalBlocker quiet(eInterface);
    eInterface->clear();
    for (const std::string& choice : choices)
        eInterface->addItem(QString::fromStdString(choice));
    eInterface->setCurrentIndex(-1);
    eInterface->setEditText(text);
}

void TfrmTimer::ScheduleInterfaceWatch() {
    // Once the handler that asks has finished: a provider being loaded, a button's click.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (tWatching->isActive() && DetectionMethod() == kNetworkInterface)
                WatchInterfaces();
        },
        Qt::QueuedConnection);
}

void TfrmTimer::InterfacesChanged() {
    if (interfaceWatch_)
        WatchInterfaces();
}

void TfrmTimer::WatchInterfaces() {
    InterfaceWatch& watch = Interfaces();
    watch.SetText(eInterface->currentText().toStdString());
    watch.SetConnections(networkManager_ ? networkManager_->ActiveConnections()
                                         : std::vector<NmConnection>{});
    // Always taken in, so the descriptor is quiet again; an interface of the session that went
    // away brings its last bytes.
    Data.Add(watch.TakeChanges());
    if (!tWatching->isActive() || DetectionMethod() != kNetworkInterface)
        return;
    const bool online = watch.Online();
    Guarded([&] {
        if (online && !tOnLine->isActive())
            StartSessionOnTimerPage();
        else if (!online && tOnLine->isActive())
            StopSession();
    });
}

void TfrmTimer::BeginSessionData() {
    if (DetectionMethod() == kNetworkInterface)
        Interfaces().StartCounting();
}

void TfrmTimer::SessionDataTick(bool dayChanged) {
    // The old day's totals were saved with it; the bytes of this tick are the new day's.
    if (dayChanged)
        ClearData(false);
    if (interfaceWatch_ && interfaceWatch_->Counting()) {
        Data.Add(interfaceWatch_->Count());
        CheckDataAllowance();
    }
    ShowDataTotals();
}

void TfrmTimer::FinishSessionData() {
    if (!interfaceWatch_ || !interfaceWatch_->Counting())
        return;
    Data.Add(interfaceWatch_->StopCounting());
    CheckDataAllowance();
    ShowDataTotals();
}

void TfrmTimer::ShowDataTotals() {
    const DataTotals& data = Data;
    lDataToday->setText(Volume(data.today.rx + data.today.tx));
    lDataTotal->setText(Volume(data.total.rx + data.total.tx));
    const std::uint64_t allowance = AllowanceBytes();
    const bool shown = DetectionMethod() == kNetworkInterface && allowance > 0;
    if (shown)
        lDataAllowance->setText(QString::fromStdString(
            AllowanceShareText(AllowanceUsed(data.total, ckDataRxOnly->isChecked()), allowance)));
    gbDataAllowance->setVisible(shown);
    if (trayIcon_)
        UpdateTrayToolTip();
}

std::uint64_t TfrmTimer::AllowanceBytes() const {
    return ParseDataAllowance(eDataAllowance->text().toStdString()).value_or(0) * kBytesPerMb;
}

void TfrmTimer::CheckDataAllowance() {
    const std::uint64_t allowance = AllowanceBytes();
    const std::uint64_t used = AllowanceUsed(Data.total, ckDataRxOnly->isChecked());
    const int alert = DataAlertDue(used, allowance, DataAlerts);
    if (alert == 0)
        return;
    DataAlerts = DataAlertsAfter(DataAlerts, alert);
    // At once, not with the next save: a restart must not bring the alert back. A provider not
    // yet saved keeps it with its first save.
    const std::string provider = TotalsProvider().toStdString();
    WriteDataAlerts(provider, DataAlerts);
    const DataAlertNotice notice = DataAlertText(alert, used, allowance, provider,
                                                 DaysLeftInCycle(seCycleDay->value(), Now()));
    notifier_->Notify(QString::fromStdString(notice.summary), QString::fromStdString(notice.body));
    if (alert == kDataAlert100 && !StripSpaces(eWavAlarm->text().toStdString()).empty())
        PlayWavAlarm();
}

void TfrmTimer::ClearData(bool all) {
    Data.today = {};
    if (all) {
        Data.total = {};
        DataAlerts = 0;
    }
    ShowDataTotals();
}

QString TfrmTimer::DataAllowanceMessage() const {
    return tr("\"Data Allowance\" must be a whole number of megabytes (MB), at most %1. Leave it "
              "empty, or 0, for no allowance.")
        .arg(std::numeric_limits<std::uint64_t>::max() / kBytesPerMb);
}

void TfrmTimer::eDataAllowanceExit() {
    if (!ParseDataAllowance(eDataAllowance->text().toStdString()))
        Complain(eDataAllowance, DataAllowanceMessage());
}

bool TfrmTimer::DataAllowanceSavable() {
    if (ParseDataAllowance(eDataAllowance->text().toStdString()))
        return true;
    SetActivePage(QStringLiteral("Billing"));
    Complain(eDataAllowance, DataAllowanceMessage());
    return false;
}

void TfrmTimer::ShowAllowanceValidity() {
    const bool bad = !ParseDataAllowance(eDataAllowance->text().toStdString());
    lDataAllowanceNote->setVisible(bad);
    eDataAllowance->setToolTip(bad ? DataAllowanceMessage() : QString());
}

} // namespace quorvane
