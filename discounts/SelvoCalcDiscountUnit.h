// The automatic discount of one sale: four alternative sums to pay (the
// payment type's own percentage, the best receipt card, the best goods card
// or payment percentage line by line, the best goods card over all the lines
// it targets); the smallest wins, rounded to kopecks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interface/SelvoPaymentsTypes.h"

namespace selvo {

class TCardSelection;
class TDiscountItem;

// What one calculation considered, for explaining a result to a person.
// Filled only when a trace is handed to TCalcDiscount.
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

class TCalcDiscount {
 public:
  explicit TCalcDiscount(TCalcTrace* trace = nullptr) : trace_(trace) {}

  // The sum to pay for the sale, rounded to kopecks and never below 0. Reads
  // RSumCanNotBeLowThenZSum from the settings file first, then resets the
  // result record (releasing its sequences) and writes DiscountPercent into
  // it. A sale whose line sequences are shorter than GoodsIDs, or whose
  // prices, purchase prices or quantities are not finite, is refused with
  // EInvalidSale naming the line, before anything is computed.
  double Calculate(const TDiscountInData& sale, TDiscountOutData& out);

  // Sum over the lines of what is left after the better of the line's best
  // goods card and the payment type fraction p. Shows the sale-ban warning
  // when a card bans a line now.
  double SumAfterGoodsDiscounts(const TDiscountInData& sale, double p, double moment);
  // The smaller of paySum and the total after the best group discount.
  double SumAfterGroupDiscount(const TDiscountInData& sale, double total, double paySum, double moment);

 private:
  // The same on the calculation's one view of the discount list.
  double SumAfterGoodsDiscounts(const TDiscountInData& sale, double p, TCardSelection& cards);
  double SumAfterGroupDiscount(const TDiscountInData& sale, double total, double paySum, TCardSelection& cards);

  TCalcTrace* trace_;
};

// The warning of banned lines: "ПРОДАЖА ВРЕМЕННО ЗАПРЕЩЕНА!..." and one line
// per banned receipt line.
std::string SaleBanMessageText(const std::vector<std::string>& banLines);
inline constexpr const char* kSaleBanCaption = "Продажа товара запрещена!";

}  // namespace selvo
