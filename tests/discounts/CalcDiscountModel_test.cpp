// The calculation against a plain reference model on seeded random sales and
// card sets. A difference prints the seed that reproduces it.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "discounts/SelvoCalcDiscountUnit.h"
#include "discounts/SelvoDiscountItemsU.h"
#include "host/session/SaleJson.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "state/SelvoModuleU.h"
#include "support/SafeIniFiles.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/common/TestSupport.h"
#include "tests/discounts/CalcReference.h"

namespace selvo {
namespace {

namespace ref = reference;

constexpr int kSeeds = 3000;
constexpr double kMinute = 1.0 / 1440;

// How many categories and articles a shop's cards and sales draw from, how
// often a time discount is a sale ban, how long a sale gets. The defaults
// make small shops in which a few cards often compete for one line.
struct ShopShape {
  int categories = 4;
  int articles = 8;
  int banPercent = 15;
  int maxLines = 6;
};

class RandomShop {
 public:
  explicit RandomShop(unsigned seed, ShopShape shape = {}) : rng_(seed), shape_(shape) {}

  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int percent) { return Int(1, 100) <= percent; }
  double Kopecks(int loRoubles, int hiRoubles) { return Int(loRoubles * 100, hiRoubles * 100) / 100.0; }
  double TimeOfDay() { return Int(0, 1439) * kMinute; }

  ref::Card Card(std::int32_t id) {
    ref::Card c;
    c.id = id;
    c.payID = Int(1, 3);
    c.target = Chance(10) ? 2 : Int(0, 1);
    c.enabled = !Chance(10);
    if (Chance(30)) {
      c.allDay = false;
      c.windowBegin = TimeOfDay();
      c.windowEnd = Chance(50) ? c.windowBegin + Int(0, 600) * kMinute : TimeOfDay();
    }
    if (Chance(30)) {
      c.allWeek = false;
      c.weekDays = static_cast<std::uint8_t>(Int(0, 255));
    }
    static const double kSums[] = {0, 50, 100, 150, 300, 500, 1000};
    for (int i = Int(0, 3); i > 0; --i) {
      const bool percent = Chance(60);
      c.thresholds.push_back(
          {Chance(80) ? kSums[Int(0, 6)] : Kopecks(0, 800), percent ? Int(1, 60) / 2.0 : Kopecks(1, 150), percent});
    }
    for (int i = Int(0, 2); i > 0; --i) {
      const double begin = TimeOfDay();
      const double end = Chance(80) ? begin + Int(0, 720) * kMinute : TimeOfDay();
      if (Chance(shape_.banPercent))
        c.times.push_back({begin, std::min(end, 1439 * kMinute), 10000000, false});
      else if (Chance(50))
        c.times.push_back({begin, std::min(end, 1439 * kMinute), Int(1, 40) / 2.0, true});
      else
        c.times.push_back({begin, std::min(end, 1439 * kMinute), Kopecks(1, 100), false});
    }
    for (int i = Chance(30) ? Int(1, 2) : 0; i > 0; --i) {
      const double begin = EncodeDate(2026, 12, Int(1, 20)) + TimeOfDay();
      c.periods.push_back({begin, begin + Int(0, 15) + TimeOfDay(), !Chance(20)});
    }
    for (int i = Int(0, 2); i > 0; --i) c.categories.insert(Int(1, shape_.categories));
    for (int i = Int(0, 3); i > 0; --i) c.goods.insert(Int(1, shape_.articles));
    return c;
  }

  ref::Sale Sale() {
    ref::Sale s;
    s.payID = Chance(90) ? Int(1, 3) : 7;
    s.moment = EncodeDate(2026, 12, Int(1, 28)) + TimeOfDay();
    static const double kQuantities[] = {1, 2, 3, 0.5, 1.25, 10};
    for (int i = Int(0, shape_.maxLines); i > 0; --i) {
      const double price = Kopecks(1, 400);
      const double zprice = Chance(85) ? std::round(price * Int(40, 100)) / 100 : Kopecks(1, 500);
      s.lines.push_back({Int(1, shape_.articles), Int(1, shape_.categories), zprice, price, kQuantities[Int(0, 5)]});
    }
    return s;
  }

 private:
  std::mt19937 rng_;
  ShopShape shape_;
};

// The module's card built from the reference card's rules.
std::unique_ptr<TDiscountItem> ModuleCard(const ref::Card& c) {
  auto card = std::make_unique<TDiscountItem>();
  card->ID = c.id;
  card->PayID = c.payID;
  card->BTime = c.windowBegin;
  card->ETime = c.windowEnd;
  card->AllDay = c.allDay;
  card->Enabled = c.enabled;
  card->AllWeek = c.allWeek;
  card->WeekDays = c.weekDays;
  card->DiscountTarget = static_cast<std::int16_t>(c.target);
  for (const ref::TimeEntry& t : c.times) {
    card->TimeBegin.push_back(t.begin);
    card->TimeEnd.push_back(t.end);
    card->TimeValue.push_back(t.value);
    card->TimeUnit.push_back(t.percent ? kUnitPercent : kUnitRouble);
  }
  for (const ref::ThresholdEntry& t : c.thresholds) {
    card->ThresholdSum.push_back(t.sum);
    card->ThresholdValue.push_back(t.value);
    card->ThresholdUnit.push_back(t.percent ? kUnitPercent : kUnitRouble);
  }
  for (const ref::Period& p : c.periods) {
    card->PeriodBegin.push_back(p.begin);
    card->PeriodEnd.push_back(p.end);
    card->PeriodEnabled.push_back(p.on);
  }
  for (std::int32_t id : c.categories) card->Categories.Add(std::to_string(id));
  for (std::int32_t id : c.goods) card->Goods.Add(std::to_string(id));
  return card;
}

std::size_t BanLinesShown(const test::ScriptedMessageService& messages) {
  if (messages.messages().empty()) return 0;
  const std::string& text = messages.messages().back().text;
  std::size_t lines = 0;
  for (std::size_t p = text.find(". Запрещено с "); p != std::string::npos; p = text.find(". Запрещено с ", p + 1))
    ++lines;
  return lines;
}

// Three payment types with random percentages, in the module's list and
// for the reference.
std::vector<ref::PaymentType> LoadPaymentTypes(RandomShop& shop) {
  std::vector<ref::PaymentType> payments;
  PaymentList().Clear();
  for (std::int32_t id = 1; id <= 3; ++id) {
    payments.push_back({id, shop.Int(0, 200) / 10.0});
    TPaymentRec rec{};
    rec.ID = id;
    rec.Discount = payments.back().discountPercent;
    PaymentList().Add(&rec);
  }
  return payments;
}

// `count` random cards, in the module's discount list and for the reference.
std::vector<ref::Card> LoadCards(RandomShop& shop, int count) {
  std::vector<ref::Card> cards;
  DiscountList().Clear();
  for (int i = count; i > 0; --i) {
    cards.push_back(shop.Card(static_cast<std::int32_t>(cards.size()) + 1));
    DiscountList().Add(ModuleCard(cards.back()));
  }
  return cards;
}

TEST(CalcDiscountModel, AgreesWithTheReferenceOnRandomSales) {
  test::ModuleScope scope;
  test::ScopedClock moment;
  int differences = 0;
  for (unsigned seed = 1; seed <= kSeeds && differences < 10; ++seed) {
    RandomShop shop(seed);
    std::vector<ref::PaymentType> payments = LoadPaymentTypes(shop);
    std::vector<ref::Card> cards = LoadCards(shop, shop.Int(0, 8));
    const ref::Sale sale = shop.Sale();
    const double clock = shop.TimeOfDay() + (shop.Chance(5) ? 59.5 / 86400 : 0);
    const bool floor = shop.Chance(40);
    {
      TSafeIniFile ini(Module().IniFileName);
      ini.WriteBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", floor);
    }
    moment.SetFixed(EncodeDate(2026, 12, 8) + clock);

    host::TSale hostSale;
    for (const ref::Line& l : sale.lines)
      hostSale.lines.push_back({l.goods, l.category, l.zprice, l.price, l.quantity});
    host::TSaleRecord record(hostSale, sale.payID, sale.moment);
    host::TResultRecord out;
    test::ScriptedMessageService messages;
    const double sum = TCalcDiscount().Calculate(record.data(), *out.get());

    const ref::Result expected = ref::Calculate(cards, payments, sale, clock, floor);
    const bool same = sum == expected.sum && std::abs(out.get()->DiscountPercent - expected.discountPercent) < 1e-9 &&
                      BanLinesShown(messages) == static_cast<std::size_t>(expected.banLines);
    if (!same) {
      ++differences;
      ADD_FAILURE() << "seed " << seed << ": sum " << sum << " (reference " << expected.sum << "), percent "
                    << out.get()->DiscountPercent << " (" << expected.discountPercent << "), ban lines "
                    << BanLinesShown(messages) << " (" << expected.banLines << ")";
    }
  }
}

std::int32_t IdOf(const TCalcTrace::TCardRef& card) { return card.found ? card.id : 0; }

// Chain-sized card lists: thousands of cards sharing a few dozen articles
// and categories, so that a line is targeted by hundreds of cards and equal
// discounts are common. Besides the sums, the cards chosen must be the
// reference's: the first of the best, line by line and for the group. Each
// shop's list is loaded once and serves many sales, as at a till.
TEST(CalcDiscountModel, AgreesWithTheReferenceOnLargeCardSets) {
  test::ModuleScope scope;
  test::ScopedClock moment;
  constexpr int kShops = 12;
  constexpr int kSalesPerShop = 250;
  int differences = 0;
  int linesWithCard = 0, groupCards = 0;
  for (unsigned shopSeed = 1; shopSeed <= kShops && differences < 10; ++shopSeed) {
    ShopShape shape;
    shape.categories = 12;
    shape.articles = 60;
    shape.banPercent = shopSeed % 3 == 0 ? 1 : 0;
    shape.maxLines = 12;
    RandomShop shop(100000 + shopSeed, shape);
    std::vector<ref::PaymentType> payments = LoadPaymentTypes(shop);
    std::vector<ref::Card> cards = LoadCards(shop, shop.Int(500, 4000));

    for (int n = 0; n < kSalesPerShop && differences < 10; ++n) {
      // Half a minute off the whole minutes of every window, period and time
      // discount: with thousands of cards some bound always equals the moment,
      // and the rules at an exact bound (checked by the small shops) would
      // then hang on the last bit of the test's own minute arithmetic.
      constexpr double kHalfMinute = 30.0 / 86400;
      ref::Sale sale = shop.Sale();
      sale.moment += kHalfMinute;
      const double clock = shop.TimeOfDay() + kHalfMinute;
      const bool floor = shop.Chance(40);
      {
        TSafeIniFile ini(Module().IniFileName);
        ini.WriteBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", floor);
      }
      moment.SetFixed(EncodeDate(2026, 12, 8) + clock);

      host::TSale hostSale;
      for (const ref::Line& l : sale.lines)
        hostSale.lines.push_back({l.goods, l.category, l.zprice, l.price, l.quantity});
      host::TSaleRecord record(hostSale, sale.payID, sale.moment);
      host::TResultRecord out;
      test::ScriptedMessageService messages;
      TCalcTrace trace;
      const double sum = TCalcDiscount(&trace).Calculate(record.data(), *out.get());

      const ref::Result expected = ref::Calculate(cards, payments, sale, clock, floor);
      std::ostringstream why;
      if (sum != expected.sum || std::abs(out.get()->DiscountPercent - expected.discountPercent) >= 1e-9)
        why << " sum " << sum << " (reference " << expected.sum << ")";
      if (BanLinesShown(messages) != static_cast<std::size_t>(expected.banLines))
        why << " ban lines " << BanLinesShown(messages) << " (" << expected.banLines << ")";
      if (!sale.lines.empty()) {
        if (IdOf(trace.checkCard) != expected.checkCard)
          why << " receipt card " << IdOf(trace.checkCard) << " (" << expected.checkCard << ")";
        if (IdOf(trace.groupCard) != expected.groupCard)
          why << " group card " << IdOf(trace.groupCard) << " (" << expected.groupCard << ")";
        for (std::size_t i = 0; i < sale.lines.size(); ++i) {
          const std::int32_t got = i < trace.lines.size() ? IdOf(trace.lines[i].card) : -1;
          if (got != expected.lineCards[i])
            why << " line " << i + 1 << " card " << got << " (" << expected.lineCards[i] << ")";
        }
      }
      for (std::int32_t id : expected.lineCards) linesWithCard += id != 0;
      groupCards += expected.groupCard != 0;
      if (!why.str().empty()) {
        ++differences;
        ADD_FAILURE() << "shop " << shopSeed << " (" << cards.size() << " cards), sale " << n + 1 << ":" << why.str();
      }
    }
  }
  // The comparison must have had cards to choose between.
  EXPECT_GT(linesWithCard, kShops * kSalesPerShop);
  EXPECT_GT(groupCards, kShops * kSalesPerShop / 2);
}

}  // namespace
}  // namespace selvo
