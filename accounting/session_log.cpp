#include "accounting/session_log.h"

#include "core/clock.h"
#include "core/fd.h"
#include "core/file_replace.h"
#include "core/regional.h"
#include "core/text_codec.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

namespace {

class IconvHandle {
public:
    explicit IconvHandle(iconv_t cd) : cd_(cd) {}
    ~IconvHandle() {
        if (valid())
            iconv_close(cd_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// The length of the well-formed UTF-8 sequence at the start of `text`, or 1 for a byte that
// starts none, so that one broken byte costs one "?" and not the character after it.
std::size_t SequenceLength(const char* text, std::size_t size) {
    char32_t cp;
    return std::max<std::size_t>(1, DecodeUtf8(std::string_view(text, size), 0, cp));
}

// Follows symbolic links to the file they finally name, which need not exist yet. A relative
// link is taken relative to the folder of the link.
std::optional<std::string> FollowLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0)
            return std::nullopt;
        if (n == 0 || static_cast<std::size_t>(n) >= target.size()) {
            errno = ENAMETOOLONG;
            return std::nullopt;
        }
        std::string next(target.data(), static_cast<std::size_t>(n));
        if (next.front() != '/') {
            const std::size_t slash = path.rfind('/');
            if (slash != std::string::npos)
                next = path.substr(0, slash + 1) + next;
        }
        path = std::move(next);
    }
    errno = ELOOP; // a loop of links
    return std::nullopt;
}

// Copies an old log to `out` with every line ended by CR LF. A line ends at CR, LF or CR LF;
// the bytes of the lines themselves are not touched, and a file already in CR LF form goes
// through in whole chunks.
class LineEndCopier {
public:
    explicit LineEndCopier(int out) : out_(out) {}

    bool Chunk(const char* buf, std::size_t n) {
        if (n == 0)
            return true;
        last_ = buf[n - 1];
        if (!afterCR_ && AllCrLf(buf, n))
            return WriteAll(out_, buf, n);
        pending_.clear();
        std::size_t i = 0;
        if (afterCR_ && buf[0] == '\n')
            i = 1; // the LF of a CR LF split between two chunks, already written
        afterCR_ = false;
        std::size_t run = i;
        while (i < n) {
            const auto* lf = static_cast<const char*>(std::memchr(buf + i, '\n', n - i));
            const std::size_t lfAt = lf ? static_cast<std::size_t>(lf - buf) : n;
            const auto* cr = static_cast<const char*>(std::memchr(buf + i, '\r', lfAt - i));
            if (cr && lf && static_cast<std::size_t>(cr - buf) + 1 == lfAt) {
                i = lfAt + 1; // CR LF: nothing to change
                continue;
            }
            if (!cr && !lf)
                break; // the rest is the start of a line that goes on in the next chunk
            const std::size_t end = cr ? static_cast<std::size_t>(cr - buf) : lfAt;
            pending_.append(buf + run, end - run);
            pending_ += "\r\n";
            i = end + 1;
            if (cr && i == n)
                afterCR_ = true;
            run = i;
        }
        pending_.append(buf + run, n - run);
        return WriteAll(out_, pending_.data(), pending_.size());
    }

    // Ends a last line that had no line end.
    bool Finish() {
        if (last_ != 0 && last_ != '\r' && last_ != '\n')
            return WriteAll(out_, "\r\n", 2);
        return true;
    }

private:
    // Every CR followed by LF and every LF preceded by CR, the chunk's ends included. One
    // branch-free pass the compiler vectorises: the usual log goes through at copying speed.
    static bool AllCrLf(const char* buf, std::size_t n) {
        if (buf[0] == '\n' || buf[n - 1] == '\r')
            return false;
        unsigned char odd = 0;
        for (std::size_t i = 0; i + 1 < n; ++i)
            odd |= static_cast<unsigned char>((buf[i] == '\r') ^ (buf[i + 1] == '\n'));
        return odd == 0;
    }

    int out_;
    std::string pending_;
    bool afterCR_ = false;
    char last_ = 0;
};

} // namespace

std::string SessionLogLine(DateTime now, const TimerSet& timers, const std::string& charges) {
    std::string line;
    line.reserve(96 + charges.size());
    line += FormatShortDate(now);
    line += "  ";
    line += FormatLongTime(now);
    line += "  In Peak: ";
    line += DurationText(timers.InsidePeak);
    line += "  Out Peak: ";
    line += DurationText(timers.OutsidePeak);
    line += "  Total: ";
    line += DurationText(timers.TotalTime);
    line += "  Charges: ";
    line += charges;
    return line;
}

std::string SystemCharset() {
    return ::nl_langinfo(CODESET);
}

std::string FromUtf8(std::string_view text, const std::string& charset) {
    if (charset == "UTF-8" || charset == "utf8" || charset == "ANSI_X3.4-1968" ||
        charset == "ASCII" || charset.empty())
        return std::string(text);
    const IconvHandle cd(::iconv_open((charset + "//TRANSLIT").c_str(), "UTF-8"));
    if (!cd.valid())
        return std::string(text);

    std::string out(text.size() * 2 + 16, '\0');
    auto* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    std::size_t done = 0;
    while (inLeft > 0) {
        char* at = out.data() + done;
        std::size_t outLeft = out.size() - done;
        const std::size_t r = ::iconv(cd.get(), &in, &inLeft, &at, &outLeft);
        done = out.size() - outLeft;
        if (r != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if (errno == EILSEQ || errno == EINVAL) {
            // A character the set cannot hold and the system cannot transliterate, or broken
            // UTF-8: one "?" for it, and on with the rest.
            const std::size_t skip = SequenceLength(in, inLeft);
            in += skip;
            inLeft -= skip;
            if (done == out.size())
                out.resize(out.size() * 2);
            out[done++] = '?';
        } else {
            return std::string(text);
        }
    }
    out.resize(done);
    return out;
}

bool WriteSessionLog(const std::string& fileName, const TimerSet& timers,
                     const std::string& charges, std::string* why, std::optional<DateTime> at) {
    const auto fail = [why](std::string reason) {
        if (why)
            *why = std::move(reason);
        return false;
    };
    const auto failWith = [&fail](int error) { return fail(std::strerror(error)); };
    if (fileName.empty())
        return fail("No log file is named");
    const std::optional<std::string> target = FollowLinks(fileName);
    if (!target)
        return failWith(errno);
    if (target->back() == '/')
        return failWith(EISDIR);
    // O_NONBLOCK: a FIFO by that name must not hang the session's end; it is refused below.
    UniqueFd old(::open(target->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat oldStat {};
    if (old) {
        if (::fstat(old.get(), &oldStat) != 0)
            return failWith(errno);
        if (S_ISDIR(oldStat.st_mode))
            return failWith(EISDIR);
        if (!S_ISREG(oldStat.st_mode))
            return fail("Not a regular file");
    } else if (errno != ENOENT) {
        return failWith(errno); // there is a log, but we cannot read it: replacing it would lose it
    }

    FileReplacement temp(*target, old ? 0600 : 0666);
    if (!temp.ok())
        return failWith(temp.error());
    if (old) {
        // Owner first: a change of owner clears set-id bits that the mode then puts back.
        if (oldStat.st_uid != ::geteuid() || oldStat.st_gid != ::getegid())
            (void)!::fchown(temp.fd(), oldStat.st_uid, oldStat.st_gid);
        if (::fchmod(temp.fd(), oldStat.st_mode & 07777) != 0)
            return failWith(errno);
    }

    const std::string line =
        FromUtf8(SessionLogLine(at.value_or(Now()), timers, charges), SystemCharset()) + "\r\n";
    if (!temp.Write(line.data(), line.size()))
        return failWith(temp.error());
    if (old) {
        LineEndCopier copier(temp.fd());
        std::vector<char> buffer(128 * 1024);
        for (;;) {
            const ssize_t n = ::read(old.get(), buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return failWith(errno);
            if (n == 0)
                break;
            if (!copier.Chunk(buffer.data(), static_cast<std::size_t>(n)))
                return failWith(errno);
        }
        if (!copier.Finish())
            return failWith(errno);
    }
    if (!temp.Commit())
        return failWith(temp.error());
    return true;
}

} // namespace quorvane
