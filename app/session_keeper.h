#pragma once
// Keeps a running session's state in the store against a kill (accounting/session_recovery.h
// has the rules, settings/session_store.h the layout): written every kSessionStateSeconds of the
// session's ticks and with every save of the totals while it runs, removed by the save when it
// stops. The state file (settings/session_file.h) holds it too, rewritten at every tick, so a
// kill loses no more than a tick. A stop whose save cannot be made keeps the session's state,
// final now, until a save makes it.

#include "accounting/session_recovery.h"
#include "app/profile_form.h"
#include "settings/history.h"
#include "settings/session_file.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class TSessionKeeper : public ProfileSaveSession {
public:
    explicit TSessionKeeper(SessionTick& tick) : tick_(tick) {}

    // The session's first tick was taken at `now`.
    void Started(DateTime now);
    // A later tick at `now`: the state goes to the store when it is due, named for `provider`,
    // whose totals a stop would save. While a stopped session's save is pending, its state has
    // the store's place and the file, and this session keeps none until that save is made.
    void Ticked(DateTime now, const std::string& provider);
    // The session has stopped: the next save of the totals removes the state (the file goes
    // now, so that no later start takes it for a session the store has none of).
    void Stopped();
    // The stop's save could not be made (the store is held by another program, say): the
    // session, as `stretch` ends it, is kept (in the file, and in the store as last written)
    // and made with the next save of the totals or by SavePendingStops; a start after the
    // program has ended recovers it. True for the first of them since the last was made: the
    // user is to be told of that one.
    bool StopNotSaved(const SessionSoFar& stretch);
    // Makes the pending stops in one commit of their own, waiting `wait` for another
    // program's write lock (the store's own wait when none is given). True when none is left.
    bool SavePendingStops(std::optional<std::chrono::milliseconds> wait = std::nullopt);
    // The program ends without saving: the running session's state goes, so it is not recovered
    // either. That of a stop whose save is pending stays, for the next start.
    void Discard();
    // Where the bytes the running session has counted come from (none unless set).
    void CountBytesFrom(std::function<DataBytes()> counted) { bytes_ = std::move(counted); }

    SessionStateChange ForSave(const std::string& provider) override;
    void Saved(const SessionStateChange& change) override;
    bool StopsPending() const override { return !pending_.empty(); }
    bool WritePendingStops() override;
    void PendingStopsWritten(bool committed) override;
    void Loaded(const std::string& provider, TimerSet& timers, DataTotals* data) override;

private:
    struct PendingStop {
        StoredSessionState state;
        SessionSoFar stretch;
    };

    StoredSessionState State(const std::string& provider, DateTime now) const;

    SessionTick& tick_;
    SessionStateFile file_;
    bool running_ = false;
    // A state of this run is in the store (as far as we know: a removal that failed leaves it).
    bool stored_ = false;
    DateTime firstTick_ = 0.0;
    // The last write, or attempt at one: a store that refuses is not asked again at every tick.
    DateTime lastWrite_ = 0.0;
    // What the provider's stored totals hold of the session.
    SessionCounts saved_;
    std::function<DataBytes()> bytes_;
    DataBytes savedBytes_;
    // Stopped sessions whose save is still to be made, oldest first. The first one's state is
    // the one in the file (and the store's, as last written); those after it are kept here only.
    std::vector<PendingStop> pending_;
    // The file was removed inside a commit that was not made: it is written again.
    bool fileTaken_ = false;
    // A session started while a stop was pending takes the file once that is made.
    bool fileWaits_ = false;
};

// The state as the recovery reads it.
CutSession CutSessionOf(const StoredSessionState& state);

// The totals of the state's provider as stored (read now: inside the commit that is to store
// them), with what they lack of the session added as the recovery adds it.
RecoveredTotals StoredTotalsWith(const StoredSessionState& state);

} // namespace quorvane
