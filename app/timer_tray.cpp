// The main window's tray icon, the program's handle while it runs all day: the state lamp, the
// taskbar text (and the charges) as its tooltip, a click to show or hide the window, and a menu
// whose entries run the toolbar's own handlers, so every rule of the buttons holds for them.
// Where the desktop has no tray nothing of it shows, and the taskbar entry serves as before.
#include "app/timer.h"

#include "app/icons.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QToolButton>

#include <functional>

namespace quorvane {

namespace {

// Runs `changed` whenever a watched widget is enabled or disabled, for which QWidget has no
// signal.
class EnabledWatch : public QObject {
public:
    EnabledWatch(QObject* parent, std::function<void()> changed)
        : QObject(parent), changed_(std::move(changed)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange)
            changed_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> changed_;
};

} // namespace

void TfrmTimer::CreateTrayIcon() {
    trayIcon_ = new QSystemTrayIcon(ilIcons->Icon(1), this);
    trayMenu_ = new QMenu(this);
    trayShow_ = trayMenu_->addAction(QStringLiteral("Show Quorvane"));
    trayWatching_ = trayMenu_->addAction(QStringLiteral("Watching"));
    trayWatching_->setCheckable(true);
    traySession_ = trayMenu_->addAction(QStringLiteral("Start Session"));
    trayHistory_ = trayMenu_->addAction(QStringLiteral("Usage History"));
    trayMenu_->addSeparator();
    trayExit_ = trayMenu_->addAction(QStringLiteral("Exit"));
    trayIcon_->setContextMenu(trayMenu_);

    // The buttons do the work; their own enabled states decide whether it may be done.
    connect(trayShow_, &QAction::triggered, this, &TfrmTimer::OnRestore);
    connect(trayWatching_, &QAction::triggered, sbWatching, &QToolButton::click);
    connect(traySession_, &QAction::triggered, sbManual, &QToolButton::click);
    connect(trayExit_, &QAction::triggered, this, &TfrmTimer::LeaveClick);
    connect(trayHistory_, &QAction::triggered, this, &TfrmTimer::btnHistoryClick);
    // A checkable entry checks itself when triggered; the button says what holds.
    connect(trayWatching_, &QAction::triggered, this, &TfrmTimer::SyncTrayMenu);

    auto* watch = new EnabledWatch(this, [this] { SyncTrayMenu(); });
    for (QToolButton* button : {sbWatching, sbManual}) {
        button->installEventFilter(watch);
        connect(button, &QToolButton::toggled, this, &TfrmTimer::SyncTrayMenu);
    }
    connect(cbDetection, &QComboBox::currentIndexChanged, this, &TfrmTimer::SyncTrayMenu);
    // A provider's load sets the method quietly; the menu is right whenever it opens.
    connect(trayMenu_, &QMenu::aboutToShow, this, &TfrmTimer::SyncTrayMenu);
    connect(ckEnableBilling, &QCheckBox::toggled, this, &TfrmTimer::UpdateTrayToolTip);
    connect(cbDetection, &QComboBox::currentIndexChanged, this, &TfrmTimer::UpdateTrayToolTip);
    SyncTrayMenu();

    // Without a tray the icon stays hidden; the taskbar entry is the handle then.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        trayIcon_->show();
}

void TfrmTimer::AttachTrayIcon() {
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A double click starts with a single one, which has already acted.
                if (reason == QSystemTrayIcon::Trigger)
                    TrayIconClick();
            });
}

void TfrmTimer::TrayIconClick() {
    if (isVisible() && !isMinimized())
        hide();
    else
        OnRestore();
}

void TfrmTimer::SyncTrayMenu() {
    trayWatching_->setChecked(sbWatching->isChecked());
    trayWatching_->setEnabled(sbWatching->isEnabled());
    traySession_->setVisible(DetectionMethod() == kManual);
    traySession_->setEnabled(sbManual->isEnabled());
    traySession_->setText(sbManual->isChecked() ? QStringLiteral("Stop Session")
                                                : QStringLiteral("Start Session"));
}

void TfrmTimer::UpdateTrayToolTip() {
    QString tip = applicationTitle_;
    if (ckEnableBilling->isChecked())
        tip += QStringLiteral("\nCharges: ") + lCharges->text();
    // The Network Interface method counts data: its read-outs, as the Timer page shows them.
    if (DetectionMethod() == kNetworkInterface) {
        tip += QStringLiteral("\nData today: ") + lDataToday->text() +
               QStringLiteral("\nData total: ") + lDataTotal->text();
        if (!gbDataAllowance->isHidden())
            tip += QStringLiteral("\nAllowance: ") + lDataAllowance->text();
    }
    trayIcon_->setToolTip(tip);
}

} // namespace quorvane
