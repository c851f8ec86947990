#include "core/host.h"

#include "core/store_folder.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace quorvane {

std::string BootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

std::filesystem::path RuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return runtime;
    return StoreFolder();
}

void DebugOutput(std::string_view text) {
    static const bool enabled = std::getenv("QUORVANE_DEBUG") != nullptr;
    if (enabled)
        std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

} // namespace quorvane
