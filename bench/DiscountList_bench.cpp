// The discount list: loading a large shop's cards from SQLite, and the card
// selection that every sale runs.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchShop.h"
#include "discounts/SelvoDiscountItemsU.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/SqliteStatement.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "state/SelvoModuleU.h"

namespace {

using namespace selvo;
using namespace selvo::bench;

void BM_FillDiscountList(benchmark::State& state) {
  const int cards = static_cast<int>(state.range(0));
  LoadedModule module(cards);
  for (auto _ : state) {
    selvo::FillDiscountList();
    benchmark::DoNotOptimize(DiscountList().Count());
  }
  if (DiscountList().Count() != cards) state.SkipWithError("not every card was loaded");
  state.SetItemsProcessed(state.iterations() * cards);
}
BENCHMARK(BM_FillDiscountList)->Arg(10000)->Unit(benchmark::kMillisecond);

// The floor of any loading: one step through every row of the three discount
// tables with prepared statements, no column read, nothing kept.
void BM_BareShopScan(benchmark::State& state) {
  const int cards = static_cast<int>(state.range(0));
  BenchShop shop(cards);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(shop.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) std::abort();
  std::vector<sqlite3_stmt*> statements;
  for (const char* sql :
       {"SELECT * FROM SelvoDiscountDS", "SELECT * FROM DiscountGoodsDS", "SELECT * FROM ExclusionsDS"}) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) std::abort();
    statements.push_back(stmt);
  }
  std::int64_t rows = 0;
  for (auto _ : state) {
    rows = 0;
    for (sqlite3_stmt* stmt : statements) {
      while (sqlite3_step(stmt) == SQLITE_ROW) ++rows;
      sqlite3_reset(stmt);
    }
    benchmark::DoNotOptimize(rows);
  }
  for (sqlite3_stmt* stmt : statements) sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (rows != static_cast<std::int64_t>(cards) * (1 + kTargetsPerCard + kPeriodsPerCard))
    state.SkipWithError("not every row was stepped through");
  state.SetItemsProcessed(state.iterations() * cards);
}
BENCHMARK(BM_BareShopScan)->Arg(10000)->Unit(benchmark::kMillisecond);

// The same with the three datasets closed first, so that the load also reads
// every row from SQLite, as after the host's start.
void BM_FillDiscountListFromClosedDatasets(benchmark::State& state) {
  const int cards = static_cast<int>(state.range(0));
  LoadedModule module(cards);
  for (auto _ : state) {
    state.PauseTiming();
    for (TDataSet* ds : {&SelvoDiscountDataSet(), &DiscountGoodsDataSet(), &ExclusionsDataSet()}) ds->Close();
    state.ResumeTiming();
    selvo::FillDiscountList();
  }
  if (DiscountList().Count() != cards) state.SkipWithError("not every card was loaded");
  state.SetItemsProcessed(state.iterations() * cards);
}
BENCHMARK(BM_FillDiscountListFromClosedDatasets)->Arg(10000)->Unit(benchmark::kMillisecond);

// A sale of 50 lines over 2000 articles in 40 categories.
host::TSale BenchSale() {
  host::TSale sale;
  for (int j = 0; j < 50; ++j) sale.lines.push_back({(j * 37) % 2000, j % 40, 40.0 + j, 55.0 + j, 1.0 + j % 3});
  return sale;
}

void BM_FindGoodsCard(benchmark::State& state) {
  LoadedModule module(static_cast<int>(state.range(0)));
  selvo::FillDiscountList();
  const host::TSale sale = BenchSale();
  for (auto _ : state) {
    int found = 0;
    for (const host::TSaleLine& l : sale.lines)
      found += DiscountList().FindGoodsCard(l.category, l.goods, l.zprice, l.price, 1, kMoment, l.quantity) != nullptr;
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sale.lines.size()));
  state.SetLabel("per sale of 50 lines");
}
BENCHMARK(BM_FindGoodsCard)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_GoodsGroupDiscount(benchmark::State& state) {
  LoadedModule module(static_cast<int>(state.range(0)));
  selvo::FillDiscountList();
  const host::TSaleRecord sale(BenchSale(), 1, kMoment);
  for (auto _ : state) benchmark::DoNotOptimize(DiscountList().GoodsGroupDiscount(sale.data(), kMoment));
  state.SetLabel("per sale of 50 lines");
}
BENCHMARK(BM_GoodsGroupDiscount)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
