#include "app/program.h"

#include "app/icons.h"
#include "app/timer.h"
#include "core/fd.h"
#include "core/regional.h"
#include "core/store_folder.h"
#include "core/version.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace quorvane {

namespace {

bool IsSet(const char* value) {
    return value && *value;
}

bool NamesPlatform(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0 ||
            std::strncmp(argv[i], "-platform=", 10) == 0)
            return true;
    }
    return false;
}

// The resident set size from /proc, in kB; -1 when it cannot be read.
long ResidentKilobytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // Files in /proc report a size of 0, so the whole file is read rather than tested for its end.
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// How long a start waits for the running Quorvane to answer. It answers at once, even from a
// message box; only one that hangs is waited for this long.
constexpr int kAnswerMs = 5000;

// One Quorvane per user: the first start listens on a local socket in the runtime folder
// ($XDG_RUNTIME_DIR, else the store folder; both are the user's alone), and a later start asks
// it to show its window and ends. The socket's name carries the store folder's, so a Quorvane
// started on a store folder of its own (QUORVANE_HOME) runs beside the user's. A start decides
// whether it is the first under an flock of a file beside the socket: two starts at once cannot
// both listen, and a socket left by a Quorvane that was killed, where nobody answers any more,
// is replaced.
class TInstanceChannel : public QObject {
public:
    enum class TStart {
        First,    // this one listens now
        Shown,    // the running one showed its window
        NoAnswer, // one runs, but it did not answer
        Alone,    // no channel could be set up here: this one runs without
    };
    // `why` says what went wrong for NoAnswer and Alone.
    TStart Claim(std::string& why);
    // How the window is shown when a later start asks; asked before, it is shown now.
    void SetShowWindow(std::function<void()> show);

private:
    void Serve();
    void Answer(QLocalSocket* client);
    void ShowWindow();

    UniqueFd folder_; // the socket's folder (before server_: it outlives the server's removal)
    QLocalServer server_;
    std::function<void()> show_;
    bool asked_ = false;
};

// The line a peer sends (without its line end), waiting at most kAnswerMs; "" when none came.
QByteArray ReadLine(QLocalSocket& socket) {
    const QDeadlineTimer deadline(kAnswerMs);
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() > 64 || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return {};
    }
    return socket.readLine(65).trimmed();
}

TInstanceChannel::TStart TInstanceChannel::Claim(std::string& why) {
    std::string folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        folder = runtime;
    } else if (EnsureStoreFolder()) {
        folder = StoreFolder().string();
    } else {
        why = "the store folder " + StoreFolder().string() + " cannot be made";
        return TStart::Alone;
    }
    folder_.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_) {
        why = folder + " cannot be opened (" + std::strerror(errno) + ")";
        return TStart::Alone;
    }
    const std::string store = std::filesystem::absolute(StoreFolder()).lexically_normal().string();
    const std::string name =
        "quorvane-" +
        QCryptographicHash::hash(QByteArray::fromStdString(store), QCryptographicHash::Sha256)
            .toHex()
            .left(16)
            .toStdString();
    const std::string socketName = name + ".socket";
    std::string path = folder + "/" + socketName;
    // A socket's path has 107 bytes (Qt asks one more): one in a deeper folder is reached
    // through this process's descriptor of its folder.
    if (path.size() + 2 > sizeof(sockaddr_un::sun_path))
        path = "/proc/self/fd/" + std::to_string(folder_.get()) + "/" + socketName;
    const QString address = QFile::decodeName(path.c_str());

    UniqueFd decision(::openat(folder_.get(), (name + ".lock").c_str(),
                               O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    int locked = -1;
    while (decision && (locked = ::flock(decision.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        why = folder + "/" + name + ".lock cannot be locked (" + std::strerror(errno) + ")";
        return TStart::Alone;
    }
    QLocalSocket running;
    running.connectToServer(address);
    if (running.waitForConnected(kAnswerMs)) {
        decision.reset(); // the running one is there: the next start may ask it too
        running.write("show\n");
        if (running.waitForBytesWritten(kAnswerMs) && ReadLine(running) == "shown")
            return TStart::Shown;
        why = "it does not answer on " + path;
        return TStart::NoAnswer;
    }
    // Nobody listens there. A socket left by a Quorvane that was killed goes; anything else
    // under that name is not ours to touch.
    if (struct stat st;
        ::fstatat(folder_.get(), socketName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            why = folder + "/" + socketName + " is in the way";
            return TStart::Alone;
        }
        ::unlinkat(folder_.get(), socketName.c_str(), 0);
    }
    if (!server_.listen(address)) {
        why = "cannot listen on " + path + " (" + server_.errorString().toStdString() + ")";
        return TStart::Alone;
    }
    connect(&server_, &QLocalServer::newConnection, this, &TInstanceChannel::Serve);
    return TStart::First;
}

void TInstanceChannel::SetShowWindow(std::function<void()> show) {
    show_ = std::move(show);
    if (asked_)
        ShowWindow();
}

void TInstanceChannel::Serve() {
    while (QLocalSocket* client = server_.nextPendingConnection()) {
        connect(client, &QLocalSocket::readyRead, this, [this, client] { Answer(client); });
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        Answer(client);
    }
}

void TInstanceChannel::Answer(QLocalSocket* client) {
    if (!client->canReadLine()) {
        if (client->bytesAvailable() > 64)
            client->abort(); // not a start of ours
        return;
    }
    if (client->readLine(65).trimmed() == "show") {
        ShowWindow();
        client->write("shown\n");
    }
    client->disconnectFromServer();
}

void TInstanceChannel::ShowWindow() {
    asked_ = !show_;
    if (show_)
        show_();
}

} // namespace

std::optional<std::string> MissingDisplayMessage(int argc, char** argv,
                                                 const EnvironmentReader& environment) {
    if (IsSet(environment("QT_QPA_PLATFORM")) || NamesPlatform(argc, argv))
        return std::nullopt;
    if (IsSet(environment("WAYLAND_DISPLAY")))
        return std::nullopt;
    const char* display = environment("DISPLAY");
    if (!IsSet(display))
        return std::string("quorvane: no graphical display found (neither DISPLAY nor "
                           "WAYLAND_DISPLAY is set); Quorvane needs a desktop session to run.");
    // Qt would abort on a display it cannot open; a trial connection lets us say so plainly.
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (failed)
        return "quorvane: cannot open the X display \"" + std::string(display) +
               "\"; Quorvane needs a desktop session to run.";
    return std::nullopt;
}

int RunProgram(int argc, char** argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();

    if (const auto message =
            MissingDisplayMessage(argc, argv, [](const char* name) { return std::getenv(name); })) {
        std::fprintf(stderr, "%s\n", message->c_str());
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    // The installed desktop entry, so the desktop shows the window as that program's.
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvane"));
    QApplication::setWindowIcon(ProgramIcon());

    TInstanceChannel channel;
    std::string why;
    switch (channel.Claim(why)) {
    case TInstanceChannel::TStart::First:
        break;
    case TInstanceChannel::TStart::Shown:
        return 0;
    case TInstanceChannel::TStart::NoAnswer:
        std::fprintf(stderr, "quorvane: Quorvane is running already, but %s.\n", why.c_str());
        return 1;
    case TInstanceChannel::TStart::Alone:
        std::fprintf(stderr,
                     "quorvane: another start would not find this one: %s. Starting all the "
                     "same.\n",
                     why.c_str());
        break;
    }

    Regional() = RegionalSettings::FromLocale("").value_or(RegionalSettings{});

    TfrmTimer frmTimer;
    // From now on a later start shows this window, restored and raised.
    channel.SetShowWindow([&frmTimer] { frmTimer.OnRestore(); });

    // A diagnostic switch for measuring start-up: report at the first idle moment and end.
    if (qEnvironmentVariableIsSet("QUORVANE_QUIT_WHEN_IDLE")) {
        QTimer::singleShot(0, &frmTimer, [&sinceStart] {
            std::fprintf(stderr, "quorvane: idle %lld ms after start, resident %ld kB\n",
                         static_cast<long long>(sinceStart.elapsed()), ResidentKilobytes());
            QCoreApplication::exit(0);
        });
    }
    return QApplication::exec();
}

} // namespace quorvane
