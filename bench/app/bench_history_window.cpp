// The Usage History window over ten years of sessions (40 000 rows, about eleven a day): its
// first opening from the Timer page's button, drawn once, and the redraw of another cycle with
// the arrows, each on the window's thread as the user waits for it.
#include "app/history_chart.h"
#include "app/history_window.h"
#include "app/timer.h"
#include "core/clock.h"
#include "core/store_folder.h"
#include "settings/history.h"
#include "settings/registry.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolButton>

#include <benchmark/benchmark.h>

using namespace quorvane;

namespace {

constexpr int kRows = 40000;
const DateTime kToday = EncodeDate(2026, 12, 10);

void FillHistory() {
    EnsureStoreFolder();
    const DateTime first = kToday - 3652;
    const bool ok = WriteTogether(HKEY_LOCAL_MACHINE, [&] {
        for (int i = 0; i < kRows; ++i) {
            const DateTime start = first + i * (3652.0 / kRows) + EncodeTime(0, 5, 0);
            SessionRow row;
            row.provider = "Dial Net";
            row.start = MomentOf(start);
            row.seconds = 600 + (i * 37) % 3000;
            row.end = MomentOf(start + row.seconds * kOneSecond);
            row.insidePeak = row.seconds / 3;
            row.outsidePeak = row.seconds - row.insidePeak;
            if (i % 2 == 0) {
                row.rx = 1000000ULL * (i % 97);
                row.tx = 100000ULL * (i % 89);
            }
            row.charges = "$1.00";
            if (!AppendSessionRow(row))
                return false;
        }
        return true;
    });
    if (!ok)
        std::abort();
}

TfrmTimer* Window() {
    static TfrmTimer* window = [] {
        FillHistory();
        auto* w = new TfrmTimer;
        w->cbProvider->setEditText(QStringLiteral("Dial Net"));
        w->seCycleDay->setValue(15);
        w->ckEnableBilling->setChecked(true);
        w->eFreeHours->setText(QStringLiteral("30"));
        w->ckEnablePeak->setChecked(true);
        w->TransferProviderSettings(false, w->Timers);
        return w;
    }();
    return window;
}

// The chart and the table drawn as the screen would get them.
void Draw(THistoryWindow& h) {
    static QImage image(QSize(800, 600), QImage::Format_RGB32);
    QPainter painter(&image);
    h.render(&painter);
}

void BM_OpenHistoryWindow(benchmark::State& state) {
    TfrmTimer* w = Window();
    for (auto _ : state) {
        w->btnHistoryClick();
        auto* h = w->findChild<THistoryWindow*>();
        Draw(*h);
        state.PauseTiming();
        if (h->tvSessions->rowCount() == 0)
            state.SkipWithError("no sessions shown");
        delete h; // the next opening makes it anew
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenHistoryWindow)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly();

void BM_EarlierCycle(benchmark::State& state) {
    TfrmTimer* w = Window();
    w->btnHistoryClick();
    auto* h = w->findChild<THistoryWindow*>();
    int back = 0;
    for (auto _ : state) {
        (++back % 24 == 0 ? h->btnLater : h->btnEarlier)->click();
        Draw(*h);
    }
}
BENCHMARK(BM_EarlierCycle)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly();

void BM_TwelveCycles(benchmark::State& state) {
    TfrmTimer* w = Window();
    w->btnHistoryClick();
    auto* h = w->findChild<THistoryWindow*>();
    for (auto _ : state) {
        h->cbHistoryView->setCurrentIndex(1);
        Draw(*h);
        state.PauseTiming();
        h->cbHistoryView->setCurrentIndex(0);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TwelveCycles)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ManualClock clock(kToday + EncodeTime(12, 0, 0));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
