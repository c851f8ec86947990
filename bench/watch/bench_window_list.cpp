// One caption scan of a desktop of 50, 200 and 1000 windows (each with _NET_WM_NAME and
// WM_NAME, as toolkits set them), beside plain walks of the same windows that wait for each
// answer before they send the next request: Plain asks what the scan asks (both properties of
// every window), PlainFewer asks for WM_NAME only where _NET_WM_NAME is missing (here never), so
// it sends half the requests. All run on an open connection, as the watcher's does.
//
// Prints the median of each and, at the end, the ratios plain / scan.

#include "bench/support/ratio_reporter.h"
#include "tests/watch/x11_desktop.h"
#include "watch/x11_window_list.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace quorvane;

namespace {

// The desktop of the benchmark running: rebuilt when the number of windows changes.
test::TestDesktop& DesktopOf(int windows) {
    static std::unique_ptr<test::TestDesktop> desktop;
    if (!desktop || static_cast<int>(desktop->windows().size()) != windows) {
        desktop.reset();
        desktop = std::make_unique<test::TestDesktop>();
        for (int i = 0; i < windows; ++i) {
            const std::string caption = "Window " + std::to_string(i) + " - Some Application";
            desktop->MakeWindow(caption, caption);
        }
    }
    return *desktop;
}

void Scan(benchmark::State& state) {
    DesktopOf(static_cast<int>(state.range(0)));
    X11WindowTitles source;
    for (auto _ : state)
        benchmark::DoNotOptimize(source.WindowTitles());
}

// The walk one writes first: the list, then per window its _NET_WM_NAME and its WM_NAME (or
// only when the first is missing), each answer read before the next request goes out.
class PlainWalk {
public:
    explicit PlainWalk(bool askBoth) : askBoth_(askBoth), display_(XcbDisplay::Open(nullptr)) {}

    std::vector<WindowTitle> Walk() {
        xcb_connection_t* c = display_->xcb.get();
        const auto tree = XcbAnswer(c, xcb_query_tree_reply, xcb_query_tree(c, display_->root));
        std::vector<WindowTitle> titles;
        if (!tree)
            return titles;
        const xcb_window_t* first = xcb_query_tree_children(tree.get());
        std::vector<xcb_window_t> windows(first,
                                          first + xcb_query_tree_children_length(tree.get()));
        std::reverse(windows.begin(), windows.end());
        for (const xcb_window_t window : windows) {
            std::string caption = Text(window, display_->netWmName, display_->utf8String);
            if (askBoth_ || caption.empty()) {
                std::string wmName = Text(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
                if (caption.empty())
                    caption = std::move(wmName);
            }
            titles.push_back({window, std::move(caption)});
        }
        return titles;
    }

private:
    std::string Text(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
        return test::PropertyBytes(display_->xcb.get(), window, property, type, kMaxCaptionChars);
    }

    bool askBoth_;
    std::optional<XcbDisplay> display_;
};

void Walk(benchmark::State& state, bool askBoth) {
    DesktopOf(static_cast<int>(state.range(0)));
    PlainWalk walk(askBoth);
    for (auto _ : state)
        benchmark::DoNotOptimize(walk.Walk());
}
void Plain(benchmark::State& state) {
    Walk(state, true);
}
void PlainFewer(benchmark::State& state) {
    Walk(state, false);
}

} // namespace

// Grouped by desktop size, so that each desktop is built once.
#define QUORVANE_BENCH(fn, windows)                                                                \
    BENCHMARK(fn)                                                                                  \
        ->Arg(windows)                                                                             \
        ->Unit(benchmark::kMicrosecond)                                                            \
        ->Repetitions(7)                                                                           \
        ->ReportAggregatesOnly(true)

QUORVANE_BENCH(Scan, 50);
QUORVANE_BENCH(Plain, 50);
QUORVANE_BENCH(PlainFewer, 50);
QUORVANE_BENCH(Scan, 200);
QUORVANE_BENCH(Plain, 200);
QUORVANE_BENCH(PlainFewer, 200);
QUORVANE_BENCH(Scan, 1000);
QUORVANE_BENCH(Plain, 1000);
QUORVANE_BENCH(PlainFewer, 1000);

int main(int argc, char** argv) {
    if (!X11WindowTitles().CaptionsReadable()) {
        std::fprintf(stderr, "bench_window_list: no X server on $DISPLAY\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    std::vector<bench::RatioReporter::Ratio> ratios;
    for (const std::string walk : {"Plain", "PlainFewer"})
        for (const std::string windows : {"50", "200", "1000"})
            ratios.push_back(
                {walk + " " + windows + " windows", walk + "/" + windows, "Scan/" + windows});
    bench::RatioReporter reporter("plain walk / scan", std::move(ratios));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
