// Save and load of a full provider profile (every setting control and the four totals) through
// the main window, on the real store. The save runs at the end of every session on the window's
// thread, so it must stay well below a frame.
#include "app/timer.h"
#include "core/store_folder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

#include <benchmark/benchmark.h>

using namespace quorvane;

namespace {

TfrmTimer* Window() {
    static TfrmTimer* window = [] {
        EnsureStoreFolder();
        auto* w = new TfrmTimer;
        w->cbProvider->setEditText(QStringLiteral("Dial Net"));
        w->cbDetection->setCurrentIndex(0);
        w->cbProv->setEditText(QStringLiteral("Dial Net"));
        w->ckEnableBilling->setChecked(true);
        w->ePrice->setText(QStringLiteral("2.00"));
        w->eFreeHours->setText(QStringLiteral("5"));
        w->seCycleDay->setValue(15);
        w->ckEnablePeak->setChecked(true);
        w->eStart->setText(QStringLiteral("08:00:00 AM"));
        w->eStop->setText(QStringLiteral("06:00:00 PM"));
        w->ckEnableLogging->setChecked(true);
        w->eLogFile->setText(QStringLiteral("/home/me/dialnet.txt"));
        w->Timers = {false, 18000, 9125, 3725, 27125};
        return w;
    }();
    return window;
}

void BM_SaveProfile(benchmark::State& state) {
    TfrmTimer* w = Window();
    for (auto _ : state) {
        ++w->Timers.TotalTime;
        benchmark::DoNotOptimize(w->TransferProviderSettings(false, w->Timers));
    }
}
BENCHMARK(BM_SaveProfile)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly();

// Every stored value differs from the last save: the worst case, when nothing is left unchanged
// for the store to skip.
void BM_SaveProfileAllChanged(benchmark::State& state) {
    TfrmTimer* w = Window();
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const bool odd = ++round % 2 == 1;
        w->ckSetAsDefault->setChecked(false);
        w->cbDetection->setCurrentIndex(odd ? 1 : 0);
        w->seCOMPort->setValue(odd ? 3 : 2);
        w->seDelayMin->setValue(odd ? 1 : 0);
        w->seDelaySec->setValue(odd ? 30 : 15);
        w->cbProv->setEditText(QStringLiteral("Dial Net %1").arg(round));
        w->ckEnableBilling->setChecked(odd);
        w->ePrice->setText(QStringLiteral("%1.00").arg(round));
        w->eFreeHours->setText(odd ? QStringLiteral("5") : QStringLiteral("6"));
        w->eWavAlarm->setText(QStringLiteral("/sounds/alarm%1.wav").arg(round));
        w->seCycleDay->setValue(odd ? 15 : 16);
        w->ckEnablePeak->setChecked(odd);
        w->eStart->setText(odd ? QStringLiteral("08:00:00 AM") : QStringLiteral("09:00:00 AM"));
        w->eStop->setText(odd ? QStringLiteral("06:00:00 PM") : QStringLiteral("05:00:00 PM"));
        w->ckEnableLogging->setChecked(odd);
        w->eLogFile->setText(QStringLiteral("/home/me/dialnet%1.txt").arg(round));
        w->ckStartWhenRun->setChecked(odd);
        w->ckCloseOnDisconnect->setChecked(odd);
        w->cbMinimizedTime->setCurrentIndex(odd ? 1 : 2);
        w->ckWatchOnRun->setChecked(odd);
        w->ckColoredIconWatching->setChecked(odd);
        w->seAdjHour->setValue(round % 999);
        w->seAdjMin->setValue(round % 999);
        w->Timers = {false, round, round + 1, round + 2, round + 3};
        state.ResumeTiming();
        benchmark::DoNotOptimize(w->TransferProviderSettings(false, w->Timers));
    }
}
BENCHMARK(BM_SaveProfileAllChanged)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly();

void BM_LoadProfile(benchmark::State& state) {
    TfrmTimer* w = Window();
    w->TransferProviderSettings(false, w->Timers);
    for (auto _ : state)
        benchmark::DoNotOptimize(w->TransferProviderSettings(true, w->Timers));
}
BENCHMARK(BM_LoadProfile)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
