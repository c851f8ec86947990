#include "core/file_replace.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

// The temporary files are hidden beside their target and named after it and their process, so
// that one a killed process left behind can be known as ours and as stale.
std::string TemporaryPrefix(const std::string& base) {
    return "." + base + ".quorvane-";
}

// Removes the temporary files for the same target whose process is gone.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base) {
    const std::string prefix = TemporaryPrefix(base);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix) || !name.ends_with(".tmp"))
            continue;
        const std::string pid = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c)) != 0;
            }))
            continue;
        const long owner = std::strtol(pid.c_str(), nullptr, 10);
        if (owner > 0 && ::kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH)
            std::filesystem::remove(it->path(), ec);
    }
}

} // namespace

ReplaceCheck CheckReplaceRight(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.substr(0, slash);
    const bool root = ::geteuid() == 0;
    // The effective ids decide, as they decide the open and the rename.
    const auto mayWrite = [root](const std::string& path, int how, const struct stat& st) {
        if (::faccessat(AT_FDCWD, path.c_str(), how, AT_EACCESS) != 0)
            return errno;
        return root && (st.st_mode & 0222) == 0 ? EACCES : 0;
    };
    struct stat folderStat {};
    if (::stat(folder.c_str(), &folderStat) != 0)
        return {ReplaceRight::NoFolder, errno};
    if (!S_ISDIR(folderStat.st_mode))
        return {ReplaceRight::NoFolder, ENOTDIR};
    struct stat fileStat {};
    if (::lstat(target.c_str(), &fileStat) == 0 && S_ISREG(fileStat.st_mode)) {
        if (const int error = mayWrite(target, W_OK, fileStat))
            return {ReplaceRight::FileReadOnly, error};
    }
    if (const int error = mayWrite(folder, W_OK | X_OK, folderStat))
        return {ReplaceRight::FolderReadOnly, error};
    return {};
}

bool FileReplacement::KeepOwnerAndModeOf(const struct stat& old) {
    if (!fd_)
        return false;
    if (::geteuid() == 0 && ::fchown(fd_.get(), old.st_uid, old.st_gid) != 0)
        return Fail();
    // After the owner: a change of owner clears the set-id bits.
    return ::fchmod(fd_.get(), old.st_mode & 07777) == 0 || Fail();
}

FileReplacement::FileReplacement(const std::string& target, mode_t mode) : target_(target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    RemoveStaleTemporaries(folder, base);
    temp_ = folder + TemporaryPrefix(base) + std::to_string(::getpid()) + ".tmp";
    // A file of that name is a stale one of a process that had our number before.
    ::unlink(temp_.c_str());
    fd_.reset(::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd_) {
        error_ = errno;
        temp_.clear();
    }
}

FileReplacement::~FileReplacement() {
    if (!temp_.empty())
        ::unlink(temp_.c_str());
}

bool FileReplacement::Fail() {
    error_ = errno;
    return false;
}

bool FileReplacement::Write(const void* data, std::size_t size) {
    return fd_ && (WriteAll(fd_.get(), data, size) || Fail());
}

bool FileReplacement::Commit(Flush flush) {
    if (!fd_)
        return false;
    // On disk before it replaces the old file, or a power cut could leave an empty one.
    if ((flush == Flush::ToDisk && ::fdatasync(fd_.get()) != 0) || !fd_.Close())
        return Fail();
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        return Fail();
    temp_.clear();
    return true;
}

} // namespace quorvane
