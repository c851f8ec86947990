// What a deep tree of long key names costs: one key line of a .reg file making a chain of keys
// DEPTH levels deep, each name LENGTH characters long, with one value at the bottom, imported by
// quorvane-reg into an empty store, and that tree exported again. Printed for each: the .reg's
// size, the store's size once the tool has ended, and the time and peak memory of each command,
// the median of --repeat=N runs (3 unless given).
//
// Names longer than 255 characters are refused by import (the line is printed as refused); the
// line for them shows what a refusal costs.

#include "core/store_folder.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace quorvane;
namespace fs = std::filesystem;

namespace {

struct Run {
    int status = -1;
    double seconds = 0;
    double peakMb = 0;
};

// quorvane-reg with `args` on the store folder `home`, what it prints dropped.
Run RunTool(const fs::path& home, const std::vector<std::string>& args) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QUORVANE_HOME", home.c_str(), 1);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0 || ::dup2(null, STDERR_FILENO) < 0)
            ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(QUORVANE_REG_TOOL)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(QUORVANE_REG_TOOL, argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return run;
}

std::uintmax_t SizeOf(const fs::path& file) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    return ec ? 0 : size;
}

Run Median(std::vector<Run> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
    return runs[runs.size() / 2];
}

std::string Kb(std::uintmax_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f KB", static_cast<double>(bytes) / 1024.0);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    // Each line as soon as it is measured, and none of it copied into the tool's processes.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    int repeat = 3;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--repeat=", 9) == 0)
            repeat = std::max(1, std::atoi(argv[i] + 9));
    EnsureStoreFolder();
    const fs::path home = StoreFolder() / "import";
    const fs::path file = StoreFolder() / "deep.reg";
    const fs::path exported = StoreFolder() / "exported.reg";

    std::printf("%-6s %-6s %10s | %-9s %12s %9s %9s | %12s %9s %9s\n", "depth", "length",
                ".reg", "import", "store", "time", "peak", "export", "time", "peak");
    const struct {
        std::size_t depth, length;
    } cases[] = {{128, 255}, {256, 255}, {512, 64}, {512, 255}, {512, 2000}};
    for (const auto& c : cases) {
        std::string path = "Deep";
        for (std::size_t level = 1; level < c.depth; ++level) {
            const std::string number = std::to_string(level);
            path += '\\';
            path.append(c.length - number.size(), 'k');
            path += number;
        }
        std::ofstream(file, std::ios::binary)
            << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" << path << "]\r\n\"v\"=dword:1\r\n";

        std::vector<Run> imports, exports;
        std::uintmax_t storeBytes = 0, exportBytes = 0;
        for (int round = 0; round < repeat; ++round) {
            fs::remove_all(home);
            imports.push_back(RunTool(home, {"import", file.string()}));
            storeBytes = SizeOf(home / "machine.db") + SizeOf(home / "machine.db-wal");
            if (imports.back().status != 0)
                continue;
            exports.push_back(RunTool(home, {"export", "HKLM\\Deep", exported.string(), "/y"}));
            exportBytes = SizeOf(exported);
        }
        const Run imported = Median(imports);
        std::printf("%-6zu %-6zu %10s | %-9s %12s %8.3fs %6.1f MB", c.depth, c.length,
                    Kb(SizeOf(file)).c_str(), imported.status == 0 ? "done" : "refused",
                    Kb(storeBytes).c_str(), imported.seconds, imported.peakMb);
        if (!exports.empty()) {
            const Run exportRun = Median(exports);
            std::printf(" | %12s %8.3fs %6.1f MB", Kb(exportBytes).c_str(), exportRun.seconds,
                        exportRun.peakMb);
        }
        std::printf("\n");
    }
    fs::remove_all(home);
    fs::remove(file);
    fs::remove(exported);
    return 0;
}
