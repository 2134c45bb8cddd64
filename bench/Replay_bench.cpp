// The replay of journaled sales (selvo-host replay) over 100,000 sales of
// the sample shop, beside its floor: the calculation's own cost, twice per
// sale (once under each side's settings), over the same snapshot.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "host/insight/Replay.h"
#include "host/session/SaleCalculation.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace {

using namespace selvo;
using namespace selvo::host;

constexpr int kSales = 100000;

TCalcSettings SampleSettings(const test::TempDir& folder) {
  setenv("WINDIR", folder.path().c_str(), 1);
  const std::string shop = folder.file("shop.db");
  CreateSampleShop(shop, false);
  TShopDataModule dataModule(shop);
  return LoadCalcSettings(dataModule);
}

struct TReplayBench {
  test::TempDir folder;
  std::string journal = folder.file("sales.jsonl");
  TCalcSettings settings = SampleSettings(folder);

  TReplayBench() {
    // The sample sale at every quarter of an hour of a day, as a service
    // journals it.
    std::ofstream out(journal, std::ios::binary);
    for (int i = 0; i < kSales; ++i) {
      char moment[32];
      std::snprintf(moment, sizeof moment, "2026-12-08T%02d:%02d:00", (i / 4) % 24, (i % 4) * 15);
      out << nlohmann::json{{"sale", nlohmann::json::parse(test::kSampleGroupSale)},
                            {"moment", moment},
                            {"answer", nlohmann::json::object()},
                            {"settings_version", 1}}
                 .dump()
          << "\n";
    }
  }
};

TReplayBench& Bench() {
  static TReplayBench bench;
  return bench;
}

void BM_Replay100000(benchmark::State& state) {
  TReplayBench& b = Bench();
  for (auto _ : state) {
    const TReplayReport report = Replay(b.settings, b.settings, {b.journal});
    benchmark::DoNotOptimize(report.current.toPay);
  }
  state.counters["sales"] = kSales;
}
BENCHMARK(BM_Replay100000)->Unit(benchmark::kMillisecond)->Iterations(1);

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

}  // namespace

BENCHMARK_MAIN();
