#pragma once
// Keeps a running session's state in the store against a kill (accounting/session_recovery.h
// has the rules, settings/session_store.h the layout): written every kSessionStateSeconds of the
// session's ticks and with every save of the totals while it runs, removed by the save when it
// stops. The state file (settings/session_file.h) holds it too, rewritten at every tick, so a
// kill loses no more than a tick.

#include "accounting/session_recovery.h"
#include "app/profile_form.h"
#include "settings/session_file.h"

#include <functional>
#include <string>

namespace quorvane {

class TSessionKeeper : public ProfileSaveSession {
public:
    explicit TSessionKeeper(SessionTick& tick) : tick_(tick) {}

    // The session's first tick was taken at `now`.
    void Started(DateTime now);
    // A later tick at `now`: the state goes to the store when it is due, named for `provider`,
    // whose totals a stop would save.
    void Ticked(DateTime now, const std::string& provider);
    // The session has stopped: the next save of the totals removes the state (the file goes
    // now, so that no later start takes it for a session the store has none of).
    void Stopped();
    // The program ends without saving: the state goes, so the session is not recovered either.
    void Discard();
    // Where the bytes the running session has counted come from (none unless set).
    void CountBytesFrom(std::function<DataBytes()> counted) { bytes_ = std::move(counted); }

    SessionStateChange ForSave(const std::string& provider) override;
    void Saved(const SessionStateChange& change) override;

private:
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
};

// The state as the recovery reads it.
CutSession CutSessionOf(const StoredSessionState& state);

} // namespace quorvane
