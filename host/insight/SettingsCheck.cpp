#include "host/insight/SettingsCheck.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <set>

#include "discounts/DiscountListTexts.h"
#include "discounts/SelvoDiscountItemsU.h"
#include "host/shopdb/ShopSchema.h"
#include "platform/DateUtils.h"

namespace selvo::host {
namespace {

std::string DateText(double moment) {
  const TDateParts d = DecodeDate(moment);
  char text[16];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d", d.day, d.month, d.year);
  return text;
}

std::string TimeText(double time) {
  const TTimeParts t = DecodeTime(time);
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", t.hour, t.minute);
  return text;
}

std::size_t Periods(const TDiscountItem& c) {
  return std::min({c.PeriodBegin.size(), c.PeriodEnd.size(), c.PeriodEnabled.size()});
}
bool HasPeriods(const TDiscountItem& c) {
  return !c.PeriodBegin.empty() || !c.PeriodEnd.empty() || !c.PeriodEnabled.empty();
}
std::size_t Thresholds(const TDiscountItem& c) {
  return std::min({c.ThresholdSum.size(), c.ThresholdValue.size(), c.ThresholdUnit.size()});
}
std::size_t TimeDiscounts(const TDiscountItem& c) {
  return std::min({c.TimeBegin.size(), c.TimeEnd.size(), c.TimeValue.size(), c.TimeUnit.size()});
}

// The percentage the card's thresholds give at a positive amount, as the
// calculation's threshold pass picks it: the highest threshold reached, the
// first of equal ones.
double RateAt(const TDiscountItem& c, double amount) {
  double best = -1, rate = 0;
  for (std::size_t i = 0; i < Thresholds(c); ++i) {
    const double sum = c.ThresholdSum[i];
    if (!(amount >= sum && sum > best)) continue;
    best = sum;
    rate = c.ThresholdValue[i];
  }
  return rate;
}

bool OnlyPercentThresholds(const TDiscountItem& c) {
  for (std::size_t i = 0; i < Thresholds(c); ++i)
    if (c.ThresholdUnit[i] != kUnitPercent) return false;
  return TimeDiscounts(c) == 0;
}

// Amounts above 0 at which both rate steps are sampled: each threshold and a
// point below the lowest; the rates are constant between them. (At amounts
// of 0 and below no card gives anything above 0, so none is chosen.)
std::vector<double> SamplePoints(const TDiscountItem& a, const TDiscountItem& b) {
  std::set<double> points;
  for (const TDiscountItem* c : {&a, &b})
    for (std::size_t i = 0; i < Thresholds(*c); ++i)
      if (c->ThresholdSum[i] > 0) points.insert(c->ThresholdSum[i]);
  points.insert(points.empty() ? 1.0 : *points.begin() / 2);
  return {points.begin(), points.end()};
}

// Whenever `b` is in effect, so is `a`.
bool InEffectWhenever(const TDiscountItem& a, const TDiscountItem& b) {
  if (!a.Enabled || !b.Enabled) return false;
  if (!a.AllDay && (b.AllDay || a.BTime > b.BTime || b.ETime > a.ETime)) return false;
  if (!a.AllWeek && (b.AllWeek || (b.WeekDays & ~a.WeekDays & 0x7f) != 0)) return false;
  if (!HasPeriods(a)) return true;
  if (!HasPeriods(b)) return false;
  for (std::size_t i = 0; i < Periods(b); ++i) {
    if (!b.PeriodEnabled[i]) continue;
    bool covered = false;
    for (std::size_t j = 0; j < Periods(a) && !covered; ++j)
      covered = a.PeriodEnabled[j] && a.PeriodBegin[j] <= b.PeriodBegin[i] && b.PeriodEnd[i] <= a.PeriodEnd[j];
    if (!covered) return false;
  }
  return true;
}

// `a`, earlier in the list, is chosen wherever `b` could be: see the header.
// Only receipt cards are compared. Goods cards are chosen for the group of
// their lines as well, and that choice compares each card's discount with
// the best one rounded to ten-thousandths: a later card that gives a little
// less can win it, so no goods card is certain never to win.
bool AlwaysBeats(const TDiscountItem& a, const TDiscountItem& b) {
  if (a.PayID != b.PayID || a.DiscountTarget != 0 || b.DiscountTarget != 0) return false;
  if (!OnlyPercentThresholds(a) || !OnlyPercentThresholds(b) || !InEffectWhenever(a, b)) return false;
  for (double x : SamplePoints(a, b))
    if (RateAt(a, x) < RateAt(b, x)) return false;
  return true;
}

// Every time of day at which one of the card's sale bans holds.
bool BansAllDay(const TDiscountItem& c) {
  std::vector<std::pair<double, double>> bans;
  for (std::size_t i = 0; i < TimeDiscounts(c); ++i)
    if (IsSaleBan(c.TimeValue[i], c.TimeUnit[i])) bans.emplace_back(c.TimeBegin[i], c.TimeEnd[i]);
  std::sort(bans.begin(), bans.end());
  double covered = 0;  // every time before this is banned
  constexpr double kSecond = 1.0 / 86400;
  for (const auto& [begin, end] : bans) {
    if (begin > covered + kSecond / 2) break;
    covered = std::max(covered, end + kSecond);
  }
  return !bans.empty() && covered > kLastSecondOfDay;
}

std::string TargetList(const TDiscountItem& c) {
  std::string list;
  c.Goods.ForEachText([&](std::string_view t) { list += (list.empty() ? "товар " : ", товар ") + std::string(t); });
  c.Categories.ForEachText(
      [&](std::string_view t) { list += (list.empty() ? "категория " : ", категория ") + std::string(t); });
  return list;
}

}  // namespace

const char* FindingKindName(TFindingKind kind) {
  switch (kind) {
    case TFindingKind::NeverApplies: return "never_applies";
    case TFindingKind::PartlyDead: return "partly_dead";
    case TFindingKind::NeverWins: return "never_wins";
    case TFindingKind::CannotBeSold: return "cannot_be_sold";
  }
  return "?";
}

void RequireShopTables(TShopDataModule& dataModule) {
  for (const std::string& table : ShopTableNames())
    if (!dataModule.FindComponent(table))
      throw Exception("в базе данных магазина \"" + dataModule.Describe() + "\" нет таблицы " + table +
                      ": настройки проверить нельзя");
}

TShopFacts ReadShopFacts(TShopDataModule& dataModule) {
  TShopFacts facts;
  auto read = [&](const char* table, std::initializer_list<const char*> columns, auto&& take) {
    TDataSet* ds = dataModule.FindComponent(table);
    if (!ds)
      throw Exception(std::string("в базе данных магазина нет таблицы ") + table + ": настройки проверить нельзя");
    for (const char* column : columns)
      if (!ds->FindField(column))
        throw Exception(std::string("в таблице ") + table + " базы данных магазина нет поля " + column +
                        ": настройки проверить нельзя");
    for (ds->First(); !ds->Eof(); ds->Next()) take(*ds);
  };
  read("Payment", {"ID", "Enabled"}, [&](TDataSet& ds) {
    const TField& enabled = ds.FieldByName("Enabled");
    facts.payments.emplace_back(ds.FieldByName("ID").AsInteger(), !enabled.IsNull() && enabled.AsInteger() == 1);
  });
  read("Goods", {"ID_Goods"}, [&](TDataSet& ds) { facts.goods.push_back(ds.FieldByName("ID_Goods").AsInteger()); });
  read("KeyTovar", {"ID_Category"},
       [&](TDataSet& ds) { facts.categories.push_back(ds.FieldByName("ID_Category").AsInteger()); });
  return facts;
}

std::vector<TFinding> CheckSettings(const TCalcSettings& settings, const TShopFacts& shop, double moment) {
  std::vector<TFinding> findings;
  const TDiscountList& list = settings.snapshot.Cards();
  std::vector<const TDiscountItem*> cards;
  for (std::int32_t i = 0; i < list.Count(); ++i) cards.push_back(list.GetItem(i));
  const std::set<std::int32_t> goods(shop.goods.begin(), shop.goods.end());
  const std::set<std::int32_t> categories(shop.categories.begin(), shop.categories.end());

  for (std::size_t position = 0; position < cards.size(); ++position) {
    const TDiscountItem& c = *cards[position];
    if (!c.Enabled) continue;  // switched off on purpose
    auto report = [&](TFindingKind kind, std::string reason, std::int32_t winner = 0) {
      findings.push_back({kind, c.ID, c.DiscountName, std::move(reason), winner});
    };
    std::vector<std::string> never;
    const auto payment =
        std::find_if(shop.payments.begin(), shop.payments.end(), [&](const auto& p) { return p.first == c.PayID; });
    if (payment == shop.payments.end())
      never.push_back("вида оплаты с ID " + std::to_string(c.PayID) + " нет в магазине");
    else if (!payment->second)
      never.push_back("вид оплаты с ID " + std::to_string(c.PayID) + " выключен");
    if (c.DiscountTarget != 0 && c.DiscountTarget != 1) never.push_back("карта не действует ни на чек, ни на товары");
    if (!c.AllWeek && (c.WeekDays & 0x7f) == 0)
      never.push_back("выбраны «Выборочно» дни недели, но ни один не отмечен");
    if (!c.AllDay && c.BTime > c.ETime)
      never.push_back("время действия в течение дня пусто (с " + TimeText(c.BTime) + " по " + TimeText(c.ETime) + ")");
    if (HasPeriods(c)) {
      bool ahead = false, anyEnabled = false;
      for (std::size_t i = 0; i < Periods(c); ++i) {
        anyEnabled = anyEnabled || c.PeriodEnabled[i];
        ahead = ahead || (c.PeriodEnabled[i] && c.PeriodEnd[i] >= moment);
      }
      if (!anyEnabled)
        never.push_back("ни один период действия не включён");
      else if (!ahead)
        never.push_back("все периоды действия закончились до " + DateText(moment));
    }
    if (c.DiscountTarget == 1) {
      if (c.Goods.Count() == 0 && c.Categories.Count() == 0) {
        never.push_back("карта на товары, но товары и категории не выбраны");
      } else {
        bool known = false;
        auto check = [&](const std::set<std::int32_t>& ids) {
          return [&](std::string_view t) {
            try {
              known = known || ids.count(std::stoi(std::string(t))) != 0;
            } catch (const std::exception&) {
            }
          };
        };
        c.Goods.ForEachText(check(goods));
        c.Categories.ForEachText(check(categories));
        if (!known) never.push_back("ни одного из её товаров и категорий больше нет в магазине");
      }
    }
    for (const std::string& why : never) report(TFindingKind::NeverApplies, "больше никогда не применится: " + why);
    if (!never.empty()) continue;

    for (std::size_t i = 0; i < TimeDiscounts(c); ++i) {
      const bool empty = c.TimeBegin[i] > c.TimeEnd[i];
      const bool outside = !c.AllDay && (c.TimeEnd[i] < c.BTime || c.TimeBegin[i] > c.ETime);
      if (empty || outside)
        report(TFindingKind::PartlyDead,
               "скидка по времени с " + TimeText(c.TimeBegin[i]) + " по " + TimeText(c.TimeEnd[i]) +
                   " никогда не действует: " + (empty ? "её начало позже конца" : "она вне времени действия карты"));
    }
    for (std::size_t i = 0; i < Thresholds(c); ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (c.ThresholdSum[j] == c.ThresholdSum[i]) {
          report(TFindingKind::PartlyDead,
                 "порог " + ListNumberText(c.ThresholdSum[i]) + " указан дважды: действует только первый");
          break;
        }
    if (c.DiscountTarget == 1 && c.AllDay && BansAllDay(c))
      report(TFindingKind::CannotBeSold, "запрет продажи на весь день: " + TargetList(c) +
                                             (c.AllWeek && !HasPeriods(c) ? "" : " (в дни действия карты)"));
    for (std::size_t earlier = 0; earlier < position; ++earlier) {
      const TDiscountItem& a = *cards[earlier];
      if (!AlwaysBeats(a, c)) continue;
      report(TFindingKind::NeverWins,
             "никогда не выигрывает: карта " + std::to_string(a.ID) + " «" + a.DiscountName +
                 "» действует всегда, когда действует эта, на то же, и даёт не меньше при любой сумме",
             a.ID);
      break;
    }
  }
  return findings;
}

}  // namespace selvo::host
