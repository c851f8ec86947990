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
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        // A folder opened to group or others by hand is made private again; the owner's own
        // bits stay as they are.
        if ((st.st_mode & 07777) != (st.st_mode & 0700))
            ::chmod(folder.c_str(), st.st_mode & 0700);
        return true;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && !std::filesystem::is_directory(folder, ec))
        return false;
    return true;
}

} // namespace quorvane
