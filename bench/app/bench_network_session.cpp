// The Network Interface method on the real window, in network namespaces of its own (root; it
// says so and stops without): the time from the request that brings the watched interface up,
// or adds its address, to the window's session start (tOnLine running), served through the
// window's own event loop; median and p99 over --rounds=N (200) of each. The polled methods
// find a connection at their next watching tick, up to a second later.
#include "app/timer.h"
#include "bench/support/netlink_kernel.h"
#include "core/store_folder.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

using namespace quorvane;
using Clock = std::chrono::steady_clock;

namespace {

void ServeUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 200;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            rounds = std::max(1, std::atoi(argv[i] + 9));
    QApplication app(argc, argv);
    EnsureStoreFolder();
    try {
        bench::QuietModem ns;
        const test::Inside inside(ns.here);
        bench::Kernel kernel;
        const int index = kernel.Index("wwan0");
        TfrmTimer w;
        w.cbProvider->setEditText(QStringLiteral("Mobile Net"));
        w.cbDetection->setCurrentIndex(kNetworkInterface);
        w.eInterface->setEditText(QStringLiteral("wwan0"));
        w.sbWatching->click();
        const auto session = [&] { return w.tOnLine->isActive(); };
        const auto none = [&] { return !w.tOnLine->isActive(); };
        std::vector<double> linkUp, addressAdded;
        for (int i = 0; i < rounds; ++i) {
            kernel.SetUp(index, false);
            ServeUntil(none);
            auto start = Clock::now();
            kernel.SetUp(index, true);
            ServeUntil(session);
            linkUp.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());

            kernel.Address(index, "10.0.0.1/24", false);
            ServeUntil(none);
            start = Clock::now();
            kernel.Address(index, "10.0.0.1/24", true);
            ServeUntil(session);
            addressAdded.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        const std::pair<const char*, const std::vector<double>*> figures[] = {
            {"link up", &linkUp}, {"address added", &addressAdded}};
        for (const auto& [what, values] : figures)
            std::printf("%-14s to the session's start: median %7.3f ms  p99 %7.3f ms  (%d rounds)\n",
                        what, bench::Percentile(*values, 0.5), bench::Percentile(*values, 0.99),
                        rounds);
        w.tOnLine->stop();
    } catch (const std::exception& e) {
        std::printf("network session start: %s\n", e.what());
    }
    return 0;
}
