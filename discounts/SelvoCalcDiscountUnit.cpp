#include "discounts/SelvoCalcDiscountUnit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "discounts/CalcSnapshot.h"
#include "discounts/DecimalRounding.h"
#include "discounts/SelvoDiscountItemsU.h"
#include "platform/Clock.h"
#include "platform/FormatSettings.h"
#include "platform/MessageService.h"
#include "state/SelvoModuleU.h"

namespace selvo {
namespace {

void ResetResult(TDiscountOutData& out) {
  DynArrayRelease(out.Reserved1);
  DynArrayRelease(out.Reserved2);
  std::memset(static_cast<void*>(&out), 0, sizeof out);
}

// Refuses a sale the calculation cannot take, naming the first bad line.
void CheckSale(const TDiscountInData& sale) {
  const std::int32_t lines = DynArrayLength(sale.GoodsIDs);
  const std::pair<const void*, const char*> sequences[] = {{sale.CategoryIDs, "CategoryIDs"},
                                                           {sale.ZPrices, "ZPrices"},
                                                           {sale.Prices, "Prices"},
                                                           {sale.Quantities, "Quantities"}};
  for (const auto& [first, name] : sequences) {
    const std::int32_t length = DynArrayLength(first);
    if (length < lines) {
      throw EInvalidSale("CalcDiscount: в продаже " + std::to_string(lines) + " строк, а " + name +
                         " содержит только " + std::to_string(length) + " (строка " + std::to_string(length + 1) +
                         " не описана)");
    }
  }
  for (std::int32_t i = 0; i < lines; ++i) {
    const std::pair<double, const char*> numbers[] = {
        {sale.ZPrices[i], "закупочная цена"}, {sale.Prices[i], "цена"}, {sale.Quantities[i], "количество"}};
    for (const auto& [value, what] : numbers) {
      if (!std::isfinite(value))
        throw EInvalidSale("CalcDiscount: строка " + std::to_string(i + 1) + ": " + what + " не является числом");
    }
  }
  // Finite prices and quantities can still make an infinite sum, and an
  // infinite sum would come out as a sale for "INF" or for nothing.
  double total = 0, zTotal = 0;
  for (std::int32_t i = 0; i < lines; ++i) {
    const double sum = sale.Prices[i] * sale.Quantities[i], zSum = sale.ZPrices[i] * sale.Quantities[i];
    total += sum;
    zTotal += zSum;
    const char* what = !std::isfinite(sum) || !std::isfinite(zSum) ? "сумма строки" : "сумма чека до этой строки";
    if (!std::isfinite(sum) || !std::isfinite(zSum) || !std::isfinite(total) || !std::isfinite(zTotal))
      throw EInvalidSale("CalcDiscount: строка " + std::to_string(i + 1) + ": " + what + " слишком велика");
  }
}

TCalcTrace::TCardRef CardRef(const TDiscountItem* card) {
  TCalcTrace::TCardRef ref;
  if (card) {
    ref.found = true;
    ref.id = card->ID;
    ref.name = card->DiscountName;
  }
  return ref;
}

std::string BanLine(double quantity, double price, double begin, double end, const TFormatSettings& fs) {
  // The quantity rounded half up (0.125 is 0.13), not as the binary value
  // happens to print; the price as the till shows money.
  return FloatToStrFixed(RoundHalfAwayFromZero(2, quantity), 2, fs) + " x " + CurrencyText(price, fs) +
         ". Запрещено с " + TimeToStr(begin, fs) + " до " + TimeToStr(end, fs) + ".";
}

// Sum over the lines of what is left after the better of the line's best
// goods card and the payment type fraction p; the banned lines' texts go to
// banLines.
double GoodsSum(const TDiscountInData& sale, double p, TCardSelection& cards, bool floor, const TFormatSettings& fs,
                std::vector<std::string>& banLines, TCalcTrace* trace) {
  const std::int32_t lines = DynArrayLength(sale.GoodsIDs);
  double sum = 0;
  for (std::int32_t i = 0; i < lines; ++i) {
    const double price = sale.Prices[i], quantity = sale.Quantities[i], zPrice = sale.ZPrices[i];
    const double payDisc = price * p * quantity;
    const TDiscountItem* card = cards.FindGoodsCard(sale.CategoryIDs[i], sale.GoodsIDs[i], zPrice, price, quantity);
    double cardDisc = 0, banBegin = 0, banEnd = 0;
    bool cardBans = false;
    if (card)
      cardDisc = card->GetDiscountAt(&banBegin, &banEnd, price * quantity, quantity, cards.TimeOfDay(), &cardBans);
    const double best = std::max(payDisc, cardDisc);
    // The ban holds when the card's ban is what the line takes.
    const bool banned = cardBans && best == cardDisc;
    if (banned) banLines.push_back(BanLine(quantity, price, banBegin, banEnd, fs));
    double rest = price * quantity - best;
    if (floor) rest = std::max(rest, zPrice * quantity);
    sum += RoundMoney(rest);
    if (trace) trace->lines.push_back({CardRef(card), payDisc, cardDisc, rest, banned});
  }
  if (trace) trace->banLines = banLines;
  return sum;
}

// The smaller of paySum and the total after the best group discount.
double GroupSum(const TDiscountInData& sale, double total, double paySum, TCardSelection& cards, TCalcTrace* trace) {
  const TDiscountItem* winner = nullptr;
  const double discount = cards.GoodsGroupDiscount(sale, &winner);
  if (trace) {
    trace->groupCard = CardRef(winner);
    trace->groupDiscount = discount;
  }
  return std::min(paySum, RoundMoney(total - discount));
}

void ShowSaleBanWarning(const std::vector<std::string>& banLines) {
  TMessage warning;
  warning.caption = kSaleBanCaption;
  warning.text = SaleBanMessageText(banLines);
  warning.icon = TMsgIcon::Warning;
  warning.buttons = TMsgButtons::OK;
  warning.topmost = true;
  Messages().Show(warning);
}

}  // namespace

std::string SaleBanMessageText(const std::vector<std::string>& banLines) {
  std::string text = "ПРОДАЖА ВРЕМЕННО ЗАПРЕЩЕНА!\r\n\r\nИнформация о суточных периодах запрета:\r\n";
  for (const std::string& line : banLines) text += line + "\r\n";
  return text;
}

TCalcResult CalculateDiscount(const TCalcSnapshot& snapshot, const TDiscountInData& sale, double now,
                              TCalcTrace* trace) {
  const bool floor = snapshot.Options().purchaseFloor;
  if (trace) {
    *trace = TCalcTrace{};
    trace->purchaseFloor = floor;
  }
  TCalcResult result;
  const std::int32_t lines = DynArrayLength(sale.GoodsIDs);
  if (lines == 0) return result;
  CheckSale(sale);

  // A payment type that is not in the list gives no discount of its own: the
  // till must still be able to sell.
  const TPaymentDiscount* payment = snapshot.FindPayment(sale.PayID);
  const double p = payment ? payment->percent / 100 : 0;

  double total = 0, zTotal = 0;
  for (std::int32_t i = 0; i < lines; ++i) {
    total += RoundMoney(sale.Prices[i] * sale.Quantities[i]);
    zTotal += RoundMoney(sale.ZPrices[i] * sale.Quantities[i]);
  }

  double paySum = RoundMoney((1 - p) * total);
  if (floor) paySum = std::max(paySum, zTotal);

  // One view of the list for the whole sale: each card's in-effect test runs
  // once, at the sale's moment; the time discounts at now's time of day.
  TCardSelection cards(snapshot.Cards(), sale.PayID, sale.SaleTime, DiscountTimeOfDayAt(now), floor);
  const TDiscountItem* checkCard = cards.FindCheckCard(total);
  const double checkDiscount = checkCard ? checkCard->GetDiscountAt(nullptr, nullptr, total, 1, cards.TimeOfDay()) : 0;
  double checkSum = total - checkDiscount;
  if (floor) checkSum = std::max(checkSum, zTotal);

  const double m = std::min(checkSum, paySum);
  const double goodsSum = GoodsSum(sale, p, cards, floor, snapshot.Formats(), result.banLines, trace);
  const double groupSum = GroupSum(sale, total, paySum, cards, trace);

  double r = RoundMoney(std::min(goodsSum, m));
  r = RoundMoney(std::min(groupSum, r));
  if (r < 0.01) r = 0;
  result.sum = r;
  if (total > 0) result.discountPercent = (total - r) / total * 100;

  if (trace) {
    trace->paymentTypeFound = payment != nullptr;
    trace->paymentPercent = payment ? payment->percent : 0;
    trace->total = total;
    trace->zTotal = zTotal;
    trace->paySum = paySum;
    trace->checkCard = CardRef(checkCard);
    trace->checkDiscount = checkDiscount;
    trace->checkSum = checkSum;
    trace->goodsSum = goodsSum;
    trace->groupSum = groupSum;
    trace->result = r;
  }
  return result;
}

double TCalcDiscount::Calculate(const TDiscountInData& sale, TDiscountOutData& out) {
  const TCalcOptions options = ReadCalcOptions(Module().IniFileName);
  // The module keeps the value the last sale read; the discount list's own
  // selections (FindGoodsCard) go by it.
  Module().RSumCanNotBeLowThenZSum = options.purchaseFloor;
  ResetResult(out);
  const TCalcResult result = CalculateDiscount(ModuleCalcSnapshot(options), sale, Now(), trace_);
  // Shown once the sums are known, which the cashier cannot tell from
  // showing it after the goods pass: what follows that pass cannot refuse a
  // sale that has been checked.
  if (!result.banLines.empty()) ShowSaleBanWarning(result.banLines);
  out.DiscountPercent = result.discountPercent;
  return result.sum;
}

double TCalcDiscount::SumAfterGoodsDiscounts(const TDiscountInData& sale, double p, double moment) {
  const bool floor = Module().RSumCanNotBeLowThenZSum;
  TCardSelection cards(DiscountList(), sale.PayID, moment, DiscountTimeOfDay(), floor);
  std::vector<std::string> banLines;
  const double sum = GoodsSum(sale, p, cards, floor, ModuleFormatSettings(), banLines, trace_);
  if (!banLines.empty()) ShowSaleBanWarning(banLines);
  return sum;
}

double TCalcDiscount::SumAfterGroupDiscount(const TDiscountInData& sale, double total, double paySum, double moment) {
  TCardSelection cards(DiscountList(), sale.PayID, moment);
  return GroupSum(sale, total, paySum, cards, trace_);
}

}  // namespace selvo
