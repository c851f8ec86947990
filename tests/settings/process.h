#pragma once
// Runs a program as a real second process: given text on its standard input, its output
// and exit status captured.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quorvane::test {

struct ProcessResult {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

inline std::string ReadAll(FILE* file) {
    std::string text;
    std::rewind(file);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0)
        text.append(buf, n);
    return text;
}

// `inChild`, when given, runs in the child just before the program starts (to set a limit).
inline ProcessResult RunProgram(const std::vector<std::string>& args,
                                const std::string& input = {},
                                const std::function<void()>& inChild = {}) {
    FILE* in = std::tmpfile();
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::fflush(in);
    std::rewind(in);
    ProcessResult result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fileno(in), STDIN_FILENO);
        ::dup2(fileno(out), STDOUT_FILENO);
        ::dup2(fileno(err), STDERR_FILENO);
        if (inChild)
            inChild();
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return result;
}

#ifdef QUORVANE_REG_TOOL
// quorvane-reg with these arguments.
inline ProcessResult Reg(std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin(), QUORVANE_REG_TOOL);
    return RunProgram(args, input);
}
#endif

// Runs `steps` in a child process; answers what they answer, and says so when the child crashed.
inline std::string InChildProcess(const std::function<std::string()>& steps) {
    int fds[2];
    if (::pipe(fds) != 0)
        return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const std::string answer = steps();
        (void)!::write(fds[1], answer.data(), answer.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string answer;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        answer.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status))
        answer += "the child process crashed";
    return answer;
}

} // namespace quorvane::test
