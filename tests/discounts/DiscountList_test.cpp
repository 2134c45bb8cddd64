// The discount list: positions, name lookup, new identifiers and the card
// selection of the discount calculation.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "discounts/SelvoDiscountItemsU.h"
#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "state/SelvoModuleU.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

const double kSaleMoment = EncodeDate(2024, 6, 5) + 0.5;

// A card of payment type 1 whose one threshold (0) gives value in unit.
std::unique_ptr<TDiscountItem> Card(std::int32_t id, std::int16_t target, double value, char unit = kUnitPercent) {
  auto card = std::make_unique<TDiscountItem>();
  card->ID = id;
  card->PayID = 1;
  card->DiscountTarget = target;
  card->ThresholdSum.push_back(0);
  card->ThresholdValue.push_back(value);
  card->ThresholdUnit.push_back(unit);
  return card;
}

// A sale in the host's array form, released when it goes. Unlike the
// host's own record it may have sequences of different lengths.
struct Sale {
  TDiscountInData data{};
  Sale(const std::vector<std::int32_t>& goods, const std::vector<std::int32_t>& categories,
       const std::vector<double>& prices, const std::vector<double>& quantities) {
    data.GoodsIDs = DynArrayFrom(goods);
    data.CategoryIDs = DynArrayFrom(categories);
    data.Prices = DynArrayFrom(prices);
    data.ZPrices = DynArrayFrom(std::vector<double>(prices.size(), 0.0));
    data.Quantities = DynArrayFrom(quantities);
    data.PayID = 1;
    data.SaleTime = kSaleMoment;
  }
  ~Sale() {
    DynArrayRelease(data.GoodsIDs);
    DynArrayRelease(data.CategoryIDs);
    DynArrayRelease(data.Prices);
    DynArrayRelease(data.ZPrices);
    DynArrayRelease(data.Quantities);
  }
};

// The identifier of a chosen card, -1 for none.
std::int32_t IdOf(const TDiscountItem* card) { return card ? card->ID : -1; }

class DiscountListTest : public ::testing::Test {
 protected:
  test::ScopedClock clock_{[] { return kSaleMoment; }};
  test::ModuleScope module_;
  TDiscountList& list_ = DiscountList();
};

TEST_F(DiscountListTest, PositionsAndTheIndexError) {
  EXPECT_EQ(list_.Count(), 0);
  EXPECT_EQ(list_.Add(Card(1, 0, 5)), 0);
  EXPECT_EQ(list_.Add(Card(2, 0, 5)), 1);
  EXPECT_EQ(list_.GetItem(1)->ID, 2);
  EXPECT_THROW(list_.GetItem(2), EListError);
  EXPECT_THROW(list_.GetItem(-1), EListError);
  list_.Clear();
  EXPECT_EQ(list_.Count(), 0);
}

TEST_F(DiscountListTest, FindByNameTrimsAndIgnoresLetterCaseOfCyrillic) {
  list_.Add(Card(1, 0, 5));
  list_.GetItem(0)->SetDiscountName("Будни");
  list_.Add(Card(2, 0, 5));
  list_.GetItem(1)->SetDiscountName("  Скидка Выходного Дня\t");
  list_.Add(Card(3, 0, 5));
  list_.GetItem(2)->SetDiscountName("скидка выходного дня");
  EXPECT_EQ(list_.FindByName("СКИДКА ВЫХОДНОГО ДНЯ \r\n"), list_.GetItem(1));
  EXPECT_EQ(list_.FindByName("будни"), list_.GetItem(0));
  EXPECT_EQ(list_.FindByName("Скидка"), nullptr);
}

TEST_F(DiscountListTest, NewIDCountsOnFromTheLastIdentifier) {
  Module().LastDiscountID = 40;
  Module().DiscountIDCounter = 40;
  EXPECT_EQ(list_.NewID(), 41);
  EXPECT_EQ(list_.NewID(), 42);  // handed out, not stored: not handed out again

  // A stale counter below the host's last identifier is raised to it.
  Module().LastDiscountID = 100;
  EXPECT_EQ(list_.NewID(), 101);
}

TEST_F(DiscountListTest, NewIDNeverHandsOutAnIdentifierACardHolds) {
  // The last card lies below the counter, and the next numbers are taken.
  Module().LastDiscountID = 40;
  Module().DiscountIDCounter = 45;
  for (std::int32_t id : {46, 47, 41}) list_.Add(Card(id, 0, 5));
  const std::int32_t id = list_.NewID();
  EXPECT_EQ(id, 48);
  EXPECT_EQ(Module().DiscountIDCounter, 48);
}

TEST_F(DiscountListTest, FindCheckCardTakesTheFirstOfTheLargestAndNeverAZeroDiscount) {
  list_.Add(Card(1, 0, 0));
  EXPECT_EQ(list_.FindCheckCard(1, 100, kSaleMoment), nullptr);

  list_.Add(Card(2, 1, 90));  // a goods card
  list_.Add(Card(3, 0, 90));  // another payment type
  list_.GetItem(2)->PayID = 2;
  list_.Add(Card(4, 0, 90));  // switched off
  list_.GetItem(3)->Enabled = false;
  list_.Add(Card(5, 0, 50));
  list_.Add(Card(6, 0, 50));
  list_.Add(Card(7, 0, 20));
  EXPECT_EQ(IdOf(list_.FindCheckCard(1, 100, kSaleMoment)), 5);
  EXPECT_EQ(IdOf(list_.FindCheckCard(2, 100, kSaleMoment)), 3);
}

TEST_F(DiscountListTest, FindGoodsCardMatchesCategoryOrArticle) {
  list_.Add(Card(1, 1, 10));
  list_.GetItem(0)->Categories.Add("7");
  list_.Add(Card(2, 1, 20));
  list_.GetItem(1)->Goods.Add("500");
  list_.Add(Card(3, 0, 90));  // a receipt card never counts for a line
  list_.GetItem(2)->Goods.Add("500");
  Module().RSumCanNotBeLowThenZSum = false;
  EXPECT_EQ(IdOf(list_.FindGoodsCard(7, 499, 0, 100, 1, kSaleMoment, 1)), 1);
  EXPECT_EQ(IdOf(list_.FindGoodsCard(7, 500, 0, 100, 1, kSaleMoment, 1)), 2);
  EXPECT_EQ(IdOf(list_.FindGoodsCard(8, 500, 0, 100, 1, kSaleMoment, 1)), 2);
  EXPECT_EQ(list_.FindGoodsCard(500, 7, 0, 100, 1, kSaleMoment, 1), nullptr);  // lists are not mixed
  EXPECT_EQ(list_.FindGoodsCard(7, 500, 0, 100, 2, kSaleMoment, 1), nullptr);
}

TEST_F(DiscountListTest, FindGoodsCardKeepsTheLineAbovePurchaseValueUnlessBanned) {
  list_.Add(Card(1, 1, 10));
  list_.GetItem(0)->Goods.Add("500");
  Module().RSumCanNotBeLowThenZSum = true;
  EXPECT_EQ(list_.FindGoodsCard(7, 500, 95, 100, 1, kSaleMoment, 1), nullptr);  // 95 > 100 - 10
  EXPECT_EQ(IdOf(list_.FindGoodsCard(7, 500, 90, 100, 1, kSaleMoment, 1)), 1);  // 90 = 100 - 10 is allowed
  Module().RSumCanNotBeLowThenZSum = false;
  EXPECT_EQ(IdOf(list_.FindGoodsCard(7, 500, 95, 100, 1, kSaleMoment, 1)), 1);

  Module().RSumCanNotBeLowThenZSum = true;
  auto ban = Card(2, 1, 0);
  ban->Goods.Add("500");
  ban->TimeBegin = {0};
  ban->TimeEnd = {kLastSecondOfDay};
  ban->TimeValue = {SaleBanAmount};
  ban->TimeUnit = {kUnitRouble};
  list_.Add(std::move(ban));
  EXPECT_EQ(IdOf(list_.FindGoodsCard(7, 500, 95, 100, 1, kSaleMoment, 1)), 2);
}

TEST_F(DiscountListTest, GoodsGroupDiscountSumsTheTargetedLines) {
  auto card = Card(1, 1, 0);
  card->ThresholdSum = {300};
  card->ThresholdValue = {10};
  card->ThresholdUnit = {kUnitPercent};
  card->Categories.Add("7");
  card->Goods.Add("501");
  list_.Add(std::move(card));

  // No line reaches 300 alone; the category line and the article line do.
  Sale sale({500, 501, 502}, {7, 8, 8}, {100, 50, 1000}, {2, 4, 1});
  EXPECT_DOUBLE_EQ(list_.GoodsGroupDiscount(sale.data, kSaleMoment), 40);

  Sale untargeted({600}, {9}, {1000}, {1});
  EXPECT_EQ(list_.GoodsGroupDiscount(untargeted.data, kSaleMoment), 0);
}

TEST_F(DiscountListTest, GoodsGroupDiscountKeepsFourDecimalsHalvesToEven) {
  // 1.03125 and 1.09375 are exact halves of a ten-thousandth.
  for (auto [value, expected] : {std::pair{12.34567, 12.3457}, {1.03125, 1.0312}, {1.09375, 1.0938}}) {
    list_.Clear();
    auto card = Card(1, 1, value, kUnitRouble);
    card->Goods.Add("500");
    list_.Add(std::move(card));
    Sale sale({500}, {7}, {100}, {1});
    EXPECT_EQ(list_.GoodsGroupDiscount(sale.data, kSaleMoment), expected) << value;
  }
}

TEST_F(DiscountListTest, GoodsGroupDiscountTakesTheBestCard) {
  for (double value : {5.0, 15.0, 10.0}) {
    auto card = Card(static_cast<std::int32_t>(list_.Count() + 1), 1, value);
    card->Goods.Add("500");
    list_.Add(std::move(card));
  }
  list_.GetItem(1)->Enabled = false;
  Sale sale({500}, {7}, {100}, {1});
  const TDiscountItem* winner = nullptr;
  EXPECT_DOUBLE_EQ(list_.GoodsGroupDiscount(sale.data, kSaleMoment, &winner), 10);
  EXPECT_EQ(winner, list_.GetItem(2));

  Sale untargeted({600}, {9}, {1000}, {1});
  EXPECT_EQ(list_.GoodsGroupDiscount(untargeted.data, kSaleMoment, &winner), 0);
  EXPECT_EQ(winner, nullptr);
}

TEST_F(DiscountListTest, GoodsGroupDiscountRefusesShortLineSequences) {
  list_.Add(Card(1, 1, 10));
  Sale sale({500, 501}, {7, 7}, {100}, {1, 1});
  EXPECT_THROW(list_.GoodsGroupDiscount(sale.data, kSaleMoment), EInvalidSale);
}

}  // namespace
}  // namespace selvo
