#include "core/store_folder.h"

#include "core/fd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

// Left in the folder when this program makes it: a folder's mode alone cannot tell whether it
// is ours to keep private or one the user shares (a QUORVANE_HOME of /tmp must stay 1777).
constexpr const char* kMadeHere = ".quorvane-store";
constexpr std::string_view kMadeHereText =
    "Quorvane made this folder for its store and keeps it private to its owner.\n";

void MarkAsMadeHere(const std::filesystem::path& folder) {
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir)
        return;
    UniqueFd mark(::openat(dir.get(), kMadeHere,
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (mark)
        WriteAll(mark.get(), kMadeHereText.data(), kMadeHereText.size());
}

// Through the folder's own descriptor, never its name, so that a link is never followed.
void MakePrivateIfMadeHere(const std::filesystem::path& folder) {
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!dir || ::fstat(dir.get(), &st) != 0 || (st.st_mode & 07777) == (st.st_mode & 0700))
        return;
    struct stat mark {};
    if (st.st_uid != ::geteuid() ||
        ::fstatat(dir.get(), kMadeHere, &mark, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(mark.st_mode) || mark.st_uid != st.st_uid)
        return;
    // The owner's own bits stay as they are.
    ::fchmod(dir.get(), st.st_mode & 0700);
}

} // namespace

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
    // A link to a folder is used as the folder it leads to: the user may keep the store there.
    if (::stat(folder.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            return false;
        MakePrivateIfMadeHere(folder);
        return true;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) == 0) {
        MarkAsMadeHere(folder);
        return true;
    }
    return errno == EEXIST && std::filesystem::is_directory(folder, ec);
}

} // namespace quorvane
