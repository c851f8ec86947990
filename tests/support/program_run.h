#pragma once
// The real program run by a test as a user runs it, and a folder watched for what it writes:
// both waited on through descriptors (the process's pidfd, inotify), never for a time.

#include "core/fd.h"
#include "support/files.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quorvane::test {

// An executable started with the test's environment and the changes given, its standard error
// kept in a file, in the network namespace `netns` names when one is given. Killed if still
// running when the object ends.
class Program {
public:
    Program(const char* binary, const std::map<std::string, std::string>& changes,
            const std::filesystem::path& errors, int netns = -1)
        : errors_(errors) {
        std::map<std::string, std::string> env;
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            const std::size_t equals = text.find('=');
            env[text.substr(0, equals)] =
                equals == std::string::npos ? "" : text.substr(equals + 1);
        }
        for (const auto& [name, value] : changes)
            env[name] = value;
        std::vector<std::string> entries;
        for (const auto& [name, value] : env)
            entries.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (std::string& entry : entries)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (netns >= 0 && ::setns(netns, CLONE_NEWNET) != 0)
                ::_exit(126);
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, STDERR_FILENO);
            const char* argv[] = {binary, nullptr};
            ::execve(binary, const_cast<char**>(argv), envp.data());
            ::_exit(127);
        }
        exited_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    }
    ~Program() { Kill(); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t Pid() const { return pid_; }
    // Readable once the process has ended.
    int ExitFd() const { return exited_.get(); }
    bool Ended() const {
        pollfd fd{exited_.get(), POLLIN, 0};
        return ::poll(&fd, 1, 0) == 1;
    }
    // Waits for the end; the exit status, or -1 when a signal ended it.
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Kill() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    std::string Errors() const { return ReadBytes(errors_); }

private:
    std::filesystem::path errors_;
    pid_t pid_ = -1;
    UniqueFd exited_;
};

// Changes to the files of one folder, seen through inotify.
class FolderWatch {
public:
    explicit FolderWatch(const std::filesystem::path& folder)
        : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        ::inotify_add_watch(fd_.get(), folder.c_str(),
                            IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE);
    }

    // Waits until `name` is put in place (written and closed, or renamed there); false when the
    // program ends first.
    bool WaitFor(const std::string& name, const Program& program) {
        bool found = false;
        return Wait(program, [&](const inotify_event& event) {
            found = found || ((event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0 && event.len > 0 &&
                              name == event.name);
            return found;
        });
    }

    // Waits until `name` is written to or renamed there; false when the program ends first.
    bool WaitForChange(const std::string& name, const Program& program) {
        return Wait(program, [&](const inotify_event& event) {
            return (event.mask & (IN_MODIFY | IN_MOVED_TO)) != 0 && event.len > 0 &&
                   name == event.name;
        });
    }

    // Asks `done` after every change until it says so; false when the program ends first.
    bool WaitUntil(const Program& program, const std::function<bool()>& done) {
        if (done())
            return true;
        return Wait(program, [&](const inotify_event&) { return done(); }) || done();
    }

private:
    bool Wait(const Program& program, const std::function<bool(const inotify_event&)>& seen) {
        for (;;) {
            alignas(inotify_event) char buffer[4096];
            for (ssize_t n; (n = ::read(fd_.get(), buffer, sizeof buffer)) > 0;) {
                for (ssize_t at = 0; at < n;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                    if (seen(*event))
                        return true;
                }
            }
            if (program.Ended())
                return false;
            pollfd fds[2] = {{fd_.get(), POLLIN, 0}, {program.ExitFd(), POLLIN, 0}};
            ::poll(fds, 2, -1);
        }
    }

    UniqueFd fd_;
};

} // namespace quorvane::test
