#pragma once
// Network namespaces of a test's own, so the network tests make, change and delete real
// interfaces and never see the machine's: each namespace is held by a child process that does
// nothing else, commands run inside it through setns, and this thread enters it for as long as
// it makes sockets there. Making one needs root (CI runs as root); without it Why() says so and
// the test skips.

#include "core/fd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <regex>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {

class NetNamespace {
public:
    NetNamespace() {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int status = ::unshare(CLONE_NEWNET) == 0 ? 0 : errno;
            [[maybe_unused]] const ssize_t n = ::write(ready[1], &status, sizeof status);
            if (status != 0)
                ::_exit(1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        int status = EIO;
        [[maybe_unused]] const ssize_t n = ::read(ready[0], &status, sizeof status);
        ::close(ready[0]);
        if (status != 0) {
            why_ = std::string("a network namespace cannot be made here (unshare(CLONE_NEWNET): ") +
                   std::strerror(status) + "); the network tests need root";
            Stop();
            return;
        }
        fd_.reset(::open(("/proc/" + std::to_string(pid_) + "/ns/net").c_str(),
                         O_RDONLY | O_CLOEXEC));
        if (!fd_) {
            why_ = "the namespace's handle cannot be opened";
            Stop();
        }
    }
    ~NetNamespace() { Stop(); }
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    bool Made() const { return static_cast<bool>(fd_); }
    const std::string& Why() const { return why_; }
    // The holder's process id: "ip link ... netns <pid>" puts an interface in here.
    pid_t Pid() const { return pid_; }
    int Fd() const { return fd_.get(); }

    // `sh -c command` inside the namespace, its output (both streams) in *output; answers its
    // exit status.
    int Run(const std::string& command, std::string* output = nullptr) const {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return -1;
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setns(fd_.get(), CLONE_NEWNET) != 0)
                ::_exit(126);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(out[1], STDERR_FILENO);
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
        ::close(out[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (output)
            *output = text;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    pid_t pid_ = -1;
    UniqueFd fd_;
    std::string why_;
};

// This thread inside a namespace until the object goes; sockets made meanwhile stay in it.
class Inside {
public:
    explicit Inside(const NetNamespace& ns)
        : home_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
        if (!home_ || ::setns(ns.Fd(), CLONE_NEWNET) != 0)
            throw std::runtime_error("cannot enter the test's network namespace");
    }
    ~Inside() { ::setns(home_.get(), CLONE_NEWNET); }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

private:
    UniqueFd home_;
};

// The kernel's own byte counters of an interface in `ns`, received and sent, as `ip -s` shows
// them; nullopt when it cannot say.
inline std::optional<std::pair<std::uint64_t, std::uint64_t>> IpCounters(const NetNamespace& ns,
                                                                          const std::string& name) {
    std::string json;
    if (ns.Run("ip -s -j link show dev " + name, &json) != 0)
        return std::nullopt;
    std::smatch m;
    const std::regex stats(R"("stats64":\{"rx":\{"bytes":(\d+).*?"tx":\{"bytes":(\d+))");
    if (!std::regex_search(json, m, stats))
        return std::nullopt;
    return std::pair{std::stoull(m[1]), std::stoull(m[2])};
}

// A UDP socket bound to `address`:`port` inside `ns`. A receive gives up after two minutes: a
// safety net for a broken set-up, never a measure of speed.
inline UniqueFd UdpSocket(const NetNamespace& ns, const char* address, int port) {
    const Inside inside(ns);
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const timeval safetyNet{120, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &safetyNet, sizeof safetyNet);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address, &at.sin_addr);
    if (!socket || ::bind(socket.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
        throw std::runtime_error(std::string("cannot bind ") + address + ": " + std::strerror(errno));
    return socket;
}

// `bytes` of payload from one bound socket to the other's address, waited for until it has
// arrived: nothing of it is still on its way when this returns.
inline bool SendAndReceive(int from, int to, const char* toAddress, int toPort, std::size_t bytes) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(toPort));
    ::inet_pton(AF_INET, toAddress, &at.sin_addr);
    const std::string payload(bytes, 'q');
    if (::sendto(from, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&at),
                 sizeof at) != static_cast<ssize_t>(bytes))
        return false;
    std::string received(bytes + 1, '\0');
    return ::recv(to, received.data(), received.size(), 0) == static_cast<ssize_t>(bytes);
}

} // namespace quorvane::test
