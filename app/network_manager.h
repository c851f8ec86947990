#pragma once
// What NetworkManager says of the connections, for the Network Interface method: the active
// connections with their interfaces and whether each is metered, and the names of all the
// connections it keeps. Read from the system bus ($DBUS_SYSTEM_BUS_ADDRESS decides which) with
// one call to its object manager, made again whenever NetworkManager reports a change, comes or
// goes; never waited for on the window's thread. Without NetworkManager there is nothing, and
// nothing fails.

#include "watch/net_interfaces.h"

#include <QDBusConnection>
#include <QObject>

#include <string>
#include <vector>

class QDBusMessage;
class QDBusPendingCallWatcher;

namespace quorvane {

class TNetworkManager : public QObject {
    Q_OBJECT
public:
    explicit TNetworkManager(QObject* parent = nullptr);

    // The connections NetworkManager has activated, as it last said; none without it.
    const std::vector<NmConnection>& ActiveConnections() const { return active_; }
    // The names of every connection it keeps, in its order.
    const std::vector<std::string>& ConnectionNames() const { return names_; }

signals:
    // What NetworkManager says has been read afresh.
    void Changed();

private slots:
    void Refresh();

private:
    void Read(QDBusPendingCallWatcher* call);
    void ReadNames(const std::vector<QString>& connections, int generation);

    QDBusConnection bus_;
    // A read in flight, and whether another change came meanwhile.
    bool reading_ = false;
    bool again_ = false;
    // Answers of an older read are dropped.
    int generation_ = 0;
    std::vector<NmConnection> active_;
    std::vector<std::string> names_;
};

} // namespace quorvane
