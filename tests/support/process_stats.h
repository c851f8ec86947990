#pragma once
// What this process holds, read from /proc: for tests and benchmarks that check a component
// leaves nothing behind.

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>

namespace quorvane::test {

// Entries of a /proc folder, "." and ".." not counted; -1 when it cannot be read.
inline int CountProcEntries(const char* path) {
    DIR* dir = ::opendir(path);
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(dir);
    return count;
}

// Open file descriptors, not counting the one used to count them.
inline int CountOpenFds() {
    return CountProcEntries("/proc/self/fd") - 1;
}

inline int CountThreads() {
    return CountProcEntries("/proc/self/task");
}

// Resident memory in KiB; -1 when it cannot be read.
inline long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

} // namespace quorvane::test
