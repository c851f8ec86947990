// A second process for the store's tests.
//   store_peer write PREFIX COUNT   writes COUNT values (0: until killed) below Peer\PREFIX and
//                                   prints each number on its own line once its write returned
//   store_peer hold                 takes the machine hive's write lock, prints "held" and keeps
//                                   it until its standard input ends
//   store_peer exclusive            the same through SQLite alone, as another program holds it:
//                                   BEGIN EXCLUSIVE on the machine hive's database file
//   store_peer open                 opens the machine hive and prints "opened", stopping before
//                                   each SQL statement that the store runs: it prints the
//                                   statement on a line of its own and goes on when a line comes
//                                   on its standard input (at once after the input ends)
// Exit status 3: a write answered false (hold: the lock could not be had, open: the hive could
// not be opened); 4: a write threw.

#include "settings/registry.h"
#include "settings/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <unistd.h>

using namespace quorvane;

namespace {

int Hold() {
    const StoreTransaction lock(HKEY_LOCAL_MACHINE);
    if (!lock.ok())
        return 3;
    if (::write(STDOUT_FILENO, "held\n", 5) != 5)
        return 5;
    char buffer[256];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}

int HoldExclusive() {
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(HiveFile(HKEY_LOCAL_MACHINE).c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    const std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    if (rc != SQLITE_OK ||
        sqlite3_exec(raw, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return 3;
    if (::write(STDOUT_FILENO, "held\n", 5) != 5)
        return 5;
    char buffer[256];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
    return 0;
}

// SQLite's trace of each statement as it starts, on every connection the process opens.
int StopBeforeStatement(unsigned, void*, void*, void* sql) {
    std::string line = static_cast<const char*>(sql);
    std::replace(line.begin(), line.end(), '\n', ' ');
    line += '\n';
    if (::write(STDOUT_FILENO, line.data(), line.size()) < 0)
        return 0;
    char c = 0;
    while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n') {
    }
    return 0;
}

int TraceEachConnection(sqlite3* db, char**, const sqlite3_api_routines*) {
    sqlite3_trace_v2(db, SQLITE_TRACE_STMT, StopBeforeStatement, nullptr);
    return SQLITE_OK;
}

int Open() {
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(TraceEachConnection));
    std::string why;
    OpenStatus status;
    RegistryKey::Open(HKEY_LOCAL_MACHINE, "", false, &status, &why);
    if (status != OpenStatus::Opened) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 3;
    }
    return ::write(STDOUT_FILENO, "opened\n", 7) == 7 ? 0 : 5;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "hold")
        return Hold();
    if (argc == 2 && std::string(argv[1]) == "exclusive")
        return HoldExclusive();
    if (argc == 2 && std::string(argv[1]) == "open")
        return Open();
    if (argc != 4 || std::string(argv[1]) != "write")
        return 2;
    const std::string prefix = argv[2];
    const long count = std::strtol(argv[3], nullptr, 10);
    try {
        for (long i = 0; count == 0 || i < count; ++i) {
            // Spread over keys at two depths, so that some writes also create keys.
            const std::string path = "Peer\\" + prefix + "\\K" + std::to_string(i % 5) +
                                     (i % 3 ? "\\Deep" : "") + "\\v" + std::to_string(i);
            if (!WriteValueByPath(HKEY_LOCAL_MACHINE, path, Variant(static_cast<int>(i)),
                                  vkInteger))
                return 3;
            if (!WriteValueByPath(HKEY_LOCAL_MACHINE, "Peer\\" + prefix + "\\Last",
                                  Variant(static_cast<int>(i)), vkInteger))
                return 3;
            const std::string line = std::to_string(i) + "\n";
            if (::write(STDOUT_FILENO, line.data(), line.size()) < 0)
                return 5;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 4;
    }
    return 0;
}
