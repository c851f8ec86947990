// The desktop's panel for the end-to-end tests, a second process on the tests' session bus: it
// owns org.kde.StatusNotifierWatcher, so that a program's tray icon registers with it as it does
// on a desktop with a tray, and clicks an entry of that icon's menu as the user would.
//   tray_host   prints "ready" once the name is owned. Each line "click ENTRY" on standard input
//               then clicks the entry of that text in the menu of the first icon registered
//               (after waiting for one to register) and prints "clicked", or "no entry ENTRY"
//               when the menu shows no such entry that can be clicked. Ends with standard input.
// Exit status 1: the session bus or the name could not be had.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QSocketNotifier>
#include <QStringList>

#include <cstdio>
#include <deque>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

void Say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// One entry of a menu layout (com.canonical.dbusmenu's "(ia{sv}av)"), with those below it.
struct MenuEntry {
    int id = 0;
    QVariantMap properties;
    std::vector<MenuEntry> children;
};

MenuEntry ReadEntry(const QDBusArgument& argument) {
    MenuEntry entry;
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        entry.children.push_back(ReadEntry(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return entry;
}

// The entry showing `text` that can be clicked: visible and enabled, as a panel draws them.
std::optional<int> FindEntry(const MenuEntry& menu, const QString& text) {
    for (const MenuEntry& child : menu.children) {
        const bool usable = child.properties.value(QStringLiteral("visible"), true).toBool() &&
                            child.properties.value(QStringLiteral("enabled"), true).toBool();
        if (usable && child.properties.value(QStringLiteral("label")).toString() == text)
            return child.id;
        if (const auto found = FindEntry(child, text))
            return found;
    }
    return std::nullopt;
}

class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
public:
    explicit Watcher(QDBusConnection bus) : bus_(std::move(bus)) {}

    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }
    QStringList RegisteredStatusNotifierItems() const { return items_; }

    void Click(const QString& text) {
        pending_.push_back(text);
        Serve();
    }

public slots:
    // The item names its service, or its object path on the caller's connection.
    void RegisterStatusNotifierItem(const QString& item, const QDBusMessage& message) {
        items_ << (item.startsWith(QLatin1Char('/')) ? message.service() : item);
        emit StatusNotifierItemRegistered(items_.back());
        Serve();
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();

private:
    void Serve() {
        while (!pending_.empty() && !items_.isEmpty()) {
            const QString text = pending_.front();
            pending_.pop_front();
            Say(ClickEntry(items_.front(), text) ? QStringLiteral("clicked")
                                                 : QStringLiteral("no entry ") + text);
        }
    }

    // As a panel opens the menu and clicks: the menu told it is about to show, its layout
    // read, the entry clicked.
    bool ClickEntry(const QString& item, const QString& text) {
        const QDBusMessage menuProperty = bus_.call(QDBusMessage::createMethodCall(
            item, QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"))
                                                        << QStringLiteral("org.kde.StatusNotifierItem")
                                                        << QStringLiteral("Menu"));
        if (menuProperty.type() != QDBusMessage::ReplyMessage)
            return false;
        const QString menu = menuProperty.arguments()
                                 .value(0)
                                 .value<QDBusVariant>()
                                 .variant()
                                 .value<QDBusObjectPath>()
                                 .path();
        const auto call = [&](const QString& method, const QVariantList& arguments) {
            QDBusMessage message =
                QDBusMessage::createMethodCall(item, menu, kMenuInterface, method);
            message.setArguments(arguments);
            return bus_.call(message);
        };
        call(QStringLiteral("AboutToShow"), {0});
        const QDBusMessage layout =
            call(QStringLiteral("GetLayout"), {0, -1, QStringList()});
        if (layout.type() != QDBusMessage::ReplyMessage || layout.arguments().size() < 2)
            return false;
        const auto id =
            FindEntry(ReadEntry(layout.arguments().at(1).value<QDBusArgument>()), text);
        if (!id)
            return false;
        const QDBusMessage clicked =
            call(QStringLiteral("Event"), {*id, QStringLiteral("clicked"),
                                           QVariant::fromValue(QDBusVariant(0)), 0u});
        return clicked.type() == QDBusMessage::ReplyMessage;
    }

    QDBusConnection bus_;
    QStringList items_;
    std::deque<QString> pending_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher(bus);
    if (!bus.isConnected() ||
        !bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(kWatcher))
        return 1;
    Say(QStringLiteral("ready"));

    QByteArray input;
    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        input.append(buffer, static_cast<int>(n));
        for (qsizetype end; (end = input.indexOf('\n')) >= 0; input.remove(0, end + 1)) {
            const QString line = QString::fromUtf8(input.left(end));
            if (line.startsWith(QStringLiteral("click ")))
                watcher.Click(line.mid(6));
        }
    });
    return QCoreApplication::exec();
}

#include "tray_host.moc"
