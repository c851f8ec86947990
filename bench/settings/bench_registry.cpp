// One value written and read through the path operations, and a provider profile of 35 values
// saved and loaded as the profile code does it, each beside a bare SQLite statement on an
// already open connection to the same database doing the same write or read. The store's write
// includes its commit (WAL, synchronous=FULL), as does the bare statement's.
//
// Prints the median of each and, at the end, the ratio store / bare.

#include "bench/support/ratio_reporter.h"
#include "core/bytes.h"
#include "settings/registry.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quorvane;

namespace {

const std::string kKey = std::string(ProductKey) + "Providers\\Dial Net\\";
// The provider key's folded names, from the hive down.
const std::vector<std::string> kKeyFolds = {"SOFTWARE", "MORVATH SOFTWARE", "QUORVANE V4.8",
                                            "PROVIDERS", "DIAL NET"};

// The names a save writes, in its order: the settings controls, then the four totals.
const std::vector<std::string>& ProfileNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n = {"cbProvider",
                                      "ckSetAsDefault",
                                      "cbDetection",
                                      "seCOMPort",
                                      "seDelayMin",
                                      "seDelaySec",
                                      "eProv",
                                      "ckEnableBilling",
                                      "ePrice",
                                      "eFreeHours",
                                      "eWavAlarm",
                                      "seCycleDay",
                                      "ckEnablePeak",
                                      "eStart",
                                      "eStop",
                                      "ckEnableLogging",
                                      "eLogFile",
                                      "ckStartWhenRun",
                                      "ckCloseOnDisconnect",
                                      "cbMinimizedTime",
                                      "ckWatchOnRun",
                                      "ckColoredIconWatching",
                                      "seAdjHour",
                                      "seAdjMin"};
        for (int i = 1; n.size() < 31; ++i)
            n.push_back("eNote" + std::to_string(i));
        for (const char* total : {"Today", "InsidePeak", "OutsidePeak", "TotalTime"})
            n.push_back(total);
        return n;
    }();
    return names;
}

int KindOf(const std::string& name) {
    if (name.starts_with("ck"))
        return vkBool;
    if (name.starts_with("e"))
        return vkString;
    return vkInteger;
}

Variant SampleValue(const std::string& name, int i) {
    switch (KindOf(name)) {
    case vkBool:
        return Variant(i % 2 == 0);
    case vkString:
        return Variant("C:\\QUORVANE\\DIALNET" + std::to_string(i) + ".TXT");
    default:
        return Variant(i);
    }
}

void SaveProfile(int i) {
    for (const std::string& name : ProfileNames())
        if (!WriteValueByPath(HKEY_LOCAL_MACHINE, kKey + name, SampleValue(name, i), KindOf(name)))
            throw std::runtime_error("the store cannot be written");
}

// A plain connection to the same database, set up as the store sets up its own.
class Bare {
public:
    Bare() {
        SaveProfile(0);
        sqlite3* raw = nullptr;
        if (sqlite3_open_v2(HiveFile(HKEY_LOCAL_MACHINE).c_str(), &raw, SQLITE_OPEN_READWRITE,
                            nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open the store");
        db_.reset(raw);
        sqlite3_exec(raw, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
        upsert_ =
            Prepare("INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, "
                    "data = excluded.data");
        select_ = Prepare("SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
        names_ = Prepare("SELECT name FROM vals WHERE key = ?1 ORDER BY id");
        Stmt find = Prepare("SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
        key_ = 1;
        for (const std::string& fold : kKeyFolds) {
            sqlite3_bind_int64(find.get(), 1, key_);
            sqlite3_bind_text(find.get(), 2, fold.c_str(), -1, SQLITE_STATIC);
            if (sqlite3_step(find.get()) != SQLITE_ROW)
                throw std::runtime_error("no provider key");
            key_ = sqlite3_column_int64(find.get(), 0);
            sqlite3_reset(find.get());
        }
    }

    void Write(const std::string& name, const std::string& fold, int type, const void* data,
               int size) {
        sqlite3_stmt* s = upsert_.get();
        sqlite3_bind_int64(s, 1, key_);
        sqlite3_bind_text(s, 2, name.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 3, fold.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int(s, 4, type);
        sqlite3_bind_blob(s, 5, data, size, SQLITE_STATIC);
        if (sqlite3_step(s) != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(db_.get()));
        sqlite3_reset(s);
    }

    int Read(const std::string& fold) {
        sqlite3_stmt* s = select_.get();
        sqlite3_bind_int64(s, 1, key_);
        sqlite3_bind_text(s, 2, fold.c_str(), -1, SQLITE_STATIC);
        int size = 0;
        if (sqlite3_step(s) == SQLITE_ROW)
            size = sqlite3_column_bytes(s, 1) + sqlite3_column_int(s, 0);
        sqlite3_reset(s);
        return size;
    }

    std::vector<std::string> Names() {
        std::vector<std::string> out;
        sqlite3_stmt* s = names_.get();
        sqlite3_bind_int64(s, 1, key_);
        while (sqlite3_step(s) == SQLITE_ROW)
            out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        sqlite3_reset(s);
        return out;
    }

private:
    struct Finalize {
        void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
    };
    struct Close {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    using Stmt = std::unique_ptr<sqlite3_stmt, Finalize>;

    Stmt Prepare(const char* sql) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db_.get()));
        return Stmt(raw);
    }

    std::unique_ptr<sqlite3, Close> db_;
    Stmt upsert_, select_, names_;
    std::int64_t key_ = 0;
};

std::string Upper(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return out;
}

void StoreWrite(benchmark::State& state) {
    SaveProfile(0);
    int i = 0;
    for (auto _ : state)
        WriteValueByPath(HKEY_LOCAL_MACHINE, kKey + "Today", Variant(++i), vkInteger);
}

void BareWrite(benchmark::State& state) {
    Bare bare;
    int i = 0;
    for (auto _ : state) {
        ++i;
        const auto bytes = LittleEndianBytes(static_cast<std::uint32_t>(i), 4);
        bare.Write("Today", "TODAY", 4, bytes.data(), 4);
    }
}

void StoreRead(benchmark::State& state) {
    SaveProfile(0);
    for (auto _ : state) {
        Variant v;
        ReadValueByPath(HKEY_LOCAL_MACHINE, kKey + "Today", vkInteger, v);
        benchmark::DoNotOptimize(v);
    }
}

void BareRead(benchmark::State& state) {
    Bare bare;
    for (auto _ : state)
        benchmark::DoNotOptimize(bare.Read("TODAY"));
}

void StoreSaveProfile(benchmark::State& state) {
    int i = 0;
    for (auto _ : state)
        SaveProfile(++i);
}

void BareSaveProfile(benchmark::State& state) {
    Bare bare;
    std::vector<std::pair<std::string, std::string>> names;
    for (const std::string& name : ProfileNames())
        names.emplace_back(name, Upper(name));
    int i = 0;
    for (auto _ : state) {
        ++i;
        for (const auto& [name, fold] : names) {
            if (KindOf(name) == vkString) {
                const std::string text = "C:\\QUORVANE\\DIALNET" + std::to_string(i) + ".TXT";
                bare.Write(name, fold, 1, text.c_str(), static_cast<int>(text.size() + 1));
            } else {
                const int v = KindOf(name) == vkBool ? i % 2 : i;
                bare.Write(name, fold, 4, &v, 4);
            }
        }
    }
}

// As the profile code loads: list the names, then test and read each with its kind.
void StoreLoadProfile(benchmark::State& state) {
    SaveProfile(0);
    std::vector<std::string> names;
    for (auto _ : state) {
        GetValueNamesByPath(HKEY_LOCAL_MACHINE, kKey, names);
        for (const std::string& name : names) {
            Variant v;
            if (ValueExistsByPath(HKEY_LOCAL_MACHINE, kKey + name))
                ReadValueByPath(HKEY_LOCAL_MACHINE, kKey + name, KindOf(name), v);
            benchmark::DoNotOptimize(v);
        }
    }
}

void BareLoadProfile(benchmark::State& state) {
    Bare bare;
    for (auto _ : state) {
        for (const std::string& name : bare.Names())
            benchmark::DoNotOptimize(bare.Read(Upper(name)));
    }
}

} // namespace

#define QUORVANE_BENCH(fn)                                                                         \
    BENCHMARK(fn)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true)

QUORVANE_BENCH(StoreWrite);
QUORVANE_BENCH(BareWrite);
QUORVANE_BENCH(StoreRead);
QUORVANE_BENCH(BareRead);
QUORVANE_BENCH(StoreSaveProfile);
QUORVANE_BENCH(BareSaveProfile);
QUORVANE_BENCH(StoreLoadProfile);
QUORVANE_BENCH(BareLoadProfile);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<bench::RatioReporter::Ratio> ratios;
    for (const char* what : {"Write", "Read", "SaveProfile", "LoadProfile"})
        ratios.push_back({what, std::string("Store") + what, std::string("Bare") + what});
    bench::RatioReporter reporter("store / bare statement", std::move(ratios));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
