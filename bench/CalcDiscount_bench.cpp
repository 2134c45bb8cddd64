// CalcDiscount as the till calls it once per sale: through the loaded
// module's export, the settings file read included, on shops of growing size;
// beside it the settings read alone and its floor, on the same file, so that
// one run gives the ratios.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/BenchSettingsFile.h"
#include "host/session/HostSession.h"
#include "host/session/ModuleLoader.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/SqliteStatement.h"
#include "support/SafeIniFiles.h"

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
  TShopDataModule setup(path);
  const std::string n = std::to_string(cards);
  const std::string series = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + n + ") ";
  setup.Connection().Execute(
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

// The settings file every CalcDiscount reads, one for the whole program:
// the module takes its settings folder from WINDIR when it is loaded, and the
// library may stay loaded from one benchmark to the next, so the file must
// outlive every shop.
class SettingsFolder {
 public:
  SettingsFolder() : dir_(TempFolder()) { selvo::bench::WriteSettingsFile(path(), true); }
  ~SettingsFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }
  std::string path() const { return dir_ + "/Selvo.ini"; }

 private:
  std::string dir_;
};

const SettingsFolder& Settings() {
  static const SettingsFolder folder;
  return folder;
}

class LoadedShop {
 public:
  explicit LoadedShop(int cards) : dir_(TempFolder()) {
    setenv("WINDIR", Settings().dir().c_str(), 1);
    FillShop(dir_ + "/shop.db", cards);
    dataModule_ = std::make_unique<TShopDataModule>(dir_ + "/shop.db");
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

  // How many cards the calculation of the sale must test: the receipt cards,
  // and for each line the goods cards that target its category or article.
  std::int64_t CardTests(const TSale& sale) const {
    TShopDataModule db(dir_ + "/shop.db");
    auto count = [&](const std::string& sql, const std::vector<selvo::TVariant>& params) {
      return std::get<std::int64_t>(db.Connection().QueryValue(sql, params));
    };
    std::int64_t tests = count("SELECT COUNT(*) FROM SelvoDiscountDS WHERE td_DiscountTarget = 0", {});
    for (const TSaleLine& line : sale.lines)
      tests += count(
          "SELECT COUNT(DISTINCT td_ID) FROM DiscountGoodsDS WHERE (td_IsCategory = 1 AND "
          "ID_Target = $1) OR (td_IsCategory = 0 AND ID_Target = $2)",
          {selvo::TVariant(std::int64_t{line.category}), selvo::TVariant(std::int64_t{line.goods})});
    return tests;
  }

 private:
  std::string dir_;
  std::unique_ptr<TShopDataModule> dataModule_;
  std::unique_ptr<TModuleLibrary> library_;
};

TSale SaleOf(int lines) {
  TSale sale;
  for (int i = 0; i < lines; ++i)
    sale.lines.push_back({(i * 37) % 2000, i % 40, 40.0 + i % 7, 99.9 + i % 13, 1.0 + i % 3});
  return sale;
}

// The floor of any settings read (see BenchSettingsFile.h).
void BM_BareIniRead(benchmark::State& state) {
  const std::string path = Settings().path();
  for (auto _ : state) benchmark::DoNotOptimize(selvo::bench::BareIniRead(path, "\nRSumCanNotBeLowThenZSum="));
}
BENCHMARK(BM_BareIniRead);

// The calculation's settings read alone: the option through the safe INI
// file, lock included, one object for many reads.
void BM_ReadBool(benchmark::State& state) {
  selvo::TSafeIniFile ini(Settings().path());
  for (auto _ : state) benchmark::DoNotOptimize(ini.ReadBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", false));
}
BENCHMARK(BM_ReadBool);

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
  // The work that must be done: the cards that can apply to the sale.
  state.counters["card_tests"] = static_cast<double>(shop.CardTests(SaleOf(lines)));
}
BENCHMARK(BM_CalcDiscount)
    ->Args({10, 50})
    ->Args({100, 1000})
    ->Args({500, 10000})
    ->Args({500, 1000})
    ->Args({500, 100000})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
