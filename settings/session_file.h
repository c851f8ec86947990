#pragma once
// The running session's state kept a second time, in a small file in the user's runtime folder
// (core/host.h), rewritten at every tick of the session without a flush to disk. The kernel
// keeps what a killed process wrote, so a kill or a crash loses at most a tick of the session;
// the store's flushed write every kSessionStateSeconds (settings/session_store.h) stays for a
// power cut, which takes the tmpfs with it, and costs the disk nothing more.
//
// The file ("quorvane-<hash>.session", named for the user and the store folder, so a Quorvane
// on a store folder of its own keeps one of its own) is mode 0600 and holds, a line each, the
// boot it was written in, then the state's values under the store's names, closed by a check
// of all the lines before it:
//   Quorvane session state 1
//   Boot=<the boot id>
//   Provider=<name>
//   FirstTick=<days>, LastWrite=<days> (as the store's vkDate values)
//   Seconds=<n> ... SavedTx=<n> (kSessionCountNames, then kSessionByteNames)
//   Check=<16 hex digits>
//
// At start-up it is read beside the store's state and wins where it holds a later moment of the
// same session (same provider and first tick) or a session the store has no state of. A file
// that is damaged, cut short, not a regular file of this user (a link is never followed), of
// another boot, naming a provider that has gone, holding what no session could have written
// (ImplausibleSessionState: a count below zero, a moment after now, more seconds than the
// session's time), or at odds with the store's state of the same session is never trusted over
// the store; the debug output says why it was passed over. A store's state that no session could
// have written is passed over and removed, with its reason on the debug output too.

#include "core/fd.h"
#include "settings/session_store.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

std::filesystem::path SessionStateFilePath();

// The file's contents for `state` written in the boot `boot`; "" for a provider name that does
// not fit on one line.
std::string SessionStateFileText(const StoredSessionState& state, std::string_view boot);

// What a read of the file found: its state, or why there is none to use ("" when there is no
// file at all).
struct SessionStateFileRead {
    std::optional<StoredSessionState> state;
    std::string why;
    // A regular file of this user's, which it is ours to remove.
    bool ours = false;
};
SessionStateFileRead ReadSessionStateFile();

// Why the file's state `file` is not to be trusted over the store's (`stored`, nullopt when
// the store has none); nullopt when the file's wins.
std::optional<std::string> FileStateLoses(const std::optional<StoredSessionState>& stored,
                                          const StoredSessionState& file);

// The state a session cut short left, to be recovered at start-up: the store's, or the file's
// where it wins, which is then written to the store in one commit before the file goes (so a
// kill at any moment leaves the session to be recovered once, never twice). The file goes too
// when it is passed over, unless it is not ours. nullopt when there is nothing to recover, or
// when the file cannot be moved into the store or removed: both wait for the next start.
std::optional<StoredSessionState> TakeCutSessionState();

// The writing side, for the running session.
class SessionStateFile {
public:
    // A session starts: its file's place is taken now. A name held by anything but a regular
    // file of this user's is left alone, and the session keeps no file.
    void Begin();
    // Replaces the file's contents with `state`, not flushed to disk. False when nothing was
    // written.
    bool Write(const StoredSessionState& state);
    // The session stops or is dropped: its file goes, before the store's state does.
    void Remove();

private:
    bool Replace(const std::string& text);
    bool Rewrite(const std::string& text);

    std::string path_;
    std::string boot_;
    // In a folder on a disk (no runtime folder), the file made at the session's first write and
    // rewritten in place from then on: a new file a second would send a page a second to the
    // disk, one page rewritten goes as often as the kernel writes dirty pages back. A torn
    // rewrite (only a power cut tears one) fails the check and is passed over.
    bool onDisk_ = false;
    UniqueFd open_;
    std::size_t size_ = 0;
    bool usable_ = false;
    bool written_ = false;
    bool failureTold_ = false;
};

} // namespace quorvane
