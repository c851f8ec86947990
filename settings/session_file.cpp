#include "settings/session_file.h"

#include "core/clock.h"
#include "core/fd.h"
#include "core/file_replace.h"
#include "core/host.h"
#include "core/store_folder.h"
#include "settings/registry.h"

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

namespace {

constexpr std::string_view kHeader = "Quorvane session state 1\n";
constexpr std::string_view kCheck = "Check=";
// Far more than a state needs: anything larger is not one.
constexpr std::size_t kMaxSize = 4096;

std::uint64_t Fnv1a(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    return hash;
}

std::string Hex16(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, value);
    return text;
}

template <typename T> std::string Number(T value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

template <typename T> bool ParseNumber(std::string_view text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty();
}

// The state's lines after the boot's, in order.
std::vector<std::pair<std::string, std::string>> Lines(const StoredSessionState& state) {
    std::vector<std::pair<std::string, std::string>> lines = {
        {"Provider", state.provider},
        {"FirstTick", Number(state.firstTick)},
        {"LastWrite", Number(state.lastWrite)}};
    for (std::size_t i = 0; i < state.counts.size(); ++i)
        lines.emplace_back(kSessionCountNames[i], Number(state.counts[i]));
    for (std::size_t i = 0; i < state.bytes.size(); ++i)
        lines.emplace_back(kSessionByteNames[i], Number(state.bytes[i]));
    return lines;
}

// The state the body's lines (the check line's excepted) hold; nullopt when they are not
// those of a state.
std::optional<StoredSessionState> ParseBody(std::string_view body, std::string& boot) {
    if (!body.starts_with(kHeader))
        return std::nullopt;
    body.remove_prefix(kHeader.size());
    std::vector<std::pair<std::string_view, std::string_view>> lines;
    while (!body.empty()) {
        const std::size_t end = body.find('\n');
        const std::string_view line = body.substr(0, end);
        const std::size_t equals = line.find('=');
        if (end == std::string_view::npos || equals == std::string_view::npos)
            return std::nullopt;
        lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        body.remove_prefix(end + 1);
    }
    StoredSessionState state;
    // The names are those the values are written under, so a line of the wrong name is caught
    // as much as one of the wrong value.
    const std::vector<std::pair<std::string, std::string>> expected = Lines(state);
    if (lines.size() != expected.size() + 1 || lines[0].first != "Boot")
        return std::nullopt;
    boot = lines[0].second;
    bool ok = true;
    for (std::size_t i = 0; ok && i < expected.size(); ++i)
        ok = lines[i + 1].first == expected[i].first;
    std::size_t at = 1;
    const auto next = [&] { return lines[at++].second; };
    state.provider = next();
    ok = ok && ParseNumber(next(), state.firstTick) && ParseNumber(next(), state.lastWrite);
    for (auto& count : state.counts)
        ok = ok && ParseNumber(next(), count);
    for (auto& bytes : state.bytes)
        ok = ok && ParseNumber(next(), bytes);
    return ok ? std::optional(state) : std::nullopt;
}

SessionStateFileRead Unusable(std::string why, bool ours) {
    return {std::nullopt, std::move(why), ours};
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

// Not anybody else's to write to, nor a name leading elsewhere.
std::optional<std::string> NotOurs(const struct stat& st) {
    if (!S_ISREG(st.st_mode))
        return "is not a regular file";
    if (st.st_uid != ::geteuid())
        return "belongs to user " + std::to_string(st.st_uid) + ", not to this one";
    return std::nullopt;
}

bool ProviderStored(const std::string& provider) {
    return IsStorableProviderName(provider) &&
           KeyExists(HKEY_LOCAL_MACHINE, ProviderKeyPath(provider));
}

void Note(const std::string& path, const std::string& text) {
    DebugOutput("Session state file " + path + " " + text);
}

} // namespace

std::filesystem::path SessionStateFilePath() {
    const std::string store = std::filesystem::absolute(StoreFolder()).lexically_normal().string();
    const std::string owner = std::to_string(::geteuid());
    return RuntimeFolder() / ("quorvane-" + Hex16(Fnv1a(owner + ":" + store)) + ".session");
}

std::string SessionStateFileText(const StoredSessionState& state, std::string_view boot) {
    if (state.provider.find_first_of("\r\n") != std::string::npos)
        return {};
    std::string text(kHeader);
    text += "Boot=" + std::string(boot) + "\n";
    for (const auto& [name, value] : Lines(state))
        text += name + "=" + value + "\n";
    return text + std::string(kCheck) + Hex16(Fnv1a(text)) + "\n";
}

SessionStateFileRead ReadSessionStateFile() {
    const std::string path = SessionStateFilePath().string();
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT)
            return {};
        return Unusable(errno == ELOOP
                            ? "is a symbolic link"
                            : std::string("cannot be read (") + std::strerror(errno) + ")",
                        false);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return Unusable(std::string("cannot be read (") + std::strerror(errno) + ")", false);
    if (const auto why = NotOurs(st))
        return Unusable(*why, false);
    std::string text(kMaxSize + 1, '\0');
    std::size_t size = 0;
    for (ssize_t n; size < text.size() &&
                    ((n = ::read(fd.get(), text.data() + size, text.size() - size)) > 0 ||
                     (n < 0 && errno == EINTR));)
        size += n > 0 ? static_cast<std::size_t>(n) : 0;
    if (size > kMaxSize)
        return Unusable("is too large to be one", true);
    text.resize(size);
    const std::size_t check = text.rfind("\n" + std::string(kCheck));
    if (check == std::string::npos || text.back() != '\n')
        return Unusable("is cut short", true);
    const std::string_view body = std::string_view(text).substr(0, check + 1);
    const std::string_view sum = std::string_view(text).substr(
        check + 1 + kCheck.size(), text.size() - check - 2 - kCheck.size());
    if (sum != Hex16(Fnv1a(body)))
        return Unusable("is damaged: its check does not match its contents", true);
    std::string boot;
    std::optional<StoredSessionState> state = ParseBody(body, boot);
    if (!state)
        return Unusable("is damaged: it does not hold a session's state", true);
    if (boot != BootId())
        return Unusable("was written in another boot", true);
    return {std::move(state), {}, true};
}

std::optional<std::string> FileStateLoses(const std::optional<StoredSessionState>& stored,
                                          const StoredSessionState& file) {
    if (!stored)
        return std::nullopt;
    if (file.provider != stored->provider || file.firstTick != stored->firstTick)
        return "holds another session than the store's";
    if (file.lastWrite < stored->lastWrite)
        return "holds an earlier moment of the session than the store's";
    if (file.lastWrite == stored->lastWrite)
        return "holds the moment the store's state holds";
    // A later moment of the same session has counted at least as much.
    for (std::size_t i = 0; i < file.counts.size(); ++i) {
        if (file.counts[i] < stored->counts[i])
            return std::string("holds less ") + kSessionCountNames[i] + " than the store's state";
    }
    for (std::size_t i = 0; i < file.bytes.size(); ++i) {
        if (file.bytes[i] < stored->bytes[i])
            return std::string("holds less ") + kSessionByteNames[i] + " than the store's state";
    }
    return std::nullopt;
}

std::optional<StoredSessionState> TakeCutSessionState() {
    const DateTime now = Now();
    std::optional<StoredSessionState> stored = ReadSessionState();
    if (const auto why = stored ? ImplausibleSessionState(*stored, now) : std::nullopt) {
        DebugOutput("Session state in the store passed over: it " + *why + ".");
        // Left, it would be weighed again at every start.
        if (!RemoveSessionState()) {
            DebugOutput("Session state in the store cannot be removed: nothing is recovered "
                        "before it is.");
            return std::nullopt;
        }
        stored.reset();
    }
    const SessionStateFileRead file = ReadSessionStateFile();
    if (!file.state && file.why.empty())
        return stored;
    const std::string path = SessionStateFilePath().string();
    std::optional<std::string> why;
    if (!file.state)
        why = file.why;
    else if (const auto implausible = ImplausibleSessionState(*file.state, now))
        why = implausible;
    else if (!ProviderStored(file.state->provider))
        why = "names the provider " + file.state->provider + ", which is no longer stored";
    else
        why = FileStateLoses(stored, *file.state);
    if (why) {
        Note(path, "passed over: it " + *why + ".");
        // Left behind, it could win at a later start, once the store's state is recovered.
        if (file.ours && !RemoveFile(path) && file.state) {
            const int error = errno;
            Note(path, std::string("cannot be removed (") + std::strerror(error) +
                           "): nothing is recovered before it is.");
            return std::nullopt;
        }
        return stored;
    }
    if (!WriteSessionState(*file.state)) {
        Note(path, "cannot be written to the store: kept for the next start.");
        return std::nullopt;
    }
    if (!RemoveFile(path)) {
        const int error = errno;
        Note(path, std::string("cannot be removed (") + std::strerror(error) +
                       "): its state is recovered at the next start.");
        return std::nullopt;
    }
    Note(path, stored ? "holds a later moment of the session than the store's: recovered from it."
                      : "holds a session the store has no state of: recovered from it.");
    return file.state;
}

void SessionStateFile::Begin() {
    path_ = SessionStateFilePath().string();
    if (boot_.empty())
        boot_ = BootId();
    written_ = failureTold_ = false;
    open_.reset();
    struct statfs folder {};
    onDisk_ = ::statfs(RuntimeFolder().c_str(), &folder) == 0 &&
              folder.f_type != static_cast<decltype(folder.f_type)>(TMPFS_MAGIC) &&
              folder.f_type != static_cast<decltype(folder.f_type)>(RAMFS_MAGIC);
    struct stat st {};
    usable_ = ::lstat(path_.c_str(), &st) != 0 || !NotOurs(st);
    if (!usable_)
        Note(path_, "is left alone: it " + *NotOurs(st) + ". This session keeps no file.");
}

bool SessionStateFile::Write(const StoredSessionState& state) {
    if (!usable_)
        return false;
    const std::string text = SessionStateFileText(state, boot_);
    if (!text.empty() && (open_ ? Rewrite(text) : Replace(text))) {
        written_ = true;
        return true;
    }
    if (!failureTold_)
        Note(path_, text.empty()
                        ? "is not written: the provider's name has a line break."
                        : std::string("cannot be written (") + std::strerror(errno) + ").");
    failureTold_ = true;
    return false;
}

bool SessionStateFile::Replace(const std::string& text) {
    FileReplacement file(path_, 0600);
    if (!file.Write(text.data(), text.size()) || !file.Commit(FileReplacement::Flush::No)) {
        errno = file.error();
        return false;
    }
    if (onDisk_) {
        open_.reset(::open(path_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
        size_ = text.size();
    }
    return true;
}

bool SessionStateFile::Rewrite(const std::string& text) {
    const bool ok =
        ::pwrite(open_.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
        (text.size() == size_ || ::ftruncate(open_.get(), static_cast<off_t>(text.size())) == 0);
    if (ok)
        size_ = text.size();
    else
        open_.reset(); // made anew at the next tick
    return ok;
}

void SessionStateFile::Remove() {
    open_.reset();
    if (written_ && RemoveFile(path_))
        written_ = false;
}

} // namespace quorvane
