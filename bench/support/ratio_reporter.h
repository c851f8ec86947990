#pragma once
// A console reporter that also keeps the median real time of every benchmark ("Name", or
// "Name/arg" for one with an argument) and prints chosen ratios of them at the end.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Ratio {
        std::string label, numerator, denominator;
    };

    RatioReporter(std::string title, std::vector<Ratio> ratios)
        : title_(std::move(title)), ratios_(std::move(ratios)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name != "median")
                continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            medians_[name] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nmedian, %s:\n", title_.c_str());
        for (const Ratio& ratio : ratios_) {
            const auto numerator = medians_.find(ratio.numerator);
            const auto denominator = medians_.find(ratio.denominator);
            if (numerator != medians_.end() && denominator != medians_.end() &&
                denominator->second > 0)
                std::printf("  %-20s %10.1f us / %10.1f us = %.2f\n", ratio.label.c_str(),
                            numerator->second, denominator->second,
                            numerator->second / denominator->second);
        }
    }

private:
    std::string title_;
    std::vector<Ratio> ratios_;
    std::map<std::string, double> medians_;
};

} // namespace quorvane::bench
