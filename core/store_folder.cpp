#include "core/store_folder.h"

#include <cstdlib>
#include <sys/stat.h>

namespace quorvane {

std::filesystem::path StoreFolder() {
    if (const char* home = std::getenv("QUORVANE_HOME"); home && *home)
        return home;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::filesystem::path(data) / "quorvane";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local" / "share" / "quorvane";
}

bool EnsureStoreFolder() {
    const std::filesystem::path folder = StoreFolder();
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec))
        return true;
    std::filesystem::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && !std::filesystem::is_directory(folder, ec))
        return false;
    return true;
}

} // namespace quorvane
