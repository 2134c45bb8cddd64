// The settings' history of a shop with 10,000 saves: the whole list told in
// the operator's words (what `selvo-host history` does), and a restore's read
// of an early version beside the shop as it stands.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/insight/HistorySummary.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/SettingsHistory.h"
#include "host/shopdb/SettingsRestore.h"

namespace {

using namespace selvo::host;

constexpr int kSaves = 10000;

// The sample shop and kSaves saves of one card's thresholds each, written
// as the program writes its versions, in one transaction for speed.
const std::string& HistoryShop() {
  static const std::string path = [] {
    std::string folder = (std::filesystem::temp_directory_path() / "selvo-history-bench-XXXXXX").string();
    if (!mkdtemp(folder.data())) std::abort();
    const std::string shop = folder + "/shop.db";
    CreateSampleShop(shop, false);
    auto c = OpenShopConnection(shop);
    c->Begin();
    for (int i = 0; i < kSaves; ++i) {
      const TSettingsVersion version = BeginSettingsVersion(*c, kOriginEditor);
      c->Execute("UPDATE SelvoDiscountDS SET td_Threshold = '" + std::to_string(1000 + i) + "=" +
                 std::to_string(i % 50) + "%;' WHERE td_ID = " + std::to_string(1 + i % 10));
      FinishSettingsVersion(*c, version);
    }
    c->Commit();
    return shop;
  }();
  return path;
}

void BM_HistoryList(benchmark::State& state) {
  const std::string& shop = HistoryShop();
  for (auto _ : state) {
    auto c = OpenShopConnection(shop);
    const auto history = ReadSettingsHistory(*c, {});
    const THistoryNames names = THistoryNames::Read(*c);
    std::size_t lines = 0;
    for (const TVersionWithChanges& version : history) lines += SummaryLines(version, names).size();
    benchmark::DoNotOptimize(lines);
  }
  state.counters["versions"] = kSaves + 1;
}
BENCHMARK(BM_HistoryList)->Unit(benchmark::kMillisecond);

void BM_RestoreReadOfAnEarlyVersion(benchmark::State& state) {
  const std::string& shop = HistoryShop();
  for (auto _ : state) {
    TSettingsRestore restore(shop, 2);
    benchmark::DoNotOptimize(restore.Differs());
  }
}
BENCHMARK(BM_RestoreReadOfAnEarlyVersion)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
