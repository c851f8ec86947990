#include "app/network_manager.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QVariantMap>

#include <map>
#include <memory>

namespace quorvane {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
// NetworkManager's object manager: one call gives every device and connection with its
// properties.
const QString kRoot = QStringLiteral("/org/freedesktop");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kActive = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kDevice = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kSettingsConnection =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");

// NMActiveConnectionState and NMMetered.
constexpr uint kActivated = 2;
constexpr uint kMeteredYes = 1;
constexpr uint kMeteredGuessYes = 3;

struct Device {
    std::string interface;
    bool metered = false;
};

struct Active {
    std::string id;
    QList<QDBusObjectPath> devices;
    uint state = 0;
};

// a{sa{sv}}: each interface's properties.
std::map<QString, QVariantMap> ReadInterfaces(const QDBusArgument& argument) {
    std::map<QString, QVariantMap> interfaces;
    argument.beginMap();
    while (!argument.atEnd()) {
        QString name;
        QVariantMap properties;
        argument.beginMapEntry();
        argument >> name >> properties;
        argument.endMapEntry();
        interfaces[name] = properties;
    }
    argument.endMap();
    return interfaces;
}

} // namespace

TNetworkManager::TNetworkManager(QObject* parent)
    : QObject(parent), bus_(QDBusConnection::systemBus()) {
    if (!bus_.isConnected())
        return;
    // Every change NetworkManager reports brings one read of everything: changes are rare,
    // and a read is one call.
    bus_.connect(kService, QString(), kProperties, QStringLiteral("PropertiesChanged"), this,
                 SLOT(Refresh()));
    for (const char* signal : {"InterfacesAdded", "InterfacesRemoved"})
        bus_.connect(kService, kRoot, kObjectManager, QString::fromLatin1(signal), this,
                     SLOT(Refresh()));
    auto* service = new QDBusServiceWatcher(kService, bus_,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(service, &QDBusServiceWatcher::serviceOwnerChanged, this, &TNetworkManager::Refresh);
    Refresh();
}

void TNetworkManager::Refresh() {
    if (reading_) {
        again_ = true;
        return;
    }
    reading_ = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kRoot, kObjectManager,
                                                             QStringLiteral("GetManagedObjects"));
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, &TNetworkManager::Read);
}

void TNetworkManager::Read(QDBusPendingCallWatcher* call) {
    call->deleteLater();
    reading_ = false;
    const int generation = ++generation_;
    std::map<QString, Device> devices;
    std::vector<Active> actives;
    std::vector<QString> connections;
    // An error (no NetworkManager) reads as nothing at all.
    if (!call->isError()) {
        const QDBusArgument objects = call->reply().arguments().value(0).value<QDBusArgument>();
        objects.beginMap();
        while (!objects.atEnd()) {
            QDBusObjectPath path;
            objects.beginMapEntry();
            objects >> path;
            for (const auto& [name, properties] : ReadInterfaces(objects)) {
                if (name == kDevice) {
                    const QString ip = properties.value(QStringLiteral("IpInterface")).toString();
                    const uint metered = properties.value(QStringLiteral("Metered")).toUInt();
                    devices[path.path()] = {
                        (ip.isEmpty() ? properties.value(QStringLiteral("Interface")).toString()
                                      : ip)
                            .toStdString(),
                        metered == kMeteredYes || metered == kMeteredGuessYes};
                } else if (name == kActive) {
                    actives.push_back(
                        {properties.value(QStringLiteral("Id")).toString().toStdString(),
                         qdbus_cast<QList<QDBusObjectPath>>(
                             properties.value(QStringLiteral("Devices"))),
                         properties.value(QStringLiteral("State")).toUInt()});
                } else if (name == kSettingsConnection) {
                    connections.push_back(path.path());
                }
            }
            objects.endMapEntry();
        }
        objects.endMap();
    }
    active_.clear();
    for (const Active& a : actives) {
        if (a.state != kActivated)
            continue;
        NmConnection connection{a.id, {}, false};
        for (const QDBusObjectPath& device : a.devices) {
            const auto it = devices.find(device.path());
            if (it == devices.end() || it->second.interface.empty())
                continue;
            connection.interfaces.push_back(it->second.interface);
            connection.metered = connection.metered || it->second.metered;
        }
        active_.push_back(std::move(connection));
    }
    emit Changed();
    ReadNames(connections, generation);
    if (std::exchange(again_, false))
        Refresh();
}

void TNetworkManager::ReadNames(const std::vector<QString>& connections, int generation) {
    if (connections.empty()) {
        if (!names_.empty()) {
            names_.clear();
            emit Changed();
        }
        return;
    }
    // A connection's name is in its settings, not among its properties: one call each, all
    // sent at once, the names taken when the last answer is in.
    auto names = std::make_shared<std::vector<std::string>>(connections.size());
    auto left = std::make_shared<std::size_t>(connections.size());
    for (std::size_t i = 0; i < connections.size(); ++i) {
        const QDBusMessage call = QDBusMessage::createMethodCall(
            kService, connections[i], kSettingsConnection, QStringLiteral("GetSettings"));
        auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this,
                [this, pending, names, left, i, generation] {
                    pending->deleteLater();
                    if (!pending->isError()) {
                        const auto settings = ReadInterfaces(
                            pending->reply().arguments().value(0).value<QDBusArgument>());
                        if (const auto it = settings.find(QStringLiteral("connection"));
                            it != settings.end())
                            (*names)[i] = it->second.value(QStringLiteral("id")).toString()
                                              .toStdString();
                    }
                    if (--*left > 0 || generation != generation_)
                        return;
                    std::vector<std::string> read;
                    for (std::string& name : *names)
                        if (!name.empty())
                            read.push_back(std::move(name));
                    if (read != names_) {
                        names_ = std::move(read);
                        emit Changed();
                    }
                });
    }
}

} // namespace quorvane
