#pragma once
// A store holding ten years of one provider's sessions: 40 000 rows of the usage history, about
// eleven a day (the heaviest user a metered plan has), some of them cut at midnight, half of
// them with bytes; and the provider's profile with a billing cycle from the 15th.

#include "core/store_folder.h"
#include "settings/history.h"
#include "settings/profiles.h"
#include "settings/store.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

namespace quorvane::bench {

inline constexpr const char* kHistoryProvider = "Dial Net";
inline constexpr std::size_t kHistoryRows = 40000;
inline constexpr int kHistoryCycleDay = 15;

// The rows end on `lastDay`.
inline void FillTenYearsOfHistory(DateTime lastDay) {
    EnsureStoreFolder();
    if (!SaveProfile(kHistoryProvider, {{"seCycleDay", Variant(kHistoryCycleDay), vkInteger}},
                     {0, 0, 0, 0}, true)) {
        std::fprintf(stderr, "the store cannot be written\n");
        std::exit(1);
    }
    const double days = 3652;
    const bool written = WriteTogether(HKEY_LOCAL_MACHINE, [&] {
        for (std::size_t i = 0; i < kHistoryRows; ++i) {
            const DateTime day = DateOf(lastDay - days + days * static_cast<double>(i) /
                                                             kHistoryRows);
            const int slot = static_cast<int>(i % 11);
            const DateTime start = day + (slot * 2 + 1) / 24.0;
            const int seconds = 300 + static_cast<int>(i * 7919 % 3300);
            SessionRow row;
            row.provider = kHistoryProvider;
            row.start = MomentOf(start);
            row.end = MomentOf(start + seconds * kOneSecond);
            row.seconds = seconds;
            row.insidePeak = slot >= 4 && slot <= 8 ? seconds : 0;
            row.outsidePeak = seconds - row.insidePeak;
            if (i % 2 == 0) {
                row.rx = std::uint64_t{1000} * seconds * (i % 97 + 1);
                row.tx = row.rx.value() / 9;
            }
            char charges[32];
            std::snprintf(charges, sizeof charges, "$%zu.00", i % 500);
            row.charges = charges;
            row.ended = slot == 10 && i % 3 == 0 ? SessionEnd::Midnight : SessionEnd::Stopped;
            if (!AppendSessionRow(row))
                return false;
        }
        return true;
    });
    if (!written) {
        std::fprintf(stderr, "the history cannot be written\n");
        std::exit(1);
    }
    // The filling's log goes into the database now, not into the first measured commits.
    sqlite3_exec(HiveConnectionForWriting(HKEY_LOCAL_MACHINE).get(),
                 "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
}

} // namespace quorvane::bench
