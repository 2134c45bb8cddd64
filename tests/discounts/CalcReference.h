// A deliberately plain model of the discount calculation, written from the
// shop's rules and sharing nothing with the module's calculation but the
// rounding of money. The randomized comparison runs both on the same sales.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace selvo::reference {

struct TimeEntry {
  double begin, end, value;
  bool percent;  // false: roubles
};
struct ThresholdEntry {
  double sum, value;
  bool percent;
};
struct Period {
  double begin, end;
  bool on;
};

struct Card {
  std::int32_t id = 0;
  std::int32_t payID = 0;
  double windowBegin = 0;
  double windowEnd = 86399.0 / 86400.0;
  bool allDay = true;
  bool enabled = true;
  bool allWeek = true;
  std::uint8_t weekDays = 0;  // bit 0 Monday .. bit 6 Sunday
  int target = 0;             // 0 receipt, 1 chosen goods, else nothing
  std::vector<TimeEntry> times;
  std::vector<ThresholdEntry> thresholds;
  std::vector<Period> periods;
  std::set<std::int32_t> categories;
  std::set<std::int32_t> goods;
};

struct Line {
  std::int32_t goods, category;
  double zprice, price, quantity;
};

struct Sale {
  std::vector<Line> lines;
  std::int32_t payID = 0;
  double moment = 0;  // when the sale happens (card in-effect tests)
};

struct PaymentType {
  std::int32_t id;
  double discountPercent;
};

struct Result {
  double sum = 0;
  double discountPercent = 0;
  int banLines = 0;
  // The cards chosen (0: none): of several equally good cards the first in
  // the list; the group card is the first whose discount in ten-thousandths
  // exceeds the best so far, rounded.
  std::int32_t checkCard = 0;
  std::vector<std::int32_t> lineCards;
  std::int32_t groupCard = 0;
};

// timeOfDay: the clock's time of day at the call (time discounts).
Result Calculate(const std::vector<Card>& cards, const std::vector<PaymentType>& payments, const Sale& sale,
                 double timeOfDay, bool purchaseFloor);

}  // namespace selvo::reference
