// A shop database of many discount cards for the benchmarks, and the module
// state with the discount list loaded from it.
#pragma once

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/SqliteStatement.h"
#include "module/ModuleLifetime.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "state/SelvoModuleU.h"

namespace selvo::bench {

inline constexpr int kTargetsPerCard = 5;
inline constexpr int kPeriodsPerCard = 2;
inline const double kMoment = EncodeDate(2024, 6, 5) + 0.5;

// A shop database with `cards` cards of every kind: half receipt cards, half
// goods cards, each with five target rows (categories and articles), two
// periods around kMoment, thresholds and time discounts.
class BenchShop {
 public:
  explicit BenchShop(int cards) {
    std::string pattern = (std::filesystem::temp_directory_path() / "selvo-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir_ = pattern;
    path_ = dir_ + "/shop.db";
    host::CreateShopDatabase(path_, true);
    sqlite3* db = nullptr;
    if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK) std::abort();
    host::ExecSql(db, "BEGIN");
    {
      host::TSqliteStatement card(
          db, "INSERT INTO SelvoDiscountDS VALUES (?, ?, 1, 0.25, 0.875, ?, 1, 127, ?, ?, ?, 0, ?)");
      host::TSqliteStatement target(db, "INSERT INTO DiscountGoodsDS VALUES (?, ?, ?, ?)");
      host::TSqliteStatement period(db, "INSERT INTO ExclusionsDS VALUES (?, ?, ?, ?, 1)");
      std::int64_t targetID = 0, periodID = 0;
      for (int i = 1; i <= cards; ++i) {
        card.BindInt(1, i);
        card.Bind(2, TVariant(std::string("Карта скидок № ") + std::to_string(i)));
        card.BindInt(3, i % 2);
        card.BindInt(4, i % 3 != 0);
        card.Bind(5, TVariant(std::string("500=3%;1000=5%;3000=150р;")));
        card.BindInt(6, i % 2);
        card.Bind(7, TVariant(std::string("08:0:0-10:0:0=7%;20:0:0-23:59:59=10000000р;")));
        card.Step();
        card.Reset();
        for (int t = 0; t < kTargetsPerCard; ++t) {
          target.BindInt(1, ++targetID);
          target.BindInt(2, i);
          target.BindInt(3, t == 0 ? 1 : 0);
          target.BindInt(4, t == 0 ? i % 40 : (i * 7 + t * 131) % 2000);
          target.Step();
          target.Reset();
        }
        for (int p = 0; p < kPeriodsPerCard; ++p) {
          period.BindInt(1, ++periodID);
          period.BindInt(2, i);
          period.Bind(3, TVariant(kMoment - 30 + p * 20));
          period.Bind(4, TVariant(kMoment - 10 + p * 20));
          period.Step();
          period.Reset();
        }
      }
    }
    host::ExecSql(db, "COMMIT");
    sqlite3_close(db);
  }
  ~BenchShop() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

// The module state with the list loaded from a shop of `cards` cards.
class LoadedModule {
 public:
  explicit LoadedModule(int cards) : shop_(cards) {
    ModuleLoad();
    SetModuleFormatSettings(TFormatSettings::Russian());
    dataModule_ = std::make_unique<host::TShopDataModule>(shop_.path());
    Module().DataModule = dataModule_.get();
  }
  ~LoadedModule() {
    Module().DataModule = nullptr;
    dataModule_.reset();
    ModuleUnload();
  }

 private:
  BenchShop shop_;
  std::unique_ptr<host::TShopDataModule> dataModule_;
};

}  // namespace selvo::bench
