#pragma once
// The registry's stand-in: one SQLite database per root hive in the store folder
// (HKEY_LOCAL_MACHINE in machine.db, HKEY_CURRENT_USER in user.db), holding keys, and in each
// key named values of a registry data type with their bytes.
//
// Key and value names compare without regard to letter case (FoldCase) and keep the case they
// were created with. Subkeys enumerate in case-insensitive name order, values in the order in
// which they were first created. Every change is committed to the database before the call that
// made it returns, and every read sees what is committed at that moment, also from other
// processes. The connection of a hive is kept open per thread and reopened when the store
// folder changes, the file is replaced or the process has forked.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace quorvane {

enum class RootKey { LocalMachine, CurrentUser };
inline constexpr RootKey HKEY_LOCAL_MACHINE = RootKey::LocalMachine;
inline constexpr RootKey HKEY_CURRENT_USER = RootKey::CurrentUser;

// Registry data types, with the registry's own numbers.
using RegType = std::uint32_t;
inline constexpr RegType REG_NONE = 0;
inline constexpr RegType REG_SZ = 1;
inline constexpr RegType REG_EXPAND_SZ = 2;
inline constexpr RegType REG_BINARY = 3;
inline constexpr RegType REG_DWORD = 4;
inline constexpr RegType REG_MULTI_SZ = 7;
inline constexpr RegType REG_QWORD = 11;

using Bytes = std::vector<std::uint8_t>;

struct RegValue {
    std::string name;
    RegType type = REG_NONE;
    Bytes data;

    bool operator==(const RegValue&) const = default;
};

// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
const char* HiveName(RootKey root);

// The registry's own limits, which keep what one key costs bounded: how deep keys nest below
// the hive, and how long a key's name is, in characters as Windows counts them (UTF-16 units).
// Keys beyond them are never created.
inline constexpr std::size_t kMaxKeyDepth = 512;
inline constexpr std::size_t kMaxKeyNameLength = 255;
// Why no key can be made at `path` (key names joined by backslashes) for its size: it is deeper
// than kMaxKeyDepth or one of its names longer than kMaxKeyNameLength. "" when one can.
std::string KeyPathBeyondLimits(std::string_view path);

// How long a write waits for another process's write lock before it is refused (5 s unless
// changed). Applies to every connection of the process from its next operation on; returns the
// wait it replaces.
std::chrono::milliseconds SetStoreBusyTimeout(std::chrono::milliseconds wait);
// The database file of a hive in the current store folder.
std::filesystem::path HiveFile(RootKey root);
// Whether `path` names one of the store's own files: a hive's database or a file SQLite keeps
// beside it, existing or not, in the store folder however that is reached (another spelling,
// a link to the folder).
bool IsStoreFile(const std::filesystem::path& path);

// What keeps a hive's file from being used, as a code: the program puts it in its own words.
enum class StoreFault {
    None,
    NoFolder,     // the store folder cannot be made, or its name is taken by something else
    Link,         // `file` is a symbolic link: the store's files are never reached through one
    Folder,       // `file` is a folder
    NotRegular,   // `file` is a pipe, a device or a socket
    NoPermission, // the user may not open `file` (or make it in the store folder)
    NotADatabase, // `file` holds something other than an SQLite database
    CutShort,     // the database ends before its own header says it does
    Damaged,      // SQLite found the database malformed
    OtherProgram, // an SQLite database of another program
    NewerVersion, // a store written by a newer version of Quorvane
    ReadOnly,     // read-only, and it must be written before it can be used (new, or older)
    DiskFull,
    Busy,         // another process held the store's lock for longer than a write waits
    Replaced,     // the file was replaced while it was being opened
    SystemError,  // `error` (an errno value) says what
    Other,        // SQLite refused it: `error` is SQLite's result code
};

struct StoreProblem {
    StoreFault fault = StoreFault::None;
    std::filesystem::path file; // the hive's file, a file SQLite keeps beside it, or the folder
    int error = 0;
    explicit operator bool() const { return fault != StoreFault::None; }
    bool operator==(const StoreProblem&) const = default;
};

// What keeps the hive from being used, told by its files alone: what stands at their names, and
// the database's header against the file's size (a file cut short, another program's database,
// a newer version's store). Opens no database and changes nothing, so a start can afford it. A
// missing or empty (0-byte) file is a new store: no problem.
StoreProblem InspectHiveFiles(RootKey root);
// What keeps this thread's connection to the hive from being opened (the files' problems above,
// and what SQLite finds when it opens the database); opens the connection when it is not open.
StoreProblem HiveProblem(RootKey root);
// The problem as one line of English for standard error and the command-line tools
// ("<file>: it is cut short ...").
std::string DescribeStoreProblem(const StoreProblem& problem);

// The store was opened but an operation on it failed: an I/O error, a full disk, a lock held
// by another process for longer than the wait, a read-only store, or a key deleted by someone
// else while its handle was open.
class StoreError : public std::runtime_error {
public:
    StoreError(const std::string& what, int sqliteCode)
        : std::runtime_error(what), code_(sqliteCode) {}
    int code() const { return code_; }

private:
    int code_;
};

class Hive;

// Why a key could not be opened.
enum class OpenStatus {
    Opened,
    NotFound,    // opening without creating: the key does not exist
    Unavailable, // the store cannot be opened or written, or the key cannot be created
};

// An open key of one hive. Handles are cheap; a closed (default) handle is false. A handle
// whose key is deleted by someone else reads as empty and refuses writes (StoreError).
class RegistryKey {
public:
    RegistryKey() = default;

    // Opens `path` (key names joined by backslashes; empty names from doubled, leading or
    // trailing backslashes are skipped, so "" is the hive itself). With create, every missing
    // key on the way is created; a path beyond the limits above is refused (Unavailable).
    // `why`, when given, receives a readable reason on failure.
    static RegistryKey Open(RootKey root, std::string_view path, bool create,
                            OpenStatus* status = nullptr, std::string* why = nullptr);

    explicit operator bool() const { return hive_ != nullptr; }
    RootKey root() const { return root_; }
    // The key's path with each name in its stored letter case, no leading or trailing
    // backslash; "" for the hive itself.
    const std::string& path() const { return path_; }

    // Reads throw StoreError only when the store fails underneath.
    std::optional<RegValue> QueryValue(std::string_view name) const;
    bool HasValue(std::string_view name) const;
    std::vector<std::string> ValueNames() const;
    std::vector<RegValue> Values() const;
    std::vector<std::string> SubkeyNames() const;
    // Handles of the direct subkeys in enumeration order. A row that no key of the registry
    // could be (an empty name, a backslash in the name, a path that does not continue this
    // key's) throws StoreError naming the key, as a store that was damaged or edited by hand
    // may hold them.
    std::vector<RegistryKey> Subkeys() const;

    // Creates or replaces the value whatever its old type; a replaced value keeps its name's
    // letter case and its place in the enumeration. Throws StoreError when refused.
    void SetValue(std::string_view name, RegType type, std::span<const std::uint8_t> data) const;
    // False when there was no such value.
    bool DeleteValue(std::string_view name) const;

private:
    friend void WalkKeyTree(const RegistryKey&, const std::function<void(const RegistryKey&)>&);
    RegistryKey(std::shared_ptr<Hive> hive, RootKey root, std::int64_t id, std::string path)
        : hive_(std::move(hive)), root_(root), id_(id), path_(std::move(path)) {}

    std::shared_ptr<Hive> hive_;
    RootKey root_ = RootKey::LocalMachine;
    std::int64_t id_ = 0;
    std::string path_;
};

// The value `name` of the key at `path` in one lookup, without creating anything: status is
// Opened when the key exists (value empty when it has no such value), NotFound when it does
// not, Unavailable when the store cannot be opened or fails underneath.
struct ValueLookup {
    OpenStatus status = OpenStatus::Unavailable;
    std::optional<RegValue> value;
};
ValueLookup LookUpValue(RootKey root, std::string_view path, std::string_view name);

// Calls `visit` for `top` and every key below it, depth first in enumeration order, all read
// from one snapshot of the store. The walk keeps its own stack, so no depth of keys can exhaust
// the call stack. Throws StoreError (also for a damaged row, see Subkeys) and whatever `visit`
// throws.
void WalkKeyTree(const RegistryKey& top, const std::function<void(const RegistryKey&)>& visit);

// True when the key exists; never creates anything.
bool KeyExistsInStore(RootKey root, std::string_view path);

// Deletes the key with all its values and subkeys. False when it does not exist or the store
// cannot be opened; the hive itself ("") is never deleted. Throws StoreError when refused.
bool DeleteKeyTreeInStore(RootKey root, std::string_view path);

// Groups the following operations of this thread on one hive into a single transaction that
// takes the hive's write lock at once: all of them are committed by Commit(), none of them when
// the transaction ends without it. Inside an open transaction of the same hive it joins that
// one, and Commit() leaves the committing to the outer owner.
class StoreTransaction {
public:
    explicit StoreTransaction(RootKey root);
    ~StoreTransaction();
    StoreTransaction(const StoreTransaction&) = delete;
    StoreTransaction& operator=(const StoreTransaction&) = delete;

    // Unavailable: the store cannot be opened or is read-only. Otherwise Opened, unless the
    // write lock could not be had (then error() says why).
    OpenStatus status() const { return status_; }
    bool ok() const { return status_ == OpenStatus::Opened && error_.empty(); }
    const std::string& error() const { return error_; }

    // Throws StoreError when the commit fails; nothing is committed then.
    void Commit();

private:
    std::shared_ptr<Hive> hive_;
    OpenStatus status_ = OpenStatus::Unavailable;
    std::string error_;
    bool owner_ = false;
    bool done_ = false;
};

// The program's own tables beside the keys (the usage history, settings/history.h) use the
// hive's database directly through these.
//
// The connection the key operations of this thread use, so that statements run on it join an
// open StoreTransaction of the hive; it stays valid as long as the pointer is held. nullptr
// when the store cannot be opened, or is read-only (`why` says).
std::shared_ptr<sqlite3> HiveConnectionForWriting(RootKey root, std::string* why = nullptr);
// A connection of its own that only reads: it creates, changes and locks nothing for writing,
// so it neither waits for a writer nor holds one up, and it refuses what the store refuses (a
// hive's file that is missing, a link or not a regular file, cut short, another program's
// database, one of a newer version). nullptr with `why` set then, and `problem` when given (a
// missing file is no problem of the store's: none is set). An empty (0-byte) file reads as a
// new store: no keys, no values.
std::shared_ptr<sqlite3> OpenHiveForReading(RootKey root, std::string* why,
                                            StoreProblem* problem = nullptr);
// A value read through such a connection, the key named as the key operations name it: nullopt
// when the key or the value is not there. Throws StoreError when the database fails.
std::optional<RegValue> QueryValueReadOnly(sqlite3* db, std::string_view keyPath,
                                           std::string_view name);

} // namespace quorvane
