#include "app/session_keeper.h"

#include "core/clock.h"
#include "core/host.h"
#include "settings/profiles.h"
#include "settings/rollover_store.h"
#include "settings/store.h"

#include <algorithm>
#include <exception>
#include <limits>

namespace quorvane {

namespace {

// The store's wait for another program's write lock, changed while an object lives.
class BusyWait {
public:
    explicit BusyWait(std::optional<std::chrono::milliseconds> wait)
        : saved_(wait ? std::optional(SetStoreBusyTimeout(*wait)) : std::nullopt) {}
    ~BusyWait() {
        if (saved_)
            SetStoreBusyTimeout(*saved_);
    }
    BusyWait(const BusyWait&) = delete;
    BusyWait& operator=(const BusyWait&) = delete;

private:
    std::optional<std::chrono::milliseconds> saved_;
};

std::int32_t StateCount(std::int64_t value) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(value, 0, std::numeric_limits<std::int32_t>::max()));
}

} // namespace

void TSessionKeeper::Started(DateTime now) {
    running_ = true;
    firstTick_ = lastWrite_ = now;
    saved_ = {};
    savedBytes_ = {};
    // The file holds a stopped session's state until its save is made.
    fileWaits_ = !pending_.empty();
    if (!fileWaits_)
        file_.Begin();
}

void TSessionKeeper::Ticked(DateTime now, const std::string& provider) {
    if (!running_ || !IsStorableProviderName(provider) || !pending_.empty())
        return;
    if (fileWaits_) {
        fileWaits_ = false;
        file_.Begin();
    }
    if (SessionStateDue(lastWrite_, now)) {
        lastWrite_ = now;
        // The peak side that this tick did not write comes up to it too, as for a save.
        tick_.SettleForSave();
        if (WriteSessionState(State(provider, now)))
            stored_ = true;
    }
    // Between the store's writes the other peak side may lag by the tick's lateness: the
    // seconds are whole, and the side comes up at the next save.
    file_.Write(State(provider, now));
}

void TSessionKeeper::Stopped() {
    running_ = false;
    fileWaits_ = false;
    if (pending_.empty())
        file_.Remove();
}

bool TSessionKeeper::StopNotSaved(const SessionSoFar& stretch) {
    const SessionRow& row = stretch.counted;
    if (!IsStorableProviderName(row.provider))
        return false;
    const StoredSessionState state{
        row.provider,
        firstTick_,
        stretch.end,
        {StateCount(row.seconds), StateCount(row.insidePeak), StateCount(row.outsidePeak),
         saved_.seconds, saved_.insidePeak, saved_.outsidePeak},
        {row.rx.value_or(0), row.tx.value_or(0), savedBytes_.rx, savedBytes_.tx}};
    pending_.push_back({state, stretch});
    if (pending_.size() > 1)
        return false;
    // Against a kill until the save is made: the store's state is as old as its last write.
    file_.Write(state);
    return true;
}

bool TSessionKeeper::SavePendingStops(std::optional<std::chrono::milliseconds> wait) {
    if (pending_.empty())
        return true;
    const BusyWait busy(wait);
    bool done = false;
    try {
        done = WriteTogether(HKEY_LOCAL_MACHINE, [this] { return WritePendingStops(); });
    } catch (const std::exception& error) {
        // Said once, at the stop; the next try may find the store mended.
        DebugOutput(std::string("A stopped session's save failed: ") + error.what());
    }
    PendingStopsWritten(done);
    return done;
}

bool TSessionKeeper::WritePendingStops() {
    for (const PendingStop& stop : pending_) {
        const RecoveredTotals totals = StoredTotalsWith(stop.state);
        const ProfileDataTotals data = DataTotalsOf(totals.data);
        // A row the history refuses is lost, as with any save; the totals never are for it.
        AppendSessionStretch(stop.stretch);
        if (!SaveStoppedSession(stop.state.provider, TotalsOf(totals.timers), totals.savedFor,
                                &data))
            return false;
    }
    // The file goes inside the commit that makes its state needless: a kill cannot leave it
    // beside totals that hold it already.
    file_.Remove();
    fileTaken_ = true;
    return true;
}

void TSessionKeeper::PendingStopsWritten(bool committed) {
    if (committed) {
        pending_.clear();
        stored_ = false; // the commit removed the store's state
    } else if (fileTaken_ && !pending_.empty()) {
        file_.Write(pending_.front().state);
    }
    fileTaken_ = false;
}

void TSessionKeeper::Loaded(const std::string& provider, TimerSet& timers, DataTotals* data) {
    const DateTime today = DateOf(Now());
    for (const PendingStop& stop : pending_) {
        if (!SameProvider(stop.state.provider, provider))
            continue;
        // The loaded Today counts for today.
        const DataTotals loaded = data ? *data : DataTotals{};
        RecoveredTotals added = RecoverCutSession(CutSessionOf(stop.state), timers, today, loaded);
        if (added.savedFor != today) {
            added.timers.Today = timers.Today;
            added.data.today = loaded.today;
        }
        timers = added.timers;
        if (data)
            *data = added.data;
    }
}

void TSessionKeeper::Discard() {
    running_ = false;
    if (!pending_.empty())
        return;
    file_.Remove();
    if (stored_ && RemoveSessionState())
        stored_ = false;
}

SessionStateChange TSessionKeeper::ForSave(const std::string& provider) {
    if (running_) {
        StoredSessionState state = State(provider, Now());
        // The totals saved with it hold all the session has counted.
        std::copy_n(state.counts.begin(), 3, state.counts.begin() + 3);
        std::copy_n(state.bytes.begin(), 2, state.bytes.begin() + 2);
        return {SessionStateChange::Kind::Write, state};
    }
    if (stored_)
        return {SessionStateChange::Kind::Remove, {}};
    return {};
}

void TSessionKeeper::Saved(const SessionStateChange& change) {
    switch (change.kind) {
    case SessionStateChange::Kind::Write:
        stored_ = true;
        lastWrite_ = change.state.lastWrite;
        saved_ = {change.state.counts[3], change.state.counts[4], change.state.counts[5]};
        savedBytes_ = {change.state.bytes[2], change.state.bytes[3]};
        break;
    case SessionStateChange::Kind::Remove:
        stored_ = false;
        break;
    default:
        break;
    }
}

StoredSessionState TSessionKeeper::State(const std::string& provider, DateTime now) const {
    const SessionCounts& counted = tick_.Counted();
    const DataBytes bytes = bytes_ ? bytes_() : DataBytes{};
    return {provider,
            firstTick_,
            now,
            {counted.seconds, counted.insidePeak, counted.outsidePeak, saved_.seconds,
             saved_.insidePeak, saved_.outsidePeak},
            {bytes.rx, bytes.tx, savedBytes_.rx, savedBytes_.tx}};
}

RecoveredTotals StoredTotalsWith(const StoredSessionState& state) {
    const std::string& provider = state.provider;
    TimerSet stored;
    ProfileTotals totals = TotalsOf(stored);
    LoadProfileTotals(provider, totals);
    SetTotals(stored, totals);
    ProfileData storedData;
    LoadProfileData(provider, storedData);
    DataTotals data;
    SetDataTotals(data, storedData.totals);
    return RecoverCutSession(CutSessionOf(state), stored, ReadLastSaveDate(provider), data);
}

CutSession CutSessionOf(const StoredSessionState& state) {
    const SessionStateCounts& c = state.counts;
    const SessionStateBytes& b = state.bytes;
    return {state.firstTick, state.lastWrite, {c[0], c[1], c[2]}, {c[3], c[4], c[5]},
            {b[0], b[1]}, {b[2], b[3]}};
}

} // namespace quorvane
