// Save and load of a full provider profile (every setting control and the four totals) through
// the main window, on the real store. The save runs at the end of every session on the window's
// thread, so it must stay well below a frame.
#include "app/timer.h"
#include "settings/store_folder.h"

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
