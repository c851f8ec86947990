#include "app/program.h"

#include "app/icons.h"
#include "app/messages.h"
#include "app/timer.h"
#include "core/fd.h"
#include "core/regional.h"
#include "core/store_folder.h"
#include "core/version.h"

#include <QApplication>
#include <QCoreApplication>
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
#include <string>
#include <poll.h>
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
// In the store folder: the lock that decides which start runs on the store. Its first byte is
// held while a start decides, its second for as long as a Quorvane runs on the store.
constexpr char kStoreLock[] = "quorvane.lock";
constexpr off_t kDecidingByte = 0;
constexpr off_t kRunningByte = 1;

// Why a start could not do its part of the channel, told in English on standard error and in
// the user's language in a box.
struct TChannelTrouble {
    enum Kind {
        None,
        NoStoreFolder,   // `path`: the store folder cannot be made
        LockInTheWay,    // `path` is the lock's name, but `type` (a link, a folder ...) has it
        LockUnusable,    // `path` cannot be opened or locked: `error`
        FolderUnusable,  // the socket's folder `path` cannot be opened: `error`
        SocketInTheWay,  // something other than a socket has the socket's name `path`
        CannotListen,    // `path` cannot be listened on: `error`
        NobodyListens,   // nothing answers a connection to `path`: `error`
        NoAnswer,        // the running one took the connection on `path` but did not answer
    };
    Kind kind = None;
    std::string path;
    int error = 0;
    mode_t type = 0;
};

// The trouble as a phrase of a line on standard error.
std::string EnglishTrouble(const TChannelTrouble& t) {
    const std::string error = t.error != 0 ? std::strerror(t.error) : "";
    switch (t.kind) {
    case TChannelTrouble::None:
        return "";
    case TChannelTrouble::NoStoreFolder:
        return "the store folder " + t.path + " cannot be made";
    case TChannelTrouble::LockInTheWay:
        return t.path + (S_ISLNK(t.type)   ? " is a symbolic link, which is never followed"
                         : S_ISDIR(t.type) ? " is a folder"
                                           : " is not a regular file");
    case TChannelTrouble::LockUnusable:
        return t.path + " cannot be locked (" + error + ")";
    case TChannelTrouble::FolderUnusable:
        return "the folder " + t.path + " cannot be opened (" + error + ")";
    case TChannelTrouble::SocketInTheWay:
        return t.path + " is in the way";
    case TChannelTrouble::CannotListen:
        return "cannot listen on " + t.path + " (" + error + ")";
    case TChannelTrouble::NobodyListens:
        return "nothing listens on " + t.path + " (" + error + ")";
    case TChannelTrouble::NoAnswer:
        return "it does not answer on " + t.path;
    }
    return "";
}

// The same in the user's language.
class TChannelTexts {
    Q_DECLARE_TR_FUNCTIONS(TChannelTexts)

public:
    static QString Trouble(const TChannelTrouble& t) {
        const QString path = QString::fromStdString(t.path);
        const QString error = qt_error_string(t.error);
        switch (t.kind) {
        case TChannelTrouble::None:
            return {};
        case TChannelTrouble::NoStoreFolder:
            return tr("the store folder %1 cannot be made").arg(path);
        case TChannelTrouble::LockInTheWay:
            return S_ISLNK(t.type) ? tr("%1 is a symbolic link, which is never followed").arg(path)
                   : S_ISDIR(t.type) ? tr("%1 is a folder").arg(path)
                                     : tr("%1 is not a regular file").arg(path);
        case TChannelTrouble::LockUnusable:
            return tr("%1 cannot be locked (%2)").arg(path, error);
        case TChannelTrouble::FolderUnusable:
            return tr("the folder %1 cannot be opened (%2)").arg(path, error);
        case TChannelTrouble::SocketInTheWay:
            return tr("%1 is in the way").arg(path);
        case TChannelTrouble::CannotListen:
            return tr("it cannot listen on %1 (%2)").arg(path, error);
        case TChannelTrouble::NobodyListens:
            return tr("nothing listens on %1 (%2)").arg(path, error);
        case TChannelTrouble::NoAnswer:
            return tr("it does not answer on %1").arg(path);
        }
        return {};
    }

    // A second start on a store in use that could not reach the Quorvane that runs on it.
    static QString Unreachable(const QString& store, long pid, const TChannelTrouble& t) {
        const QString running =
            pid > 0 ? tr("Quorvane is running already on the store folder %1 (process %2).")
                          .arg(store)
                          .arg(pid)
                    : tr("Quorvane is running already on the store folder %1.").arg(store);
        return running + QStringLiteral("\n\n") +
               tr("Only one Quorvane runs on a store, and this start could not ask that one to "
                  "show its window: %1.")
                   .arg(Trouble(t)) +
               QStringLiteral("\n\n") +
               tr("Use its taskbar entry or its tray icon. Once what is named above is put "
                  "right, the next time it starts it can be reached again.");
    }

    // A start that cannot make sure it is the only one on its store.
    static QString Unlocked(const QString& store, const TChannelTrouble& t) {
        return tr("Quorvane cannot make sure that it is the only one running on the store "
                  "folder %1: %2.")
                   .arg(store, Trouble(t)) +
               QStringLiteral("\n\n") +
               tr("Move what has that name out of the store folder, or give yourself the "
                  "permission to write in the folder, then start Quorvane again.");
    }
};

// One Quorvane per store folder, whatever stands elsewhere: the first start holds a lock on a
// file in the store folder for as long as it runs, and a start that finds it held runs no
// further. The running one listens on a local socket in the runtime folder ($XDG_RUNTIME_DIR,
// else the store folder; both are the user's alone), and a later start asks it there to show
// its window; one that cannot reach it says why and ends all the same. The socket's name carries
// the store folder's, so a Quorvane on a store folder of its own (QUORVANE_HOME) runs beside the
// user's. A start decides under the lock's first byte, held until it listens: two starts at once
// cannot both listen, and a socket left by a Quorvane that was killed, where nobody answers any
// more, is replaced. Plain Unix sockets under the window's event loop: Qt's network module would
// be loaded, with the Kerberos and proxy libraries it brings, at every start for one line each
// way.
class TInstanceChannel : public QObject {
public:
    enum class TStart {
        First,       // this one runs on the store; trouble() says why a later start cannot
                     // reach it, if it cannot
        Shown,       // the running one showed its window
        Unreachable, // one runs on the store, but it could not be asked (trouble() says why)
        Unlocked,    // the store's lock cannot be had (trouble() says why): none runs
        NoStore,     // the store folder cannot be made: this one runs, without a store
    };
    ~TInstanceChannel() override;
    TStart Claim();
    const TChannelTrouble& trouble() const { return trouble_; }
    // The process that runs on the store, as it wrote itself into the lock; 0 when unknown.
    long runningPid() const { return runningPid_; }
    // How the window is shown when a later start asks; asked before, it is shown now.
    void SetShowWindow(std::function<void()> show);

private:
    // A later start's connection, until it has asked.
    struct TPeer {
        UniqueFd fd;
        QSocketNotifier* readable = nullptr;
        QByteArray received;
    };

    bool OpenStoreLock();
    // Listens on the socket; `shown` is its name as a message gives it.
    void Listen(int socketFolder, const std::string& socketName, const sockaddr_un& address,
                const std::string& shown);
    void Serve();
    void Answer(TPeer& peer);
    void Drop(TPeer& peer);
    void ShowWindow();

    UniqueFd lock_;   // the store folder's lock, held while this one runs
    UniqueFd folder_; // the socket's folder, where the socket is removed again
    std::string socketName_;
    UniqueFd listener_;
    QSocketNotifier* incoming_ = nullptr;
    std::map<int, TPeer> peers_; // by descriptor
    std::function<void()> show_;
    bool asked_ = false;
    TChannelTrouble trouble_;
    long runningPid_ = 0;
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

// A write lock on one byte of `fd`, held by this open of the file (not the process, so nothing
// else this process opens or closes lets it go), waited for or not; 0 when taken, else errno.
int LockByte(int fd, off_t byte, bool wait) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

void UnlockByte(int fd, off_t byte) {
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    ::fcntl(fd, F_OFD_SETLK, &lock);
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

bool TInstanceChannel::OpenStoreLock() {
    const std::string store = StoreFolder().string();
    const std::string path = (StoreFolder() / kStoreLock).string();
    // A link to the store folder is the store folder; a link in the lock's place is never
    // followed, and nothing but a regular file is ever opened there (a pipe would hang a start).
    const UniqueFd folder(::open(store.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        trouble_ = {TChannelTrouble::LockUnusable, store, errno, 0};
        return false;
    }
    struct stat st {};
    if (::fstatat(folder.get(), kStoreLock, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(st.st_mode)) {
        trouble_ = {TChannelTrouble::LockInTheWay, path, 0, st.st_mode};
        return false;
    }
    lock_.reset(::openat(folder.get(), kStoreLock,
                         O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    if (!lock_) {
        trouble_ = errno == ELOOP ? TChannelTrouble{TChannelTrouble::LockInTheWay, path, 0, S_IFLNK}
                                  : TChannelTrouble{TChannelTrouble::LockUnusable, path, errno, 0};
        return false;
    }
    if (::fstat(lock_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        trouble_ = {TChannelTrouble::LockInTheWay, path, 0, st.st_mode};
        lock_.reset();
        return false;
    }
    if (const int error = LockByte(lock_.get(), kDecidingByte, true); error != 0) {
        trouble_ = {TChannelTrouble::LockUnusable, path, error, 0};
        lock_.reset();
        return false;
    }
    return true;
}

TInstanceChannel::TStart TInstanceChannel::Claim() {
    if (!EnsureStoreFolder()) {
        trouble_ = {TChannelTrouble::NoStoreFolder, StoreFolder().string(), 0, 0};
        return TStart::NoStore;
    }
    if (!OpenStoreLock())
        return TStart::Unlocked;
    const std::string lockPath = (StoreFolder() / kStoreLock).string();

    // Where the running one listens.
    std::string folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        folder = runtime;
    else
        folder = StoreFolder().string();
    const std::string store = std::filesystem::absolute(StoreFolder()).lexically_normal().string();
    const std::string socketName =
        "quorvane-" +
        QCryptographicHash::hash(QByteArray::fromStdString(store), QCryptographicHash::Sha256)
            .toHex()
            .left(16)
            .toStdString() +
        ".socket";
    const std::string shown = folder + "/" + socketName;
    std::string path = shown;
    folder_.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const int folderError = folder_ ? 0 : errno;
    // A socket's path has 107 bytes: one in a deeper folder is reached through this process's
    // descriptor of its folder.
    sockaddr_un address{};
    if (!SocketAddress(path, address) && folder_) {
        path = "/proc/self/fd/" + std::to_string(folder_.get()) + "/" + socketName;
        SocketAddress(path, address);
    }

    // Twice at most: the one that runs may end between the look at its lock and the connection.
    for (int look = 0;; ++look) {
        if (const int error = LockByte(lock_.get(), kRunningByte, false); error == 0) {
            // This one runs on the store: it says which process it is, for a later start.
            trouble_ = {};
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(lock_.get(), 0) == 0)
                (void)!::pwrite(lock_.get(), pid.data(), pid.size(), 0);
            if (folder_)
                Listen(folder_.get(), socketName, address, shown);
            else
                trouble_ = {TChannelTrouble::FolderUnusable, folder, folderError, 0};
            UnlockByte(lock_.get(), kDecidingByte);
            return TStart::First;
        } else if (error != EAGAIN && error != EACCES) {
            trouble_ = {TChannelTrouble::LockUnusable, lockPath, error, 0};
            return TStart::Unlocked;
        }
        char text[24] = {};
        if (::pread(lock_.get(), text, sizeof text - 1, 0) > 0)
            runningPid_ = std::strtol(text, nullptr, 10);
        if (!folder_) {
            trouble_ = {TChannelTrouble::FolderUnusable, folder, folderError, 0};
        } else {
            const auto* socketAddress = reinterpret_cast<const sockaddr*>(&address);
            // A connect waits while the running one's backlog is full, as long as an answer.
            const timeval wait{kAnswerMs / 1000, 0};
            UniqueFd running(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (running &&
                ::setsockopt(running.get(), SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) == 0 &&
                ::connect(running.get(), socketAddress, sizeof address) == 0) {
                // The running one is there: the next start may ask it too.
                UnlockByte(lock_.get(), kDecidingByte);
                lock_.reset();
                if (AskToShow(running.get()) == "shown")
                    return TStart::Shown;
                trouble_ = {TChannelTrouble::NoAnswer, shown, 0, 0};
                return TStart::Unreachable;
            }
            const int error = errno;
            struct stat st {};
            if (::fstatat(folder_.get(), socketName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                !S_ISSOCK(st.st_mode))
                trouble_ = {TChannelTrouble::SocketInTheWay, shown, 0, 0};
            else
                trouble_ = {TChannelTrouble::NobodyListens, shown, error, 0};
        }
        if (look == 1) {
            lock_.reset();
            return TStart::Unreachable;
        }
    }
}

void TInstanceChannel::Listen(int socketFolder, const std::string& socketName,
                              const sockaddr_un& address, const std::string& shown) {
    // A socket left by a Quorvane that was killed goes; anything else under that name is not
    // ours to touch.
    if (struct stat st; ::fstatat(socketFolder, socketName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            trouble_ = {TChannelTrouble::SocketInTheWay, shown, 0, 0};
            return;
        }
        ::unlinkat(socketFolder, socketName.c_str(), 0);
    }
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener ||
        ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), SOMAXCONN) != 0) {
        trouble_ = {TChannelTrouble::CannotListen, shown, errno, 0};
        return;
    }
    listener_ = std::move(listener);
    socketName_ = socketName;
    incoming_ = new QSocketNotifier(listener_.get(), QSocketNotifier::Read, this);
    connect(incoming_, &QSocketNotifier::activated, this, &TInstanceChannel::Serve);
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
    const QString store = QString::fromStdString(StoreFolder().string());
    switch (channel.Claim()) {
    case TInstanceChannel::TStart::First:
        if (channel.trouble().kind != TChannelTrouble::None)
            std::fprintf(stderr,
                         "quorvane: a later start cannot reach this one to show its window: %s; "
                         "it is refused all the same.\n",
                         EnglishTrouble(channel.trouble()).c_str());
        break;
    case TInstanceChannel::TStart::Shown:
        return 0;
    case TInstanceChannel::TStart::Unreachable:
        std::fprintf(stderr,
                     "quorvane: Quorvane is running already on the store folder %s%s, but this "
                     "start cannot ask it to show its window: %s.\n",
                     StoreFolder().c_str(),
                     channel.runningPid() > 0
                         ? (" (process " + std::to_string(channel.runningPid()) + ")").c_str()
                         : "",
                     EnglishTrouble(channel.trouble()).c_str());
        ShowWarning(TChannelTexts::Unreachable(store, channel.runningPid(), channel.trouble()));
        return 1;
    case TInstanceChannel::TStart::Unlocked:
        std::fprintf(stderr,
                     "quorvane: cannot make sure that only one Quorvane runs on the store folder "
                     "%s: %s.\n",
                     StoreFolder().c_str(), EnglishTrouble(channel.trouble()).c_str());
        ShowWarning(TChannelTexts::Unlocked(store, channel.trouble()));
        return 1;
    case TInstanceChannel::TStart::NoStore:
        // Nothing to share: the start says what is wrong with the store.
        std::fprintf(stderr, "quorvane: %s; starting without a store.\n",
                     EnglishTrouble(channel.trouble()).c_str());
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
