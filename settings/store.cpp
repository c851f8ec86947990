#include "settings/store.h"

#include "core/fd.h"
#include "core/store_folder.h"
#include "core/text_codec.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvane {

namespace {

// Marks our databases, so that a foreign SQLite file in the store folder is never written to.
constexpr int kApplicationId = 0x51565247; // "QVRG"
// 1 kept in each key's row its whole path and that path's folded form, so a store grew with the
// square of its keys' depth; 2 keeps a key by its parent and its own name.
constexpr int kSchemaVersion = 2;
// A writer of another process holds the lock for a few milliseconds; waiting longer than this
// means something is stuck, and the write is refused rather than hanging the window.
std::atomic<int> busyTimeoutMs{5000};
constexpr std::int64_t kHiveKeyId = 1;

// The keys' table under the name `table`: the store's own, or the one a store of an older
// layout is copied into.
std::string KeysTable(const std::string& table) {
    return "CREATE TABLE " + table + R"sql((
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER REFERENCES )sql" + table + R"sql((id),
    name TEXT NOT NULL,
    fold TEXT NOT NULL,
    UNIQUE(parent, fold)
);
)sql";
}

const std::string kSchema = KeysTable("keys") + R"sql(
CREATE TABLE vals(
    id INTEGER PRIMARY KEY,
    key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    fold TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, fold)
);
INSERT INTO keys(id, parent, name, fold) VALUES(1, NULL, '', '');
)sql";

// A store of version 1 taken over, in one transaction with the version's change. The numbers
// of deleted keys stay unused (see below). quorvane_fold is FoldCase, the same as every later
// lookup uses. SQLite's own way of changing a table: a new one filled from the old, which is
// then dropped, with foreign keys off, so that dropping it does not take the values with it.
const std::string kTakeOverVersion1 = KeysTable("keys_by_parent") + R"sql(
INSERT INTO keys_by_parent(id, parent, name, fold)
    SELECT id, parent, name, quorvane_fold(name) FROM keys ORDER BY id;
UPDATE sqlite_sequence
    SET seq = max(seq, coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'keys'), 0))
    WHERE name = 'keys_by_parent';
DROP TABLE keys;
ALTER TABLE keys_by_parent RENAME TO keys;
PRAGMA user_version = 2;
)sql";

// Key ids come from AUTOINCREMENT so that an id is never reused: a handle to a deleted key
// must never write into a newer key. Value rowids only grow while a value exists, so ordering
// by them is the order of first creation, and an upsert keeps the row (and so the place).
enum Sql : std::size_t {
    kFindChild,
    kInsertKey,
    kQueryValue,
    kHasValue,
    kSetValue,
    kDeleteValue,
    kValueNames,
    kValues,
    kSubkeys,
    kDeleteTree,
    kBegin,
    kBeginRead,
    kCommit,
    kRollback,
    kSqlCount
};

constexpr std::array<const char*, kSqlCount> kSqlText = {
    "SELECT id, name FROM keys WHERE parent = ?1 AND fold = ?2",
    "INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)",
    "SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2",
    "SELECT 1 FROM vals WHERE key = ?1 AND fold = ?2",
    "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
    "SELECT name FROM vals WHERE key = ?1 ORDER BY id",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id",
    "SELECT id, name, fold FROM keys WHERE parent = ?1 ORDER BY fold",
    // UNION, not UNION ALL: a damaged store whose parents run in a circle still ends.
    "WITH RECURSIVE tree(id) AS (VALUES(?1) "
    "UNION SELECT k.id FROM keys k JOIN tree t ON k.parent = t.id) "
    "DELETE FROM keys WHERE id IN tree",
    "BEGIN IMMEDIATE",
    "BEGIN",
    "COMMIT",
    "ROLLBACK",
};

// SQLite says "disk I/O error" also when a full disk refused it a file it needed (the
// shared-memory file, say); the system's error underneath tells.
std::string ErrorText(sqlite3* db) {
    const int code = sqlite3_errcode(db) & 0xFF; // the primary code of an extended one
    const int system = sqlite3_system_errno(db);
    if (code == SQLITE_FULL || (code == SQLITE_IOERR && (system == ENOSPC || system == EDQUOT)))
        return "the disk is full";
    return sqlite3_errmsg(db);
}

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

std::vector<std::string_view> SplitKeyPath(std::string_view path) {
    std::vector<std::string_view> names;
    while (!path.empty()) {
        const std::size_t cut = path.find('\\');
        const std::string_view name = path.substr(0, cut);
        if (!name.empty())
            names.push_back(name);
        if (cut == std::string_view::npos)
            break;
        path.remove_prefix(cut + 1);
    }
    return names;
}

// Characters as Windows counts them in a key name: UTF-16 units.
std::size_t Utf16Length(std::string_view name) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < name.size();) {
        char32_t cp;
        const std::size_t len = DecodeUtf8(name, i, cp);
        units += len != 0 && cp >= 0x10000 ? 2 : 1;
        i += len != 0 ? len : 1;
    }
    return units;
}

void FoldFunction(sqlite3_context* context, int, sqlite3_value** args) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
    const std::string fold =
        FoldCase(std::string_view(text ? text : "", sqlite3_value_bytes(args[0])));
    sqlite3_result_text(context, fold.data(), static_cast<int>(fold.size()), SQLITE_TRANSIENT);
}

} // namespace

// One open connection to one hive's database, with its prepared statements.
class Hive {
public:
    static std::shared_ptr<Hive> For(RootKey root, std::string* why);
    // What kept this thread's last open of the hive from succeeding; none once it is open.
    static StoreProblem& Problem(RootKey root) {
        thread_local std::array<StoreProblem, 2> problems;
        return problems[root == RootKey::LocalMachine ? 0 : 1];
    }

    ~Hive() {
        for (StmtPtr& stmt : statements_) {
            if (abandoned_)
                (void)stmt.release();
        }
        if (abandoned_)
            (void)db_.release();
    }

    sqlite3* db() const { return db_.get(); }
    bool readOnly() const { return readOnly_; }

    void ApplyBusyTimeout() {
        const int wanted = busyTimeoutMs.load(std::memory_order_relaxed);
        if (busyMs_ != wanted && sqlite3_busy_timeout(db(), wanted) == SQLITE_OK)
            busyMs_ = wanted;
    }

    sqlite3_stmt* Statement(Sql which) {
        StmtPtr& stmt = statements_[which];
        if (!stmt) {
            sqlite3_stmt* raw = nullptr;
            const int rc = sqlite3_prepare_v3(db(), kSqlText[which], -1, SQLITE_PREPARE_PERSISTENT,
                                              &raw, nullptr);
            if (rc != SQLITE_OK)
                Fail(rc);
            stmt.reset(raw);
        }
        return stmt.get();
    }

    [[noreturn]] void Fail(int rc) const { throw StoreError(ErrorText(db()), rc); }

    void Exec(Sql which);

private:
    static std::shared_ptr<Hive> OpenNew(const std::string& file, std::string* why,
                                         StoreProblem& problem);
    bool Prepare(std::string* why, StoreProblem& problem);

    DbPtr db_;
    std::array<StmtPtr, kSqlCount> statements_;
    bool readOnly_ = false;
    int busyMs_ = 0;
    // A connection inherited through fork() belongs to the parent: it is dropped unclosed.
    bool abandoned_ = false;
    pid_t pid_ = 0;
    std::string file_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

namespace {

// One run of a cached statement. Resetting it at the end matters: a statement left unreset
// keeps its read transaction open, and later reads would see an old snapshot of the store.
class Query {
public:
    Query(Hive& hive, Sql which) : hive_(hive), stmt_(hive.Statement(which)) {}
    ~Query() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& Bind(int index, std::int64_t value) {
        Check(sqlite3_bind_int64(stmt_, index, value));
        return *this;
    }
    // Copied by SQLite: callers pass temporaries such as a folded name.
    Query& Bind(int index, std::string_view text) {
        Check(sqlite3_bind_text(stmt_, index, text.data() ? text.data() : "",
                                static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Query& BindBlob(int index, std::span<const std::uint8_t> data) {
        // A null pointer would bind NULL rather than an empty blob.
        static const std::uint8_t empty = 0;
        Check(sqlite3_bind_blob(stmt_, index, data.empty() ? &empty : data.data(),
                                static_cast<int>(data.size()), SQLITE_TRANSIENT));
        return *this;
    }

    // True for a row, false when done.
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        hive_.Fail(rc);
    }

    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string Text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return text ? std::string(text, sqlite3_column_bytes(stmt_, column)) : std::string();
    }
    Bytes Blob(int column) const {
        const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, column));
        return data ? Bytes(data, data + sqlite3_column_bytes(stmt_, column)) : Bytes();
    }

private:
    void Check(int rc) const {
        if (rc != SQLITE_OK)
            hive_.Fail(rc);
    }

    Hive& hive_;
    sqlite3_stmt* stmt_;
};

// A change made outside any StoreTransaction gets a transaction of its own.
class WriteScope {
public:
    explicit WriteScope(Hive& hive) : hive_(hive) {
        if (sqlite3_get_autocommit(hive.db())) {
            hive.Exec(kBegin);
            owner_ = true;
        }
    }
    ~WriteScope() {
        if (owner_)
            sqlite3_exec(hive_.db(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;

    void Commit() {
        if (owner_) {
            hive_.Exec(kCommit);
            owner_ = false;
        }
    }

private:
    Hive& hive_;
    bool owner_ = false;
};

// Reads of several statements from one snapshot of the store, unless a transaction is open
// already: a key found on the way down cannot be deleted and made again by another process
// before the walk goes on below it.
class ReadScope {
public:
    explicit ReadScope(Hive& hive) {
        if (sqlite3_get_autocommit(hive.db())) {
            end_ = hive.Statement(kRollback);
            hive.Exec(kBeginRead);
        }
    }
    ~ReadScope() {
        if (end_) {
            sqlite3_step(end_);
            sqlite3_reset(end_);
        }
    }
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

private:
    sqlite3_stmt* end_ = nullptr;
};

// How far the names lead down from the hive: the deepest key found, how many names it took
// and, when asked for, its path in its stored letter case.
struct Walk {
    std::int64_t id = kHiveKeyId;
    std::size_t found = 0;
};

Walk WalkDown(Hive& hive, const std::vector<std::string_view>& names, std::string* path) {
    Walk walk;
    const ReadScope snapshot(hive);
    for (const std::string_view name : names) {
        Query q(hive, kFindChild);
        q.Bind(1, walk.id).Bind(2, FoldCase(name));
        if (!q.Step())
            break;
        walk.id = q.Int(0);
        ++walk.found;
        if (path) {
            if (!path->empty())
                *path += '\\';
            *path += q.Text(1);
        }
    }
    return walk;
}

int ExecSimple(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// What SQLite keeps beside a database.
constexpr std::array<const char*, 3> kSideFiles = {"-wal", "-shm", "-journal"};

// `shown` is how the message names the file: "it" for the database that the message is about.
std::string NotAFileOfTheStore(const std::string& shown, mode_t type) {
    if (S_ISLNK(type))
        return shown + " is a symbolic link; the store's files are never reached through a link";
    if (S_ISDIR(type))
        return shown + " is a folder, not a file";
    return shown + " is not a regular file";
}

StoreFault KindFault(mode_t type) {
    if (S_ISLNK(type))
        return StoreFault::Link;
    if (S_ISDIR(type))
        return StoreFault::Folder;
    return StoreFault::NotRegular;
}

// What an errno value from opening `file` means for the store.
StoreProblem SystemProblem(const std::string& file, int error) {
    switch (error) {
    case ELOOP:
        return {StoreFault::Link, file, 0};
    case EISDIR:
        return {StoreFault::Folder, file, 0};
    case EACCES:
    case EPERM:
        return {StoreFault::NoPermission, file, error};
    case ENOSPC:
    case EDQUOT:
        return {StoreFault::DiskFull, file, error};
    default:
        return {StoreFault::SystemError, file, error};
    }
}

// SQLite's verdict on the database `file`, from the result code of what it refused.
StoreProblem SqliteProblem(sqlite3* db, int rc, const std::string& file) {
    const int system = db ? sqlite3_system_errno(db) : 0;
    switch (rc & 0xFF) {
    case SQLITE_NOTADB:
        return {StoreFault::NotADatabase, file, 0};
    case SQLITE_CORRUPT:
        return {StoreFault::Damaged, file, 0};
    case SQLITE_FULL:
        return {StoreFault::DiskFull, file, 0};
    case SQLITE_READONLY:
        return {StoreFault::ReadOnly, file, 0};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return {StoreFault::Busy, file, 0};
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return {StoreFault::NoPermission, file, 0};
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
        if (system != 0)
            return SystemProblem(file, system);
        [[fallthrough]];
    default:
        return {StoreFault::Other, file, rc & 0xFF};
    }
}

std::uint32_t BigEndian(const unsigned char* bytes, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// Whether SQLite's log or journal beside `file` may hold pages that the file itself lacks yet
// (a process ended before it copied them back): then the file alone tells nothing of the
// database, and only SQLite, which reads both, can say what it holds.
bool LogPending(const std::string& file) {
    constexpr off_t kLogHeader = 32; // a log without a frame after it holds no page
    struct stat st {};
    if (::lstat((file + "-wal").c_str(), &st) == 0 &&
        (!S_ISREG(st.st_mode) || st.st_size > kLogHeader))
        return true;
    return ::lstat((file + "-journal").c_str(), &st) == 0 &&
           (!S_ISREG(st.st_mode) || st.st_size > 0);
}

// What the database's first 100 bytes say of it against the file's size, before SQLite opens
// it: SQLite would open a file cut short at a page boundary and go on writing into it. An empty
// file is a new store.
StoreFault HeaderFault(int fd, off_t size, bool logPending) {
    static constexpr unsigned char kMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                                 'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
    if (size == 0)
        return StoreFault::None;
    unsigned char header[100];
    std::size_t got = 0;
    while (got < sizeof header) {
        const ssize_t n = ::pread(fd, header + got, sizeof header - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    const std::size_t magic = std::min(got, sizeof kMagic);
    if (std::memcmp(header, kMagic, magic) != 0)
        return StoreFault::NotADatabase;
    if (got < sizeof header)
        return StoreFault::CutShort;
    if (logPending)
        return StoreFault::None;
    std::uint32_t pageSize = BigEndian(header + 16, 2);
    if (pageSize == 1)
        pageSize = 65536;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0)
        return StoreFault::Damaged;
    // The page count is only kept when the two counters agree (every SQLite since 2010).
    const std::uint64_t pages = BigEndian(header + 28, 4);
    if (pages != 0 && BigEndian(header + 24, 4) == BigEndian(header + 92, 4) &&
        pages * pageSize > static_cast<std::uint64_t>(size))
        return StoreFault::CutShort;
    const std::uint32_t applicationId = BigEndian(header + 68, 4);
    if (applicationId == static_cast<std::uint32_t>(kApplicationId))
        return BigEndian(header + 60, 4) > static_cast<std::uint32_t>(kSchemaVersion)
                   ? StoreFault::NewerVersion
                   : StoreFault::None;
    // Ours carry their mark from their first commit on; only a database of one page, with no
    // table yet, may lack it.
    return applicationId != 0 || pages > 1 ? StoreFault::OtherProgram : StoreFault::None;
}

std::string HeaderFaultText(StoreFault fault) {
    switch (fault) {
    case StoreFault::NotADatabase:
        return "it is not a database";
    case StoreFault::CutShort:
        return "it is cut short: the end of the database is missing";
    case StoreFault::Damaged:
        return "the database in it is damaged";
    case StoreFault::OtherProgram:
        return "the file is another program's database";
    case StoreFault::NewerVersion:
        return "the store was written by a newer version of Quorvane";
    default:
        return "";
    }
}

// Through the file's own descriptor. A file with other names too (hard links) is not the
// store's alone, and keeps its mode.
void SetPrivateMode(int fd, const struct stat& st, mode_t wanted) {
    if (st.st_nlink == 1 && (st.st_mode & 07777) != wanted)
        ::fchmod(fd, wanted);
}

// Opens a store file read-only or read-write without following a link; never a device or a
// pipe, which are refused before anything opens them.
UniqueFd OpenStoreFile(const std::string& path, const std::string& shown, int flags,
                       std::string* why, StoreProblem* problem) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *why = NotAFileOfTheStore(shown, st.st_mode);
        *problem = {KindFault(st.st_mode), path, 0};
        return UniqueFd();
    }
    const int common = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    UniqueFd fd(::open(path.c_str(), flags | common, 0600));
    const int error = errno;
    // A store made read-only by its user is still read.
    if (!fd && error == EACCES && (flags & O_ACCMODE) == O_RDWR)
        fd.reset(::open(path.c_str(), O_RDONLY | common));
    if (!fd) {
        // A link put there since the look above.
        *why = error == ELOOP ? NotAFileOfTheStore(shown, S_IFLNK) : std::strerror(error);
        *problem = SystemProblem(path, error);
    } else if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = NotAFileOfTheStore(shown, st.st_mode);
        *problem = {KindFault(st.st_mode), path, 0};
        fd.reset();
    }
    return fd;
}

// Creates the database file when it is missing, private from the first byte on, and makes the
// store private again where its modes were loosened by hand. SQLite creates -wal and -shm with
// the database's mode of that moment, so a session on a read-only database leaves them
// read-only behind it; once the database may be written again they must be too, or every later
// write fails through them. Answers why the store cannot be used, "" when it can; a file that
// cannot be used is left as it was, its mode too.
std::string MakePrivate(const std::string& file, StoreProblem& problem) {
    std::string why;
    const UniqueFd db = OpenStoreFile(file, "it", O_RDWR | O_CREAT, &why, &problem);
    struct stat st {};
    if (!db)
        return why;
    if (::fstat(db.get(), &st) != 0) {
        problem = SystemProblem(file, errno);
        return std::strerror(errno);
    }
    if (const StoreFault fault = HeaderFault(db.get(), st.st_size, LogPending(file));
        fault != StoreFault::None) {
        problem = {fault, file, 0};
        return HeaderFaultText(fault);
    }
    const mode_t writable = (st.st_mode & S_IWUSR) ? 0600 : 0;
    struct Side {
        UniqueFd fd;
        struct stat st;
    };
    std::vector<Side> sides;
    for (const char* suffix : kSideFiles) {
        const std::string side = file + suffix;
        struct stat found {};
        if (::lstat(side.c_str(), &found) != 0)
            continue;
        StoreProblem refused;
        UniqueFd fd = OpenStoreFile(side, side, O_RDONLY, &why, &refused);
        if (!fd) {
            // A side file that its owner may not even read is left to SQLite to report.
            if (S_ISREG(found.st_mode))
                continue;
            problem = refused;
            return why;
        }
        if (::fstat(fd.get(), &found) == 0)
            sides.push_back({std::move(fd), found});
    }
    SetPrivateMode(db.get(), st, st.st_mode & 0600);
    for (const Side& side : sides)
        SetPrivateMode(side.fd.get(), side.st, (side.st.st_mode & 0600) | writable);
    return "";
}

} // namespace

void Hive::Exec(Sql which) {
    Query q(*this, which);
    while (q.Step()) {
    }
}

std::shared_ptr<Hive> Hive::For(RootKey root, std::string* why) {
    thread_local std::array<std::shared_ptr<Hive>, 2> cache;
    std::shared_ptr<Hive>& slot = cache[root == RootKey::LocalMachine ? 0 : 1];
    const std::string file = HiveFile(root).string();
    if (slot) {
        struct stat st {};
        // A connection that found the store read-only stays so: it is opened again once the
        // user has given the permission back.
        if (slot->pid_ == ::getpid() && slot->file_ == file && ::lstat(file.c_str(), &st) == 0 &&
            st.st_dev == slot->dev_ && st.st_ino == slot->ino_ &&
            !(slot->readOnly_ && ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0)) {
            slot->ApplyBusyTimeout();
            return slot;
        }
        if (slot->pid_ != ::getpid())
            slot->abandoned_ = true;
        slot.reset();
    }
    StoreProblem& problem = Problem(root);
    problem = {};
    slot = OpenNew(file, why, problem);
    return slot;
}

std::shared_ptr<Hive> Hive::OpenNew(const std::string& file, std::string* why,
                                    StoreProblem& problem) {
    const auto fail = [&](const std::string& reason) -> std::shared_ptr<Hive> {
        if (why)
            *why = "cannot open the store " + file + ": " + reason;
        return nullptr;
    };
    if (!EnsureStoreFolder()) {
        problem = {StoreFault::NoFolder, StoreFolder(), 0};
        return fail("the store folder cannot be created");
    }
    if (const std::string refused = MakePrivate(file, problem); !refused.empty())
        return fail(refused);

    auto hive = std::make_shared<Hive>();
    hive->pid_ = ::getpid();
    hive->file_ = file;
    sqlite3* raw = nullptr;
    // Not SQLITE_OPEN_NOFOLLOW: that refuses a link anywhere on the path, also one the user
    // made to keep the store folder elsewhere. The file itself is known to be no link by now.
    const int rc =
        sqlite3_open_v2(file.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    hive->db_.reset(raw);
    if (rc != SQLITE_OK) {
        problem = SqliteProblem(raw, raw ? sqlite3_extended_errcode(raw) : rc, file);
        return fail(raw ? ErrorText(raw) : sqlite3_errstr(rc));
    }
    std::string reason;
    if (!hive->Prepare(&reason, problem)) {
        problem.file = file;
        return fail(reason);
    }
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) {
        problem = {StoreFault::Replaced, file, 0};
        return fail("the file vanished while it was opened");
    }
    hive->dev_ = st.st_dev;
    hive->ino_ = st.st_ino;
    return hive;
}

bool Hive::Prepare(std::string* why, StoreProblem& problem) {
    sqlite3* db = db_.get();
    sqlite3_extended_result_codes(db, 1);
    ApplyBusyTimeout();
    readOnly_ = sqlite3_db_readonly(db, "main") == 1;
    const auto failed = [&] {
        *why = ErrorText(db);
        problem = SqliteProblem(db, sqlite3_extended_errcode(db), file_);
        return false;
    };

    // One statement, so one snapshot: a store that another process is setting up at this
    // moment is seen either empty or complete, never half made.
    struct Header {
        int appId = 0, version = 0, objects = 0;
    };
    const auto readHeader = [&](Header& h) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db,
                               "SELECT (SELECT application_id FROM pragma_application_id), "
                               "(SELECT user_version FROM pragma_user_version), "
                               "(SELECT count(*) FROM sqlite_schema)",
                               -1, &raw, nullptr) != SQLITE_OK)
            return false;
        StmtPtr stmt(raw);
        if (sqlite3_step(stmt.get()) != SQLITE_ROW)
            return false;
        h = {sqlite3_column_int(raw, 0), sqlite3_column_int(raw, 1), sqlite3_column_int(raw, 2)};
        return true;
    };
    // FULL: a commit is on the disk, not only in the page cache, when the call returns.
    if (ExecSimple(db, "PRAGMA synchronous=FULL") != SQLITE_OK)
        return failed();
    // The first read of the file: a file that is not a database fails here.
    Header header;
    if (!readHeader(header))
        return failed();
    // A change of the store's layout in a transaction of its own, made when the header read
    // again under the write lock still asks for it: another process may have made it meanwhile.
    const auto changeOnce = [&](bool (*due)(const Header&), const std::string& sql) {
        if (ExecSimple(db, "BEGIN IMMEDIATE") != SQLITE_OK)
            return failed();
        bool ok = readHeader(header);
        if (ok && due(header))
            ok = ExecSimple(db, sql.c_str()) == SQLITE_OK;
        if (ok)
            ok = ExecSimple(db, "COMMIT") == SQLITE_OK;
        if (!ok) {
            failed();
            ExecSimple(db, "ROLLBACK");
            return false;
        }
        return readHeader(header) || failed();
    };
    const auto empty = [](const Header& h) { return h.appId == 0 && h.objects == 0; };
    if (empty(header)) {
        if (readOnly_) {
            *why = "the store is empty and read-only";
            problem.fault = StoreFault::ReadOnly;
            return false;
        }
        // WAL: readers never wait for a writer and a commit is one append to the log. SQLite
        // does not wait for the exclusive lock this switch needs, so we do.
        for (int waited = 0;; ++waited) {
            const int rc = ExecSimple(db, "PRAGMA journal_mode=WAL");
            if (rc == SQLITE_OK)
                break;
            if ((rc & 0xFF) != SQLITE_BUSY || waited >= busyMs_)
                return failed();
            ::usleep(1000);
        }
        const std::string setup = kSchema + "PRAGMA application_id=" +
                                  std::to_string(kApplicationId) + ";PRAGMA user_version=" +
                                  std::to_string(kSchemaVersion) + ";";
        if (!changeOnce(empty, setup))
            return false;
    }
    if (header.appId != kApplicationId) {
        *why = "the file is another program's database";
        problem.fault = StoreFault::OtherProgram;
        return false;
    }
    if (header.version > kSchemaVersion) {
        *why = "the store was written by a newer version of Quorvane";
        problem.fault = StoreFault::NewerVersion;
        return false;
    }
    // A store of an older version is taken over at its first open, all in one transaction: a
    // kill in the middle leaves it as it was, for the next open to take over.
    if (header.version == 1) {
        if (readOnly_) {
            *why = "the store is of an older version's layout, which is brought up to date when "
                   "it is first opened, and it is read-only";
            problem.fault = StoreFault::ReadOnly;
            return false;
        }
        if (sqlite3_create_function_v2(db, "quorvane_fold", 1,
                                       SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                       FoldFunction, nullptr, nullptr, nullptr) != SQLITE_OK)
            return failed();
        const auto version1 = [](const Header& h) {
            return h.appId == kApplicationId && h.version == 1;
        };
        if (!changeOnce(version1, kTakeOverVersion1)) {
            *why = "the store's keys cannot be brought to this version's layout: " + *why;
            return false;
        }
    }
    // Only now: with foreign keys on, dropping the old table would take the values with it.
    if (ExecSimple(db, "PRAGMA foreign_keys=ON") != SQLITE_OK)
        return failed();
    return true;
}

const char* HiveName(RootKey root) {
    return root == RootKey::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::filesystem::path HiveFile(RootKey root) {
    return StoreFolder() / (root == RootKey::LocalMachine ? "machine.db" : "user.db");
}

bool IsStoreFile(const std::filesystem::path& path) {
    const std::filesystem::path parent = path.parent_path();
    struct stat folder {}, in {};
    if (::stat(StoreFolder().c_str(), &folder) != 0 ||
        ::stat(parent.empty() ? "." : parent.c_str(), &in) != 0 || folder.st_dev != in.st_dev ||
        folder.st_ino != in.st_ino)
        return false;
    const std::string name = path.filename().string();
    for (const RootKey root : {RootKey::LocalMachine, RootKey::CurrentUser}) {
        const std::string db = HiveFile(root).filename().string();
        if (name == db)
            return true;
        for (const char* suffix : kSideFiles)
            if (name == db + suffix)
                return true;
    }
    return false;
}

StoreProblem InspectHiveFiles(RootKey root) {
    struct stat st {};
    if (::stat(StoreFolder().c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        return {StoreFault::NoFolder, StoreFolder(), 0};
    const std::string file = HiveFile(root).string();
    StoreProblem problem;
    if (::lstat(file.c_str(), &st) == 0) {
        std::string why;
        const UniqueFd fd = OpenStoreFile(file, "it", O_RDONLY, &why, &problem);
        if (!fd)
            return problem;
        if (::fstat(fd.get(), &st) != 0)
            return SystemProblem(file, errno);
        if (const StoreFault fault = HeaderFault(fd.get(), st.st_size, LogPending(file));
            fault != StoreFault::None)
            return {fault, file, 0};
    } else if (errno != ENOENT) {
        return SystemProblem(file, errno);
    }
    for (const char* suffix : kSideFiles) {
        const std::string side = file + suffix;
        if (::lstat(side.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return {KindFault(st.st_mode), side, 0};
    }
    return problem;
}

StoreProblem HiveProblem(RootKey root) {
    if (Hive::For(root, nullptr))
        return {};
    return Hive::Problem(root);
}

std::string DescribeStoreProblem(const StoreProblem& problem) {
    std::string text = problem.file.string() + ": ";
    switch (problem.fault) {
    case StoreFault::None:
        return "";
    case StoreFault::NoFolder:
        return text + "the store folder cannot be made, or something other than a folder has "
                      "its name";
    case StoreFault::Link:
        return text + "it is a symbolic link; the store's files are never reached through a link";
    case StoreFault::Folder:
        return text + "it is a folder, not a file";
    case StoreFault::NotRegular:
        return text + "it is not a regular file";
    case StoreFault::NoPermission:
        return text + "it may not be opened (" +
               std::strerror(problem.error != 0 ? problem.error : EACCES) + ")";
    case StoreFault::NotADatabase:
    case StoreFault::CutShort:
    case StoreFault::Damaged:
    case StoreFault::OtherProgram:
    case StoreFault::NewerVersion:
        return text + HeaderFaultText(problem.fault);
    case StoreFault::ReadOnly:
        return text + "it is read-only, and must be written before it can be used";
    case StoreFault::DiskFull:
        return text + "the disk is full";
    case StoreFault::Busy:
        return text + "another process holds the store's lock";
    case StoreFault::Replaced:
        return text + "it was replaced while it was being opened";
    case StoreFault::SystemError:
        return text + std::strerror(problem.error);
    case StoreFault::Other:
        return text + "SQLite refused it (" + sqlite3_errstr(problem.error) + ")";
    }
    return text;
}

std::string KeyPathBeyondLimits(std::string_view path) {
    const std::vector<std::string_view> names = SplitKeyPath(path);
    if (names.size() > kMaxKeyDepth)
        return "the key is " + std::to_string(names.size()) + " levels deep; keys nest at most " +
               std::to_string(kMaxKeyDepth) + " levels";
    for (const std::string_view name : names) {
        const std::size_t length = Utf16Length(name);
        if (length <= kMaxKeyNameLength)
            continue;
        // Its first characters are enough to tell which name it is.
        std::size_t shown = 0;
        for (int count = 0; count < 32 && shown < name.size(); ++count) {
            char32_t cp;
            const std::size_t len = DecodeUtf8(name, shown, cp);
            shown += len != 0 ? len : 1;
        }
        return "the key name \"" + std::string(name.substr(0, shown)) + "...\" is " +
               std::to_string(length) + " characters long; key names are at most " +
               std::to_string(kMaxKeyNameLength) + " characters";
    }
    return "";
}

std::chrono::milliseconds SetStoreBusyTimeout(std::chrono::milliseconds wait) {
    return std::chrono::milliseconds(
        busyTimeoutMs.exchange(static_cast<int>(wait.count()), std::memory_order_relaxed));
}

RegistryKey RegistryKey::Open(RootKey root, std::string_view path, bool create, OpenStatus* status,
                              std::string* why) {
    OpenStatus dummy;
    OpenStatus& result = status ? *status : dummy;
    result = OpenStatus::Unavailable;
    std::shared_ptr<Hive> hive = Hive::For(root, why);
    if (!hive)
        return {};
    const std::vector<std::string_view> names = SplitKeyPath(path);
    try {
        std::string keyPath;
        Walk walk = WalkDown(*hive, names, &keyPath);
        if (walk.found == names.size()) {
            result = OpenStatus::Opened;
            return RegistryKey(std::move(hive), root, walk.id, std::move(keyPath));
        }
        if (!create) {
            result = OpenStatus::NotFound;
            if (why)
                *why = "the key does not exist";
            return {};
        }
        if (hive->readOnly()) {
            if (why)
                *why = "the store is read-only";
            return {};
        }
        if (std::string beyond = KeyPathBeyondLimits(path); !beyond.empty()) {
            if (why)
                *why = std::move(beyond);
            return {};
        }
        WriteScope scope(*hive);
        // Again under the write lock: another process may have made some of them meanwhile.
        keyPath.clear();
        walk = WalkDown(*hive, names, &keyPath);
        for (std::size_t i = walk.found; i < names.size(); ++i) {
            Query insert(*hive, kInsertKey);
            insert.Bind(1, walk.id).Bind(2, names[i]).Bind(3, FoldCase(names[i])).Step();
            walk.id = sqlite3_last_insert_rowid(hive->db());
            if (!keyPath.empty())
                keyPath += '\\';
            keyPath += names[i];
        }
        scope.Commit();
        result = OpenStatus::Opened;
        return RegistryKey(std::move(hive), root, walk.id, std::move(keyPath));
    } catch (const StoreError& e) {
        if (why)
            *why = e.what();
        return {};
    }
}

std::optional<RegValue> RegistryKey::QueryValue(std::string_view name) const {
    if (!hive_)
        return std::nullopt;
    Query q(*hive_, kQueryValue);
    q.Bind(1, id_).Bind(2, FoldCase(name));
    if (!q.Step())
        return std::nullopt;
    return RegValue{q.Text(0), static_cast<RegType>(q.Int(1)), q.Blob(2)};
}

bool RegistryKey::HasValue(std::string_view name) const {
    if (!hive_)
        return false;
    Query q(*hive_, kHasValue);
    q.Bind(1, id_).Bind(2, FoldCase(name));
    return q.Step();
}

std::vector<std::string> RegistryKey::ValueNames() const {
    std::vector<std::string> names;
    if (!hive_)
        return names;
    Query q(*hive_, kValueNames);
    q.Bind(1, id_);
    while (q.Step())
        names.push_back(q.Text(0));
    return names;
}

std::vector<RegValue> RegistryKey::Values() const {
    std::vector<RegValue> values;
    if (!hive_)
        return values;
    Query q(*hive_, kValues);
    q.Bind(1, id_);
    while (q.Step())
        values.push_back({q.Text(0), static_cast<RegType>(q.Int(1)), q.Blob(2)});
    return values;
}

std::vector<std::string> RegistryKey::SubkeyNames() const {
    std::vector<std::string> names;
    if (!hive_)
        return names;
    Query q(*hive_, kSubkeys);
    q.Bind(1, id_);
    while (q.Step())
        names.push_back(q.Text(1));
    return names;
}

std::vector<RegistryKey> RegistryKey::Subkeys() const {
    std::vector<RegistryKey> keys;
    if (!hive_)
        return keys;
    Query q(*hive_, kSubkeys);
    q.Bind(1, id_);
    while (q.Step()) {
        const std::string name = q.Text(1);
        const std::string fold = q.Text(2);
        if (name.empty() || name.find('\\') != std::string::npos || fold != FoldCase(name)) {
            std::string self = HiveName(root_);
            if (!path_.empty())
                self += '\\' + path_;
            const std::string problem =
                name.empty() ? "a subkey with an empty name"
                : name.find('\\') != std::string::npos
                    ? "a subkey whose name \"" + name + "\" holds a backslash"
                    : "a subkey \"" + name + "\" filed under another name, \"" + fold + "\"";
            throw StoreError("the store is damaged: the key " + self + " has " + problem +
                                 " (row " + std::to_string(q.Int(0)) + ")",
                             SQLITE_CORRUPT);
        }
        keys.push_back(
            RegistryKey(hive_, root_, q.Int(0), path_.empty() ? name : path_ + '\\' + name));
    }
    return keys;
}

void WalkKeyTree(const RegistryKey& top, const std::function<void(const RegistryKey&)>& visit) {
    if (!top)
        return;
    // Keys changed by another process meanwhile are seen either all before or all after the
    // change.
    const ReadScope snapshot(*top.hive_);
    std::vector<RegistryKey> pending{top};
    while (!pending.empty()) {
        const RegistryKey key = std::move(pending.back());
        pending.pop_back();
        visit(key);
        std::vector<RegistryKey> children = key.Subkeys();
        pending.insert(pending.end(), std::make_move_iterator(children.rbegin()),
                       std::make_move_iterator(children.rend()));
    }
}

void RegistryKey::SetValue(std::string_view name, RegType type,
                           std::span<const std::uint8_t> data) const {
    if (!hive_)
        throw StoreError("the key is not open", SQLITE_MISUSE);
    WriteScope scope(*hive_);
    {
        Query q(*hive_, kSetValue);
        q.Bind(1, id_).Bind(2, name).Bind(3, FoldCase(name)).Bind(4, std::int64_t{type});
        q.BindBlob(5, data).Step();
    }
    scope.Commit();
}

bool RegistryKey::DeleteValue(std::string_view name) const {
    if (!hive_)
        return false;
    WriteScope scope(*hive_);
    {
        Query q(*hive_, kDeleteValue);
        q.Bind(1, id_).Bind(2, FoldCase(name)).Step();
    }
    const bool deleted = sqlite3_changes(hive_->db()) > 0;
    scope.Commit();
    return deleted;
}

ValueLookup LookUpValue(RootKey root, std::string_view path, std::string_view name) {
    ValueLookup result;
    std::shared_ptr<Hive> hive = Hive::For(root, nullptr);
    if (!hive)
        return result;
    const std::vector<std::string_view> names = SplitKeyPath(path);
    try {
        const ReadScope snapshot(*hive);
        const Walk walk = WalkDown(*hive, names, nullptr);
        if (walk.found < names.size()) {
            result.status = OpenStatus::NotFound;
            return result;
        }
        result.status = OpenStatus::Opened;
        Query q(*hive, kQueryValue);
        q.Bind(1, walk.id).Bind(2, FoldCase(name));
        if (q.Step())
            result.value = RegValue{q.Text(0), static_cast<RegType>(q.Int(1)), q.Blob(2)};
    } catch (const StoreError&) {
        result.status = OpenStatus::Unavailable;
    }
    return result;
}

bool KeyExistsInStore(RootKey root, std::string_view path) {
    return static_cast<bool>(RegistryKey::Open(root, path, false));
}

bool DeleteKeyTreeInStore(RootKey root, std::string_view path) {
    const std::vector<std::string_view> names = SplitKeyPath(path);
    if (names.empty())
        return false;
    std::shared_ptr<Hive> hive = Hive::For(root, nullptr);
    if (!hive || hive->readOnly())
        return false;
    WriteScope scope(*hive);
    const Walk walk = WalkDown(*hive, names, nullptr);
    if (walk.found < names.size())
        return false;
    {
        Query q(*hive, kDeleteTree);
        q.Bind(1, walk.id).Step();
    }
    const bool deleted = sqlite3_changes(hive->db()) > 0;
    scope.Commit();
    return deleted;
}

std::shared_ptr<sqlite3> HiveConnectionForWriting(RootKey root, std::string* why) {
    std::shared_ptr<Hive> hive = Hive::For(root, why);
    if (!hive)
        return nullptr;
    if (hive->readOnly()) {
        if (why)
            *why = "the store is read-only";
        return nullptr;
    }
    sqlite3* db = hive->db();
    return std::shared_ptr<sqlite3>(std::move(hive), db);
}

std::shared_ptr<sqlite3> OpenHiveForReading(RootKey root, std::string* why,
                                            StoreProblem* problem) {
    const std::string file = HiveFile(root).string();
    StoreProblem found;
    const auto fail = [&](const std::string& reason) -> std::shared_ptr<sqlite3> {
        *why = "cannot read the store " + file + ": " + reason;
        if (problem)
            *problem = found;
        return nullptr;
    };
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0) {
        if (errno != ENOENT)
            found = SystemProblem(file, errno);
        return fail(errno == ENOENT ? "there is no such file (has Quorvane run yet?)"
                                    : std::strerror(errno));
    }
    std::string refused;
    const UniqueFd fd = OpenStoreFile(file, "it", O_RDONLY, &refused, &found);
    if (!fd)
        return fail(refused);
    struct stat opened {};
    ::fstat(fd.get(), &opened);
    for (const char* suffix : kSideFiles) {
        const std::string side = file + suffix;
        if (::lstat(side.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            found = {KindFault(st.st_mode), side, 0};
            return fail(NotAFileOfTheStore(side, st.st_mode));
        }
    }
    if (const StoreFault fault = HeaderFault(fd.get(), opened.st_size, LogPending(file));
        fault != StoreFault::None) {
        found = {fault, file, 0};
        return fail(HeaderFaultText(fault));
    }
    // A new store, which the program sets up at its first open, reads as one: no keys, no
    // values. Made in memory, so a read changes nothing on the disk.
    const auto newStore = [&]() -> std::shared_ptr<sqlite3> {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE, nullptr);
        DbPtr db(raw);
        const std::string setup = kSchema + "PRAGMA application_id=" +
                                  std::to_string(kApplicationId) + ";PRAGMA user_version=" +
                                  std::to_string(kSchemaVersion) + ";";
        if (rc != SQLITE_OK || ExecSimple(db.get(), setup.c_str()) != SQLITE_OK)
            return fail(raw ? ErrorText(raw) : sqlite3_errstr(rc));
        sqlite3_extended_result_codes(db.get(), 1);
        return std::shared_ptr<sqlite3>(db.release(), DbCloser());
    };
    if (opened.st_size == 0 && !LogPending(file))
        return newStore();
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    DbPtr db(raw);
    if (rc != SQLITE_OK) {
        found = SqliteProblem(raw, raw ? sqlite3_extended_errcode(raw) : rc, file);
        return fail(raw ? ErrorText(raw) : sqlite3_errstr(rc));
    }
    // The file SQLite opened is the one looked at above, not a link put in its place meanwhile.
    if (::lstat(file.c_str(), &st) != 0 || st.st_dev != opened.st_dev ||
        st.st_ino != opened.st_ino) {
        found = {StoreFault::Replaced, file, 0};
        return fail("the file was replaced while it was opened");
    }
    sqlite3_extended_result_codes(db.get(), 1);
    sqlite3_busy_timeout(db.get(), busyTimeoutMs.load(std::memory_order_relaxed));
    const auto refusedBySqlite = [&] {
        found = SqliteProblem(db.get(), sqlite3_extended_errcode(db.get()), file);
        return fail(ErrorText(db.get()));
    };
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db.get(),
                           "SELECT (SELECT application_id FROM pragma_application_id), "
                           "(SELECT user_version FROM pragma_user_version), "
                           "(SELECT count(*) FROM sqlite_schema)",
                           -1, &stmt, nullptr) != SQLITE_OK)
        return refusedBySqlite();
    const StmtPtr header(stmt);
    if (sqlite3_step(stmt) != SQLITE_ROW)
        return refusedBySqlite();
    if (sqlite3_column_int(stmt, 0) == 0 && sqlite3_column_int(stmt, 2) == 0)
        return newStore();
    if (sqlite3_column_int(stmt, 0) != kApplicationId) {
        found = {StoreFault::OtherProgram, file, 0};
        return fail("the file is another program's database");
    }
    if (sqlite3_column_int(stmt, 1) > kSchemaVersion) {
        found = {StoreFault::NewerVersion, file, 0};
        return fail("the store was written by a newer version of Quorvane");
    }
    return std::shared_ptr<sqlite3>(db.release(), DbCloser());
}

std::optional<RegValue> QueryValueReadOnly(sqlite3* db, std::string_view keyPath,
                                           std::string_view name) {
    const auto prepare = [db](Sql which) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db, kSqlText[which], -1, &raw, nullptr) != SQLITE_OK)
            throw StoreError(ErrorText(db), sqlite3_extended_errcode(db));
        return StmtPtr(raw);
    };
    const auto step = [db](sqlite3_stmt* stmt) {
        const int rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            throw StoreError(ErrorText(db), rc);
        return rc == SQLITE_ROW;
    };
    // One snapshot: the key found on the way down keeps its values while they are read.
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw StoreError(ErrorText(db), sqlite3_extended_errcode(db));
    struct End {
        sqlite3* db;
        ~End() { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); }
    } end{db};
    std::int64_t id = kHiveKeyId;
    const StmtPtr child = prepare(kFindChild);
    for (const std::string_view key : SplitKeyPath(keyPath)) {
        const std::string fold = FoldCase(key);
        sqlite3_reset(child.get());
        sqlite3_bind_int64(child.get(), 1, id);
        sqlite3_bind_text(child.get(), 2, fold.data(), static_cast<int>(fold.size()),
                          SQLITE_TRANSIENT);
        if (!step(child.get()))
            return std::nullopt;
        id = sqlite3_column_int64(child.get(), 0);
    }
    const StmtPtr value = prepare(kQueryValue);
    const std::string fold = FoldCase(name);
    sqlite3_bind_int64(value.get(), 1, id);
    sqlite3_bind_text(value.get(), 2, fold.data(), static_cast<int>(fold.size()),
                      SQLITE_TRANSIENT);
    if (!step(value.get()))
        return std::nullopt;
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(value.get(), 2));
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(value.get(), 0));
    return RegValue{text ? text : "", static_cast<RegType>(sqlite3_column_int64(value.get(), 1)),
                    data ? Bytes(data, data + sqlite3_column_bytes(value.get(), 2)) : Bytes()};
}

StoreTransaction::StoreTransaction(RootKey root) {
    hive_ = Hive::For(root, &error_);
    if (!hive_)
        return;
    if (hive_->readOnly()) {
        error_ = "the store is read-only";
        hive_.reset();
        return;
    }
    status_ = OpenStatus::Opened;
    error_.clear();
    if (!sqlite3_get_autocommit(hive_->db()))
        return;
    try {
        hive_->Exec(kBegin);
        owner_ = true;
    } catch (const StoreError& e) {
        error_ = e.what();
    }
}

StoreTransaction::~StoreTransaction() {
    if (owner_ && !done_)
        ExecSimple(hive_->db(), "ROLLBACK");
}

void StoreTransaction::Commit() {
    if (!ok())
        throw StoreError(error_.empty() ? "the store is not available" : error_, SQLITE_CANTOPEN);
    if (owner_ && !done_) {
        hive_->Exec(kCommit);
        done_ = true;
    }
}

} // namespace quorvane
