#include "tests/discounts/CalcReference.h"

#include <algorithm>
#include <cmath>

#include "discounts/DecimalRounding.h"

namespace selvo::reference {
namespace {

constexpr double kBan = 10000000.0;

// Milliseconds of a day-based value, the unit the rules speak in.
long long Millis(double dayValue) { return std::llround(dayValue * 86400000.0); }

bool InEffect(const Card& c, double moment) {
  if (!c.enabled) return false;
  const long long msOfDay = Millis(moment) % 86400000;
  if (!c.allDay && (msOfDay < Millis(c.windowBegin) || msOfDay > Millis(c.windowEnd))) return false;
  if (!c.allWeek) {
    // Day 0 (30 December 1899) was a Saturday: Monday-based index 5.
    const long long day = Millis(moment) / 86400000;
    const int weekday = static_cast<int>((day + 5) % 7);
    if (!(c.weekDays & (1 << weekday))) return false;
  }
  if (c.periods.empty()) return true;
  for (const Period& p : c.periods)
    if (p.on && p.begin <= moment && moment <= p.end) return true;
  return false;
}

// The card's discount on an amount: the highest threshold reached, or a
// larger time discount in effect now.
double CardDiscount(const Card& c, double amount, double quantity, double timeOfDay) {
  double result = 0;
  double bestSum = -1;
  for (const ThresholdEntry& t : c.thresholds) {
    if (amount >= t.sum && t.sum > bestSum) {
      bestSum = t.sum;
      if (t.percent)
        result = t.value / 100 * amount;
      else if (quantity > 0 && t.sum != 0)
        result = amount / t.sum * t.value;
      else
        result = t.value;  // a zero threshold in roubles gives its amount as it stands
    }
  }
  // The last second of the day counts as 23:59:59 sharp.
  long long now = Millis(timeOfDay);
  if (now >= 86399000) now = 86399000;
  for (const TimeEntry& t : c.times) {
    if (Millis(t.begin) <= now && now <= Millis(t.end)) {
      const double v = t.percent ? t.value / 100 * amount : t.value;
      result = std::max(result, v);
    }
  }
  return result;
}

bool Targets(const Card& c, const Line& line) {
  return c.categories.count(line.category) > 0 || c.goods.count(line.goods) > 0;
}

}  // namespace

Result Calculate(const std::vector<Card>& cards, const std::vector<PaymentType>& payments, const Sale& sale,
                 double timeOfDay, bool floor) {
  Result r;
  if (sale.lines.empty()) return r;

  double p = 0;  // a payment type that is not in the list gives no discount
  for (const PaymentType& pt : payments) {
    if (pt.id == sale.payID) {
      p = pt.discountPercent / 100;
      break;
    }
  }

  double total = 0, ztotal = 0;
  for (const Line& l : sale.lines) {
    total += RoundMoney(l.price * l.quantity);
    ztotal += RoundMoney(l.zprice * l.quantity);
  }

  // 1. the payment type's own percentage
  double paySum = RoundMoney((1 - p) * total);
  if (floor) paySum = std::max(paySum, ztotal);

  // 2. the best receipt card
  double bestCheck = 0;
  for (const Card& c : cards) {
    if (c.payID != sale.payID || c.target != 0 || !InEffect(c, sale.moment)) continue;
    const double d = CardDiscount(c, total, 1, timeOfDay);
    if (d > bestCheck) r.checkCard = c.id;
    bestCheck = std::max(bestCheck, d);
  }
  double checkSum = total - bestCheck;
  if (floor) checkSum = std::max(checkSum, ztotal);

  // 3. line by line: the best goods card or the payment percentage
  double goodsSum = 0;
  for (const Line& l : sale.lines) {
    const double lineSum = l.price * l.quantity;
    double cardDisc = 0;
    std::int32_t lineCard = 0;
    for (const Card& c : cards) {
      if (c.payID != sale.payID || c.target != 1 || !InEffect(c, sale.moment) || !Targets(c, l)) continue;
      double d = CardDiscount(c, lineSum, l.quantity, timeOfDay);
      if (floor && d != kBan && l.zprice * l.quantity > lineSum - d) d = 0;
      if (d > cardDisc) lineCard = c.id;
      cardDisc = std::max(cardDisc, d);
    }
    r.lineCards.push_back(lineCard);
    const double payDisc = l.price * p * l.quantity;
    const double best = std::max(payDisc, cardDisc);
    if (cardDisc > 0 && best == kBan) ++r.banLines;
    double rest = lineSum - best;
    if (floor) rest = std::max(rest, l.zprice * l.quantity);
    goodsSum += RoundMoney(rest);
  }

  // 4. the best goods card over all the lines it targets (no purchase floor)
  double bestGroup = 0;
  double bestGroupCount = 0;  // ten-thousandths, rounded
  for (const Card& c : cards) {
    if (c.payID != sale.payID || c.target != 1 || !InEffect(c, sale.moment)) continue;
    double s = 0;
    for (const Line& l : sale.lines)
      if (Targets(c, l)) s += l.price * l.quantity;
    if (s <= 0) continue;
    const double scaled = CardDiscount(c, s, 1, timeOfDay) * 10000;
    if (scaled > bestGroupCount) {
      r.groupCard = c.id;
      bestGroupCount = std::nearbyint(scaled);
    }
    bestGroup = std::max(bestGroup, std::nearbyint(scaled) / 10000);
  }
  const double groupSum = std::min(paySum, RoundMoney(total - bestGroup));

  double result = RoundMoney(std::min(goodsSum, std::min(checkSum, paySum)));
  result = RoundMoney(std::min(groupSum, result));
  if (result < 0.01) result = 0;
  r.sum = result;
  if (total > 0) r.discountPercent = (total - result) / total * 100;
  return r;
}

}  // namespace selvo::reference
