// The goods choice of the discount card dialog on a large shop: 200
// categories of 50 articles each (10,000), a card with 20 categories and 100
// articles chosen. Marking the choice in KeyTovar.CheckField and
// Goods.Kolvo, then reading it back, through the SQLite datasets: with
// "Goods" presenting every article, and with "Goods" following "KeyTovar"
// (only the current category's articles). Then the host's window on it.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "discounts/SelvoDiscountItemsU.h"
#include "editor/EditDiscountU.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/SqliteStatement.h"
#include "host/windows/GoodsSelectU.h"

namespace {

using namespace selvo;

constexpr int kCategories = 200;
constexpr int kArticlesPerCategory = 50;

class BenchCatalogue {
 public:
  BenchCatalogue() {
    std::string pattern = (std::filesystem::temp_directory_path() / "selvo-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir_ = pattern;
    const std::string path = dir_ + "/shop.db";
    host::CreateShopDatabase(path, true);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
    host::ExecSql(db, "BEGIN");
    {
      host::TSqliteStatement category(db, "INSERT INTO KeyTovar VALUES (?, ?, 0)");
      host::TSqliteStatement article(db, "INSERT INTO Goods VALUES (?, ?, ?, 100, 60, 0)");
      for (int c = 1; c <= kCategories; ++c) {
        category.BindInt(1, c);
        category.Bind(2, TVariant(std::string("Категория ") + std::to_string(c)));
        category.Step();
        category.Reset();
        for (int a = 1; a <= kArticlesPerCategory; ++a) {
          const int id = c * 1000 + a;
          article.BindInt(1, id);
          article.BindInt(2, c);
          article.Bind(3, TVariant(std::string("Товар ") + std::to_string(id)));
          article.Step();
          article.Reset();
        }
      }
    }
    host::ExecSql(db, "COMMIT");
    sqlite3_close(db);
    module_ = std::make_unique<host::TShopDataModule>(path);
    for (int c = 1; c <= kCategories; c += 10) card_.Categories.Add(std::to_string(c));
    for (int c = 2; c <= kCategories; c += 2) {
      card_.Goods.Add(std::to_string(c * 1000 + 1));
    }
  }
  ~BenchCatalogue() {
    module_.reset();
    std::filesystem::remove_all(dir_);
  }
  host::TShopDataSet& KeyTovar() { return module_->DataSet("KeyTovar"); }
  host::TShopDataSet& Goods() { return module_->DataSet("Goods"); }
  TDiscountItem& Card() { return card_; }

 private:
  std::string dir_;
  std::unique_ptr<host::TShopDataModule> module_;
  TDiscountItem card_;
};

std::int32_t Confirm() { return 1; }

void MarkAndReadBack(benchmark::State& state) {
  static BenchCatalogue shop;
  const bool detail = state.range(0) != 0;
  shop.Goods().SetMaster(detail ? &shop.KeyTovar() : nullptr, "ID_Category");
  for (auto _ : state) {
    TDiscountItem card = shop.Card();
    ChooseCardTargets(card, shop.KeyTovar(), shop.Goods(), &Confirm, nullptr, nullptr);
    if (card.Goods.Count() != shop.Card().Goods.Count()) state.SkipWithError("choice not read back");
  }
  shop.Goods().SetMaster(nullptr, "");
  state.SetLabel(detail ? "Goods follows KeyTovar" : "Goods presents every article");
}
BENCHMARK(MarkAndReadBack)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The host's window on the same shop: reading the catalogue with its marks,
// one filter keystroke over every article, and writing the marks back.
void WindowLoadFilterStore(benchmark::State& state) {
  static BenchCatalogue shop;
  for (auto _ : state) {
    host::TGoodsChoice choice;
    choice.Load(shop.KeyTovar(), shop.Goods(), false);
    benchmark::DoNotOptimize(choice.Visible(nullptr, "товар 12"));
    choice.SetArticleChecked(0, !choice.Articles()[0].checked);
    choice.Store(shop.KeyTovar(), shop.Goods(), false);
  }
}
BENCHMARK(WindowLoadFilterStore)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
