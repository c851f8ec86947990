// The save that ends a session, through the real window's profile form on a store with ten years
// of usage history (40 000 rows): the profile, its totals and the removal of the session's state
// in one commit, with the session's row of the history added, against the same save without it.
#include "app/profile_form.h"
#include "app/timer.h"
#include "bench/support/history_store.h"
#include "bench/support/ratio_reporter.h"
#include "core/clock.h"
#include "settings/session_store.h"

#include <QApplication>
#include <QComboBox>

#include <benchmark/benchmark.h>

using namespace quorvane;

namespace {

const DateTime kToday = EncodeDate(2026, 3, 16);

// A stop: the save removes the running session's state.
class Stopping : public ProfileSaveSession {
public:
    SessionStateChange ForSave(const std::string&) override {
        return {SessionStateChange::Kind::Remove, {}};
    }
    void Saved(const SessionStateChange&) override {}
};

TfrmTimer* Window() {
    static TfrmTimer* window = [] {
        auto* w = new TfrmTimer;
        w->cbProvider->setEditText(QString::fromLatin1(bench::kHistoryProvider));
        w->Timers = {false, 18000, 9125, 3725, 27125};
        return w;
    }();
    return window;
}

void SessionEnd(benchmark::State& state, bool withRow) {
    TfrmTimer* w = Window();
    Stopping stopping;
    const StoredSessionState running{bench::kHistoryProvider, kToday + 0.5, kToday + 0.54,
                                     {3600, 0, 3600, 0, 0, 0}, {}};
    SessionSoFar stretch{kToday + 0.5, kToday + 0.5 + 3600 * kOneSecond, {}};
    stretch.counted.provider = bench::kHistoryProvider;
    stretch.counted.seconds = stretch.counted.outsidePeak = 3600;
    stretch.counted.rx = 123456789;
    stretch.counted.tx = 12345678;
    stretch.counted.charges = "$12.00";
    ProfileForm form;
    form.components = &w->components;
    form.cbProvider = w->cbProvider;
    form.ckSetAsDefault = w->ckSetAsDefault;
    form.cbProv = w->cbProv;
    form.session = &stopping;
    form.data = &w->Data;
    form.dataAlerts = &w->DataAlerts;
    form.history = withRow ? &stretch : nullptr;
    for (auto _ : state) {
        state.PauseTiming();
        WriteSessionState(running);
        ++w->Timers.TotalTime;
        // Each session after the one before, as they come.
        stretch.start = stretch.end;
        stretch.end += 3600 * kOneSecond;
        state.ResumeTiming();
        if (!TransferProviderSettings(form, false, w->Timers))
            state.SkipWithError("the save failed");
    }
}

void BM_SessionEndWithRow(benchmark::State& state) {
    SessionEnd(state, true);
}
BENCHMARK(BM_SessionEndWithRow)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9)->ReportAggregatesOnly();

void BM_SessionEndWithoutRow(benchmark::State& state) {
    SessionEnd(state, false);
}
BENCHMARK(BM_SessionEndWithoutRow)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ManualClock clock(kToday + 0.6);
    bench::FillTenYearsOfHistory(kToday);
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter(
        "a session's end with its history row against without",
        {{"with / without", "BM_SessionEndWithRow", "BM_SessionEndWithoutRow"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
