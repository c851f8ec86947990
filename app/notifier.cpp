#include "app/notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace quorvane {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// The name of the installed desktop entry and of the icon in the theme, so the desktop can
// show the notification as Quorvane's.
const QString kDesktopName = QStringLiteral("quorvane");

} // namespace

TNotifier::TNotifier(QSystemTrayIcon* tray, QObject* parent) : QObject(parent), tray_(tray) {}

void TNotifier::Notify(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        FallBack(summary, body);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), kDesktopName},
                            {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}};
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (the
    // server's default).
    call << QStringLiteral("Quorvane") << 0u << kDesktopName << summary << body << QStringList()
         << hints << -1;
    // Asynchronous: a server that is slow to start (it may be activated by this very call) must
    // not hold up the session tick.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, summary, body] {
        watcher->deleteLater();
        if (watcher->isError())
            FallBack(summary, body);
        else
            emit Settled(Route::Service);
    });
}

void TNotifier::FallBack(const QString& summary, const QString& body) {
    if (tray_ && tray_->isVisible() && QSystemTrayIcon::supportsMessages()) {
        tray_->showMessage(summary, body, QSystemTrayIcon::Information);
        emit Settled(Route::TrayMessage);
        return;
    }
    emit Settled(Route::Nowhere);
}

} // namespace quorvane
