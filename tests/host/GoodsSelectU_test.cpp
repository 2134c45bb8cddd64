// The host's goods selection without widgets, on the sample shop: reading
// the marks, the filter, writing the marks back.
#include "host/windows/GoodsSelectU.h"

#include <gmock/gmock.h>

#include <memory>

#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopDataModule.h"
#include "tests/common/TestSupport.h"

namespace selvo::host {
namespace {

using ::testing::ElementsAre;

class GoodsChoiceTest : public ::testing::Test {
 protected:
  GoodsChoiceTest() {
    CreateSampleShop(dir.file("shop.db"), false);
    dm = std::make_unique<TShopDataModule>(dir.file("shop.db"));
  }
  TShopDataSet& KeyTovar() { return dm->DataSet("KeyTovar"); }
  TShopDataSet& Goods() { return dm->DataSet("Goods"); }
  void SetMark(TShopDataSet& ds, const char* key, std::int32_t id, const char* field, int value) {
    ASSERT_TRUE(ds.Locate(key, {TVariant(std::int64_t{id})}, loNone));
    ds.Edit();
    ds.FieldByName(field).SetAsInteger(value);
    ds.Post();
  }
  double Mark(TShopDataSet& ds, const char* key, std::int32_t id, const char* field) {
    EXPECT_TRUE(ds.Locate(key, {TVariant(std::int64_t{id})}, loNone));
    return ds.FieldByName(field).AsFloat();
  }
  std::vector<std::int32_t> Codes(const TGoodsChoice& choice, const std::int32_t* category, const char* filter) {
    std::vector<std::int32_t> codes;
    for (std::size_t i : choice.Visible(category, filter)) codes.push_back(choice.Articles()[i].id);
    return codes;
  }

  test::TempDir dir;
  std::unique_ptr<TShopDataModule> dm;
};

TEST_F(GoodsChoiceTest, LoadsTheCatalogueWithItsMarksWholeOrCategoryByCategory) {
  SetMark(KeyTovar(), "ID_Category", 2, "CheckField", 1);
  SetMark(Goods(), "ID_Goods", 101, "Kolvo", 1);
  TGoodsChoice whole;
  whole.Load(KeyTovar(), Goods(), false);
  EXPECT_EQ(whole.Categories().size(), 20u);
  EXPECT_GT(whole.Articles().size(), 250u);
  EXPECT_EQ(whole.CountsText(), "Выбрано категорий: 1, товаров: 1");

  Goods().SetMaster(&KeyTovar(), "ID_Category");
  TGoodsChoice perCategory;
  perCategory.Load(KeyTovar(), Goods(), true);
  ASSERT_EQ(perCategory.Articles().size(), whole.Articles().size());
  EXPECT_EQ(perCategory.CheckedArticles(), 1);
  EXPECT_EQ(perCategory.CheckedCategories(), 1);
}

TEST_F(GoodsChoiceTest, TheFilterNarrowsByNameOrCodeWithinTheCategoryInView) {
  TGoodsChoice choice;
  choice.Load(KeyTovar(), Goods(), false);
  const std::int32_t drinks = 1, coffee = 2;
  EXPECT_THAT(Codes(choice, &drinks, "10"), ElementsAre(101, 102, 103, 104));
  EXPECT_EQ(Codes(choice, nullptr, "30").size(), 13u);  // codes 301.., and "5W-30", "+30 %" in names
  EXPECT_THAT(Codes(choice, &coffee, "  КОФЕ "), ElementsAre(201));
  EXPECT_THAT(Codes(choice, &drinks, "кофе"), ElementsAre());
  EXPECT_EQ(Codes(choice, &coffee, "").size(), 15u);
  EXPECT_EQ(Codes(choice, nullptr, "").size(), choice.Articles().size());
}

TEST_F(GoodsChoiceTest, StoringWritesOnlyTheMarksThatChanged) {
  SetMark(KeyTovar(), "ID_Category", 2, "CheckField", 1);
  SetMark(Goods(), "ID_Goods", 101, "Kolvo", 1);
  TGoodsChoice choice;
  choice.Load(KeyTovar(), Goods(), false);
  const int categoriesBefore = KeyTovar().ChangeCount(), goodsBefore = Goods().ChangeCount();
  choice.Store(KeyTovar(), Goods(), false);
  EXPECT_EQ(KeyTovar().ChangeCount(), categoriesBefore);
  EXPECT_EQ(Goods().ChangeCount(), goodsBefore);

  choice.SetCategoryChecked(1, false);  // category 2
  choice.SetCategoryChecked(4, true);   // category 5
  choice.SetArticleChecked(1, true);    // 102
  choice.SetArticleChecked(1, true);
  EXPECT_EQ(choice.CountsText(), "Выбрано категорий: 1, товаров: 2");
  choice.Store(KeyTovar(), Goods(), false);
  EXPECT_EQ(Mark(KeyTovar(), "ID_Category", 2, "CheckField"), 0);
  EXPECT_EQ(Mark(KeyTovar(), "ID_Category", 5, "CheckField"), 1);
  EXPECT_EQ(Mark(Goods(), "ID_Goods", 102, "Kolvo"), 1);
  EXPECT_EQ(Mark(Goods(), "ID_Goods", 101, "Kolvo"), 1);
  EXPECT_EQ(Goods().ChangeCount(), goodsBefore + 1);
}

}  // namespace
}  // namespace selvo::host
