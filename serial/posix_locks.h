#pragma once
// UUCP lock files, kept as Linux's dialers and terminal programs keep them: LCK..<name> in the
// lock folder, holding the owner's PID.
//
// Names. A program names its lock after the path it was given: pppd and minicom take the path
// below /dev with every '/' made '_' (LCK..pts_3, LCK..serial_by-id_usb-...), cu, microcom and
// Kermit its last part (LCK..ttyUSB0, LCK..usb-...). So one device has the names of its own
// path and of the links under /dev that point at it (/dev/modem, /dev/serial/by-id/*,
// /dev/serial/by-path/*). Any other LCK.. file is the device's too when its name, read back as a
// path below /dev, or as a link in the store folder's ports/, is the same device (st_rdev). A
// name that is a node below /dev means that node (LCK..gsm_modem of /dev/gsm_modem); only a name
// that is none is read with '_' taken as '/' wherever the part before it is a folder.
//
// Contents. The PID as ten characters and a newline (HDB), shorter text ("%4d\n", or digits
// without a newline as socat writes them, or followed by more as minicom writes them), or a
// binary int of four bytes. Four bytes that are all printable (or blanks) are text: a binary PID
// (below 2^22) always has a zero byte. A lock is stale only when the process that this one
// reading names is gone (a zombie counts as gone); so is one naming this process that no open of
// this process holds (it was left behind). A stale lock holds nothing: it is removed, or, where
// it is not ours to remove (a root dialer's in the sticky /run/lock), passed by, and the port is
// taken under the device's other names. A lock file that exists but holds no PID that can be
// read counts as held: its owner may be writing it. A lock that cannot be taken after its
// retries is held.
//
// Ours. Written whole under a temporary name, readable by everyone (0644 whatever the umask),
// then linked under every name of the device, so nobody ever reads it half written.

#include <string>
#include <sys/types.h>
#include <vector>

namespace quorvane {

// The names (after "LCK..") that programs give the lock of the character device `device` (its
// real path, device number `rdev`) when it is reached as `given`: the device's own first.
std::vector<std::string> DeviceLockNames(const std::string& given, const std::string& device,
                                         dev_t rdev);

// Whether the lock name `name`, read back as a path, is the device `rdev`.
bool LockNameIsDevice(const std::string& name, dev_t rdev);

// A live lock on the device whose names are `names`: empty when there is none (stale ones are
// removed on the way), else which lock file it is and whose.
std::string FindLiveLock(const std::vector<std::string>& names, dev_t rdev);

// This process's lock files on one device; removed when the object goes.
class TLockFiles {
public:
    TLockFiles() = default;
    ~TLockFiles() { Release(); }
    TLockFiles(const TLockFiles&) = delete;
    TLockFiles& operator=(const TLockFiles&) = delete;

    // Takes a lock file under each of `names` (but one where a stale lock stands that is not
    // ours to remove). False, with the refusal in `why` and nothing kept, when another holds one
    // or one cannot be taken after its retries. Without a lock folder that lets us write, takes
    // none and answers true.
    bool Take(const std::vector<std::string>& names, std::string& why);
    void Release();
    const std::vector<std::string>& Paths() const { return paths_; }

private:
    std::vector<std::string> paths_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

} // namespace quorvane
