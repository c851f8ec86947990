#pragma once
// Desktop notifications: through the freedesktop notification service on the session bus, as
// the tray icon's message where that is all there is, and nothing at all without either.

#include <QObject>
#include <QString>

class QSystemTrayIcon;

namespace quorvane {

class TNotifier : public QObject {
    Q_OBJECT
public:
    // Where a notification went in the end.
    enum class Route { Service, TrayMessage, Nowhere };
    Q_ENUM(Route)

    // `tray` (may be null) is the fallback; it must outlive the notifier, as the window's own
    // children do.
    explicit TNotifier(QSystemTrayIcon* tray, QObject* parent = nullptr);

    // Returns at once: the bus is never waited for on the window's thread. Settled tells where
    // the notification went; nothing here fails or shows a box.
    void Notify(const QString& summary, const QString& body);

signals:
    void Settled(quorvane::TNotifier::Route route);

private:
    void FallBack(const QString& summary, const QString& body);

    QSystemTrayIcon* tray_;
};

} // namespace quorvane
