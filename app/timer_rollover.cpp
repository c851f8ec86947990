// The main window's day and billing-cycle rollover: the two checks at start-up, and again at
// each local midnight and after the wall clock has jumped to another day while the program runs.
#include "app/timer.h"

#include "accounting/rollover.h"
#include "accounting/session_tick.h"
#include "app/messages.h"
#include "core/clock.h"
#include "settings/rollover_store.h"

#include <QComboBox>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

// How long a jump of the wall clock to another day may go unnoticed.
constexpr int kRolloverPollMs = 60 * 1000;

} // namespace

bool TfrmTimer::CheckNewDay(QStringList& notes) {
    const DateTime today = DateOf(Now());
    const NewDayDecision decision = DecideNewDay(ReadLastDate(), today);
    if (decision.store)
        WriteLastDate(today, decision.newDay);
    if (decision.newDay)
        notes << QString::fromLatin1(kNewDayMessage);
    return decision.newDay;
}

bool TfrmTimer::CheckCycleDay(QStringList& notes) {
    // The cycle of the provider whose totals are counted, not of a name only typed in the box.
    const std::string provider = TotalsProvider().toStdString();
    const CycleDecision decision =
        DecideCycleClear(seCycleDay->value(), ReadLastCycleClear(provider), DateOf(Now()));
    if (decision.record)
        WriteLastCycleClear(provider, *decision.record, decision.clear);
    if (decision.clear)
        notes << QString::fromStdString(decision.message);
    return decision.clear;
}

void TfrmTimer::RollOverTotals(QStringList& notes) {
    // The clears are made and stored before any box is shown: a box runs its own event loop, in
    // which a running session goes on ticking, and what it counts there belongs to the new day
    // and cycle. The clears store the totals alone: what the user has changed on the pages and
    // not saved stays unsaved.
    Guarded([&] {
        // A running session restarts Today itself at its first tick of the new day, after
        // saving the old day's.
        if (CheckNewDay(notes) && !tOnLine->isActive()) {
            Timers.Today = 0;
            ClearData(false);
            SaveClearedTotals();
        }
    });
    Guarded([&] {
        if (CheckCycleDay(notes)) {
            ClearTimers(Timers);
            ClearData(true);
            // A running session goes on counting from zero.
            if (tOnLine->isActive())
                session_->TotalsChanged();
            SaveClearedTotals();
        }
    });
}

void TfrmTimer::ShowNotes(const QStringList& notes) {
    for (const QString& note : notes)
        ShowInformation(note);
}

void TfrmTimer::ArmRolloverTimer() {
    const DateTime now = Now();
    const double toMidnight = std::ceil((DateOf(now) + 1.0 - now) * 86400000.0) + 1.0;
    tRollover->start(static_cast<int>(std::clamp(toMidnight, 1.0, double{kRolloverPollMs})));
}

void TfrmTimer::tRolloverTimer() {
    const DateTime previous = lastRolloverCheck_;
    lastRolloverCheck_ = Now();
    ArmRolloverTimer();
    if (!RolloverDue(previous, lastRolloverCheck_))
        return;
    // A running session's tick ends its old day first, saving it as that day's: the clears
    // must not take the seconds up to now from the day and billing cycle they belong to.
    if (tOnLine->isActive())
        tOnLineTimer();
    QStringList notes;
    RollOverTotals(notes);
    ShowAllTimers();
    UpdateMinimizedCaption();
    ShowNotes(notes);
}

} // namespace quorvane
