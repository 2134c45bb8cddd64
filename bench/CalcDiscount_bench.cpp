// CalcDiscount as the till calls it once per sale: through the loaded
// module's export, the settings file read included, on shops of growing size.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "host/HostSession.h"
#include "host/ModuleLoader.h"
#include "host/SaleJson.h"
#include "host/ShopSchema.h"
#include "host/SqliteDataModule.h"
#include "host/SqliteStatement.h"

namespace {

using namespace selvo::host;

std::string TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "selvo-calc-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  return pattern;
}

// A shop of `cards` cards: every third a receipt card, the others goods
// cards with two category and three article targets, half of them with a
// dated period around the sale; thresholds and time discounts on all.
void FillShop(const std::string& path, int cards) {
  CreateShopDatabase(path, true);
  TSqliteDataModule setup(path);
  const std::string n = std::to_string(cards);
  const std::string series = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + n + ") ";
  ExecSql(setup.Connection(),
          "BEGIN;"
          "INSERT INTO Payment (ID, Name, Type, \"Check\", Discount, Enabled) VALUES (1, 'наличные', 0, 1, 2, 1);"
          "INSERT INTO SelvoDiscountDS (td_ID, td_DiscountName, PayID, td_AllDay, td_Enabled, td_AllWeek, "
          "td_Threshold, td_DiscountTarget, td_TimeDscList) " +
              series +
              "SELECT i, 'Карта ' || i, 1, 1, 1, 1, '300=3%;1000=5%;5000=150р;', CASE WHEN i % 3 = 0 THEN 0 ELSE 1 END, "
              "'08:0:0-10:0:0=7%;' FROM n;"
              "INSERT INTO DiscountGoodsDS (dg_ID, td_ID, td_IsCategory, ID_Target) " +
              series +
              "SELECT i * 5 + k, i, k < 2, CASE WHEN k < 2 THEN (i + k) % 40 ELSE (i * 7 + k * 131) % 2000 END "
              "FROM n, (SELECT 0 AS k UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4) "
              "WHERE i % 3 <> 0;"
              "INSERT INTO ExclusionsDS (ex_ID, td_ID, ex_BDateTime, ex_EDateTime, ex_Enabled) " +
              series + "SELECT i, i, 46300, 46400, 1 FROM n WHERE i % 2 = 0;" + "COMMIT;");
}

class LoadedShop {
 public:
  explicit LoadedShop(int cards) : dir_(TempFolder()) {
    setenv("WINDIR", dir_.c_str(), 1);
    {
      std::FILE* ini = std::fopen((dir_ + "/Selvo.ini").c_str(), "wb");
      std::fputs("[SelvoDiscount]\r\nRSumCanNotBeLowThenZSum=1\r\n", ini);
      std::fclose(ini);
    }
    FillShop(dir_ + "/shop.db", cards);
    dataModule_ = std::make_unique<TSqliteDataModule>(dir_ + "/shop.db");
    library_ = std::make_unique<TModuleLibrary>(SELVO_MODULE_PATH);
    ConnectModule(library_->Exports(), *dataModule_);
    library_->Exports().FillPaymentsList();
    library_->Exports().FillDiscountList();
  }
  ~LoadedShop() {
    library_->Exports().SetDataModule(nullptr);
    SetCallbackDataModule(nullptr);
    library_.reset();
    dataModule_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const TModuleExports& module() const { return library_->Exports(); }

 private:
  std::string dir_;
  std::unique_ptr<TSqliteDataModule> dataModule_;
  std::unique_ptr<TModuleLibrary> library_;
};

TSale SaleOf(int lines) {
  TSale sale;
  for (int i = 0; i < lines; ++i)
    sale.lines.push_back({(i * 37) % 2000, i % 40, 40.0 + i % 7, 99.9 + i % 13, 1.0 + i % 3});
  return sale;
}

void BM_CalcDiscount(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const int cards = static_cast<int>(state.range(1));
  LoadedShop shop(cards);
  TSaleRecord sale(SaleOf(lines), 1, 46364.5);
  TResultRecord out;
  double sum = 0;
  for (auto _ : state) {
    sum = shop.module().CalcDiscount(&sale.data(), out.get());
    benchmark::DoNotOptimize(sum);
  }
  state.counters["lines_x_cards"] = static_cast<double>(lines) * cards;
}
BENCHMARK(BM_CalcDiscount)
    ->Args({10, 50})
    ->Args({100, 1000})
    ->Args({500, 10000})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
