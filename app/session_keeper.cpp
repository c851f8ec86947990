#include "app/session_keeper.h"

#include "core/clock.h"
#include "settings/profiles.h"

#include <algorithm>

namespace quorvane {

void TSessionKeeper::Started(DateTime now) {
    running_ = true;
    firstTick_ = lastWrite_ = now;
    saved_ = {};
    savedBytes_ = {};
    file_.Begin();
}

void TSessionKeeper::Ticked(DateTime now, const std::string& provider) {
    if (!running_ || !IsStorableProviderName(provider))
        return;
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
    file_.Remove();
}

void TSessionKeeper::Discard() {
    running_ = false;
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

CutSession CutSessionOf(const StoredSessionState& state) {
    const SessionStateCounts& c = state.counts;
    const SessionStateBytes& b = state.bytes;
    return {state.firstTick, state.lastWrite, {c[0], c[1], c[2]}, {c[3], c[4], c[5]},
            {b[0], b[1]}, {b[2], b[3]}};
}

} // namespace quorvane
