// A second process for the store's tests.
//   store_peer write PREFIX COUNT   writes COUNT values (0: until killed) below Peer\PREFIX and
//                                   prints each number on its own line once its write returned
//   store_peer hold                 takes the machine hive's write lock, prints "held" and keeps
//                                   it until its standard input ends
// Exit status 3: a write answered false (hold: the lock could not be had); 4: a write threw.

#include "settings/registry.h"
#include "settings/store.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
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

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "hold")
        return Hold();
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
