// The automatic discount of one sale: four alternative sums to pay (the
// payment type's own percentage, the best receipt card, the best goods card
// or payment percentage line by line, the best goods card over all the lines
// it targets); the smallest wins, rounded to kopecks.
//
// CalculateDiscount is the calculation itself, over an explicit snapshot of
// what it reads (discounts/CalcSnapshot.h). TCalcDiscount runs it for the
// module's export on the module's lists, settings file and clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "selvo/SelvoPaymentsTypes.h"

namespace selvo {

class TCalcSnapshot;

// What one calculation considered, for explaining a result to a person.
// Filled only when a trace is handed to the calculation.
struct TCalcTrace {
  struct TCardRef {
    bool found = false;
    std::int32_t id = 0;
    std::string name;
  };
  struct TLine {
    TCardRef card;            // the best goods card of the line
    double payDiscount = 0;   // the payment type's percentage on the line
    double cardDiscount = 0;  // what the card gives on the line
    double rest = 0;          // the line's sum after the better of the two
    bool banned = false;
  };
  bool purchaseFloor = false;  // RSumCanNotBeLowThenZSum as read for this sale
  bool paymentTypeFound = false;
  double paymentPercent = 0;
  double total = 0;
  double zTotal = 0;
  double paySum = 0;
  TCardRef checkCard;
  double checkDiscount = 0;
  double checkSum = 0;
  std::vector<TLine> lines;
  double goodsSum = 0;
  TCardRef groupCard;
  double groupDiscount = 0;
  double groupSum = 0;
  std::vector<std::string> banLines;
  double result = 0;
};

struct TCalcResult {
  double sum = 0;  // to pay, rounded to kopecks, never below 0
  // In percent of the undiscounted receipt sum; 0 when that sum is not above 0.
  double discountPercent = 0;
  // One text per line that a sale ban covers now, for the cashier's warning
  // (SaleBanMessageText); empty as a rule.
  std::vector<std::string> banLines;
};

// The calculation of one sale over a snapshot. `now` stands for the clock at
// the time of the call: the cards' time discounts are matched against its
// time of day, while the in-effect tests of the cards use the sale's
// SaleTime. Reads nothing but its arguments: no module state, clock, settings
// file or format settings, and shows no message; the trace, when given, is
// overwritten. Several threads may calculate over one snapshot at once, each
// with a trace of its own. A sale whose line sequences are shorter than
// GoodsIDs, or whose prices, purchase prices or quantities are not finite, is
// refused with EInvalidSale naming the line, before anything is computed.
TCalcResult CalculateDiscount(const TCalcSnapshot& snapshot, const TDiscountInData& sale, double now,
                              TCalcTrace* trace = nullptr);

// The calculation as the module's export runs it, once per sale, on the
// module's loaded lists.
class TCalcDiscount {
 public:
  explicit TCalcDiscount(TCalcTrace* trace = nullptr) : trace_(trace) {}

  // The sum to pay for the sale, rounded to kopecks and never below 0. Reads
  // RSumCanNotBeLowThenZSum from the settings file first and keeps it in the
  // module state, then resets the result record (releasing its sequences),
  // calculates over a snapshot of the module's lists at the module clock's
  // time, shows the sale-ban warning when a card bans a line now, and writes
  // DiscountPercent into the record. Errors as CalculateDiscount raises them;
  // the record has been reset by then.
  double Calculate(const TDiscountInData& sale, TDiscountOutData& out);

  // On the module's lists, with RSumCanNotBeLowThenZSum as the module state
  // holds it and the module clock's time of day:
  // the sum over the lines of what is left after the better of the line's
  // best goods card and the payment type fraction p; shows the sale-ban
  // warning when a card bans a line now.
  double SumAfterGoodsDiscounts(const TDiscountInData& sale, double p, double moment);
  // The smaller of paySum and the total after the best group discount.
  double SumAfterGroupDiscount(const TDiscountInData& sale, double total, double paySum, double moment);

 private:
  TCalcTrace* trace_;
};

// The warning of banned lines: "ПРОДАЖА ВРЕМЕННО ЗАПРЕЩЕНА!..." and one line
// per banned receipt line.
std::string SaleBanMessageText(const std::vector<std::string>& banLines);
inline constexpr const char* kSaleBanCaption = "Продажа товара запрещена!";

}  // namespace selvo
