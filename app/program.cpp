#include "app/program.h"

#include "app/icons.h"
#include "app/timer.h"
#include "core/fd.h"
#include "core/regional.h"
#include "core/store_folder.h"
#include "core/version.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
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
// The longest line either side sends, without its line end.
constexpr std::size_t kLongestLine = 64;

// One Quorvane per user: the first start listens on a local socket in the runtime folder
// ($XDG_RUNTIME_DIR, else the store folder; both are the user's alone), and a later start asks
// it to show its window and ends. The socket's name carries the store folder's, so a Quorvane
// started on a store folder of its own (QUORVANE_HOME) runs beside the user's. A start decides
// whether it is the first under an flock of a file beside the socket: two starts at once cannot
// both listen, and a socket left by a Quorvane that was killed, where nobody answers any more,
// is replaced. Plain Unix sockets under the window's event loop: Qt's network module would be
// loaded, with the Kerberos and proxy libraries it brings, at every start for one line each way.
class TInstanceChannel : public QObject {
public:
    enum class TStart {
        First,    // this one listens now
        Shown,    // the running one showed its window
        NoAnswer, // one runs, but it did not answer
        Alone,    // no channel could be set up here: this one runs without
    };
    ~TInstanceChannel() override;
    // `why` says what went wrong for NoAnswer and Alone.
    TStart Claim(std::string& why);
    // How the window is shown when a later start asks; asked before, it is shown now.
    void SetShowWindow(std::function<void()> show);

private:
    // A later start's connection, until it has asked.
    struct TPeer {
        UniqueFd fd;
        QSocketNotifier* readable = nullptr;
        QByteArray received;
    };

    void Serve();
    void Answer(TPeer& peer);
    void Drop(TPeer& peer);
    void ShowWindow();

    UniqueFd folder_; // the socket's folder, where the socket is removed again
    std::string socketName_;
    UniqueFd listener_;
    QSocketNotifier* incoming_ = nullptr;
    std::map<int, TPeer> peers_; // by descriptor
    std::function<void()> show_;
    bool asked_ = false;
};

// The Unix socket address of `path`; false when it is too long for one.
bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The running Quorvane's answer to "show": the line it sends back (without its line end), or ""
// when it sent none within kAnswerMs.
std::string AskToShow(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerMs);
    const auto remaining = [&] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<std::int64_t>(0, left.count()));
    };
    static constexpr char kAsk[] = "show\n";
    for (std::size_t sent = 0; sent < sizeof kAsk - 1;) {
        pollfd writable{fd, POLLOUT, 0};
        if (::poll(&writable, 1, remaining()) != 1)
            return {};
        const ssize_t n = ::send(fd, kAsk + sent, sizeof kAsk - 1 - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return {};
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    std::string line;
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, remaining()) != 1)
            return {};
        char buffer[kLongestLine + 1];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            return {};
        line.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (const std::size_t end = line.find('\n'); end != std::string::npos)
            return QByteArray::fromStdString(line.substr(0, end)).trimmed().toStdString();
        if (line.size() > kLongestLine)
            return {};
    }
}

TInstanceChannel::~TInstanceChannel() {
    // Each notifier before its descriptor closes.
    for (auto& [fd, peer] : peers_)
        delete peer.readable;
    delete incoming_;
    if (listener_)
        ::unlinkat(folder_.get(), socketName_.c_str(), 0);
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
    // A socket's path has 107 bytes: one in a deeper folder is reached through this process's
    // descriptor of its folder.
    sockaddr_un address{};
    if (!SocketAddress(path, address)) {
        path = "/proc/self/fd/" + std::to_string(folder_.get()) + "/" + socketName;
        SocketAddress(path, address);
    }

    UniqueFd decision(::openat(folder_.get(), (name + ".lock").c_str(),
                               O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    int locked = -1;
    while (decision && (locked = ::flock(decision.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        why = folder + "/" + name + ".lock cannot be locked (" + std::strerror(errno) + ")";
        return TStart::Alone;
    }
    const auto* socketAddress = reinterpret_cast<const sockaddr*>(&address);
    // A connect waits while the running one's backlog is full, as long as an answer.
    const timeval wait{kAnswerMs / 1000, 0};
    if (UniqueFd running(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        running && ::setsockopt(running.get(), SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) == 0 &&
        ::connect(running.get(), socketAddress, sizeof address) == 0) {
        decision.reset(); // the running one is there: the next start may ask it too
        if (AskToShow(running.get()) == "shown")
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
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener || ::bind(listener.get(), socketAddress, sizeof address) != 0 ||
        ::listen(listener.get(), SOMAXCONN) != 0) {
        why = "cannot listen on " + path + " (" + std::strerror(errno) + ")";
        return TStart::Alone;
    }
    listener_ = std::move(listener);
    socketName_ = socketName;
    incoming_ = new QSocketNotifier(listener_.get(), QSocketNotifier::Read, this);
    connect(incoming_, &QSocketNotifier::activated, this, &TInstanceChannel::Serve);
    return TStart::First;
}

void TInstanceChannel::SetShowWindow(std::function<void()> show) {
    show_ = std::move(show);
    if (asked_)
        ShowWindow();
}

void TInstanceChannel::Serve() {
    for (;;) {
        UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        const int key = fd.get();
        TPeer& peer = peers_[key];
        peer.fd = std::move(fd);
        peer.readable = new QSocketNotifier(key, QSocketNotifier::Read, this);
        connect(peer.readable, &QSocketNotifier::activated, this, [this, key] {
            if (const auto found = peers_.find(key); found != peers_.end())
                Answer(found->second);
        });
        Answer(peer);
    }
}

void TInstanceChannel::Answer(TPeer& peer) {
    char buffer[kLongestLine + 1];
    for (;;) {
        const ssize_t n = ::recv(peer.fd.get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            peer.received.append(buffer, n);
            if (peer.received.size() > qsizetype(kLongestLine) || peer.received.contains('\n'))
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return; // the rest of the line comes later
        break; // the start went away, or its connection failed
    }
    const qsizetype end = peer.received.indexOf('\n');
    // Anything but a line of ours is not a start of ours: it gets no answer.
    if (end >= 0 && end <= qsizetype(kLongestLine) && peer.received.left(end).trimmed() == "show") {
        ShowWindow();
        ::send(peer.fd.get(), "shown\n", 6, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    Drop(peer);
}

void TInstanceChannel::Drop(TPeer& peer) {
    // The notifier may be the one whose signal runs now: it goes once that has returned.
    peer.readable->setEnabled(false);
    peer.readable->deleteLater();
    peers_.erase(peer.fd.get());
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
