// The replay of journaled sales (selvo-host replay) beside its floor: the
// calculation's own cost, twice per sale (once under each side's settings),
// over the same snapshot, divided among the threads that compute.
//
// The journals are the sample sale at every quarter of an hour of a day, as
// a service journals it: 100,000 lines, and 1,000,000 written by the bench
// itself into a temporary file (one line's text copied with its moment
// changed in place, a few seconds).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "host/insight/Replay.h"
#include "host/insight/ReplayLineReader.h"
#include "host/session/SaleCalculation.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "tests/common/ServiceProcess.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace {

using namespace selvo;
using namespace selvo::host;

TCalcSettings SampleSettings(const test::TempDir& folder) {
  setenv("WINDIR", folder.path().c_str(), 1);
  const std::string shop = folder.file("shop.db");
  CreateSampleShop(shop, false);
  TShopDataModule dataModule(shop);
  return LoadCalcSettings(dataModule);
}

// The journal line of the sample sale; its moment's hour and minute stand
// at `*timeAt` ("HH:MM").
std::string SampleLine(std::size_t* timeAt) {
  const std::string line = nlohmann::json{{"sale", nlohmann::json::parse(test::kSampleGroupSale)},
                                          {"moment", "2026-12-08T00:00:00"},
                                          {"answer", nlohmann::json::object()},
                                          {"settings_version", 1}}
                               .dump() +
                           "\n";
  *timeAt = line.find("2026-12-08T00:00:00") + 11;
  return line;
}

// `sales` lines, the i-th at the quarter hour i of the day.
void WriteJournal(const std::string& path, int sales) {
  std::size_t timeAt = 0;
  const std::string line = SampleLine(&timeAt);
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) throw std::runtime_error("cannot write " + path);
  std::string block;
  for (int i = 0; i < sales; ++i) {
    const std::size_t start = block.size();
    block += line;
    char time[8];
    std::snprintf(time, sizeof time, "%02d:%02d", (i / 4) % 24, (i % 4) * 15);
    block.replace(start + timeAt, 5, time);
    if (block.size() > (1u << 20) || i + 1 == sales) {
      std::fwrite(block.data(), 1, block.size(), out);
      block.clear();
    }
  }
  std::fclose(out);
}

struct TReplayBench {
  test::TempDir folder;
  std::string journal = folder.file("sales.jsonl");
  std::string million = folder.file("million.jsonl");
  TCalcSettings settings = SampleSettings(folder);

  TReplayBench() {
    WriteJournal(journal, 100000);
    WriteJournal(million, 1000000);
  }
};

TReplayBench& Bench() {
  static TReplayBench bench;
  return bench;
}

unsigned Cores() { return std::max(1u, std::thread::hardware_concurrency()); }

void BM_Replay100000(benchmark::State& state) {
  TReplayBench& b = Bench();
  for (auto _ : state) {
    const TReplayReport report = Replay(b.settings, b.settings, {b.journal});
    benchmark::DoNotOptimize(report.current.toPay);
  }
  state.counters["sales"] = 100000;
}
BENCHMARK(BM_Replay100000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// The 1,000,000 sales in one thread (the argument 1) and on every core (0);
// the counter `threads` is the threads that computed.
void BM_Replay1000000(benchmark::State& state) {
  TReplayBench& b = Bench();
  const unsigned threads = state.range(0) == 0 ? Cores() : static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    const TReplayReport report = Replay(b.settings, b.settings, {b.million}, threads);
    if (report.Computed() != 1000000) state.SkipWithError("not every sale was computed");
    benchmark::DoNotOptimize(report.current.toPay);
  }
  state.counters["sales"] = 1000000;
  state.counters["threads"] = threads;
}
BENCHMARK(BM_Replay1000000)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// `selvo-host replay` of the 1,000,000 sales as a process of its own, on
// every core: its peak resident memory (`peak_mb`) as the kernel counts it.
void BM_ReplayProcessPeakMemory(benchmark::State& state) {
  TReplayBench& b = Bench();
  const std::string shop = b.folder.file("shop.db");
  long peak = 0;
  for (auto _ : state) {
    const test::TMeasuredRun run =
        test::RunHostMeasured({"replay", "--db", shop, "--against", shop, "--json", b.million}, b.folder.path());
    if (run.code != 0) state.SkipWithError("selvo-host replay failed");
    peak = run.peakKilobytes;
  }
  state.counters["peak_mb"] = static_cast<double>(peak) / 1024;
}
BENCHMARK(BM_ReplayProcessPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Two calculations of one journaled sale with the trace the replay reads.
void BM_TwoCalculationsPerSale(benchmark::State& state) {
  TReplayBench& b = Bench();
  TSale sale = ParseSale(test::kSampleGroupSale);
  const std::int32_t payID = PaymentByName(b.settings, *sale.paymentName).first;
  TSaleRecord record(sale, payID, *sale.moment);
  for (auto _ : state) {
    benchmark::DoNotOptimize(TraceCalculationAt(b.settings, record.data(), *sale.moment).result);
    benchmark::DoNotOptimize(TraceCalculationAt(b.settings, record.data(), *sale.moment).result);
  }
}
BENCHMARK(BM_TwoCalculationsPerSale)->Unit(benchmark::kMicrosecond);

// One journal line read into its sale: by the general JSON reader alone
// (argument 0), as the replay once read every line, and by the fast reader
// (1), which the replay reads with.
void BM_ReadJournalLine(benchmark::State& state) {
  std::size_t timeAt = 0;
  std::string text = SampleLine(&timeAt);
  text.pop_back();
  const std::size_t size = text.size();
  text.append(kLineReadPadding, ' ');
  const TJournalLine line{std::string_view(text).substr(0, size), 1, false, false};
  TLineSaleReader reader;
  TLineSale read;
  for (auto _ : state) {
    if (state.range(0) == 0)
      read = ReadLineSaleGenerally(line);
    else
      reader.Read(line, read);
    benchmark::DoNotOptimize(read.sale->lines.data());
  }
}
BENCHMARK(BM_ReadJournalLine)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
