// One session tick through the window's handler, tOnLineTimer, with all its display work: the
// read-outs, the charges, the peak total and the taskbar text, then the events that work posts
// (repaints, the window's properties) served as the event loop would. Billing and the peak
// period are on, and the clock moves one second a tick. Two windows: one restored on the
// "Timer" page, which repaints its read-outs every tick, and one unmapped, as a window manager
// leaves the program's minimised window (so nothing is painted).
//
// On an X server ($DISPLAY; scripts/bench starts an Xvfb) the window is an X11 window, as the
// program's is; without one, the platform the environment names.
#include "app/timer.h"
#include "core/clock.h"
#include "core/store_folder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

using namespace quorvane;

namespace {

std::unique_ptr<TfrmTimer> SessionWindow(bool restored) {
    EnsureStoreFolder();
    auto w = std::make_unique<TfrmTimer>();
    w->cbProvider->setEditText(QStringLiteral("Dial Net"));
    w->cbDetection->setCurrentIndex(2);
    w->ckEnableBilling->setChecked(true);
    w->eFreeHours->setText(QStringLiteral("5"));
    w->ePrice->setText(QStringLiteral("2.00"));
    w->ckEnablePeak->setChecked(true);
    w->eStart->setText(QStringLiteral("08:00:00 AM"));
    w->eStop->setText(QStringLiteral("06:00:00 PM"));
    w->Timers = {false, 3600, 7200, 1800, 36000};
    if (restored)
        w->OnRestore();
    else
        w->hide();
    w->sbManual->click();
    // The session is ticked by hand here, not by its timer.
    w->tOnLine->stop();
    return w;
}

void Tick(benchmark::State& state, bool restored) {
    ManualClock clock(EncodeDate(2026, 3, 9) + EncodeTime(9, 0, 0));
    const auto w = SessionWindow(restored);
    QCoreApplication::processEvents();
    w->tOnLineTimer(); // the first tick
    QCoreApplication::processEvents();
    for (auto _ : state) {
        clock.AdvanceSeconds(1);
        w->tOnLineTimer();
        QCoreApplication::processEvents();
    }
}

void BM_TickRestoredOnTimerPage(benchmark::State& state) {
    Tick(state, true);
}
void BM_TickUnmapped(benchmark::State& state) {
    Tick(state, false);
}
BENCHMARK(BM_TickRestoredOnTimerPage)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_TickUnmapped)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    if (const char* display = std::getenv("DISPLAY"); display && *display)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
