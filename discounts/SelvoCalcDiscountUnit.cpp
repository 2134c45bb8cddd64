#include "discounts/SelvoCalcDiscountUnit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "discounts/DecimalRounding.h"
#include "discounts/SelvoDiscountItemsU.h"
#include "interface/SelvoModuleU.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/Clock.h"
#include "platform/FormatSettings.h"
#include "platform/MessageService.h"
#include "platform/ProcessLock.h"
#include "support/SafeIniFiles.h"

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

// The settings file's lock stays open from one sale to the next. Opening it
// for each sale, and removing its lock file again when that sale's object
// went, cost more than the read itself; the lock is still taken for every
// read. Closed when the module unloads, or when the file's name changes.
void KeepSettingsLockOpen(const std::string& fileName) {
  static std::string keptFor;
  static std::unique_ptr<TProcessLock> keeper;
  if (keeper && keptFor == fileName) return;
  keeper = std::make_unique<TProcessLock>(TSafeIniFile::LockName(fileName));
  keptFor = fileName;
}

// The read and the object's end under one hold of the lock: each would
// otherwise take and release it on its own, and every sale would pay twice.
bool ReadPurchaseFloorSetting() {
  KeepSettingsLockOpen(Module().IniFileName);
  const TSafeIniFile::THeldLock held(Module().IniFileName);
  TSafeIniFile ini(Module().IniFileName);
  return ini.ReadBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", false);
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

std::string BanLine(double quantity, double price, double begin, double end) {
  const TFormatSettings& fs = ModuleFormatSettings();
  // The quantity rounded half up (0.125 is 0.13), not as the binary value
  // happens to print; the price as the till shows money.
  return FloatToStrFixed(RoundHalfAwayFromZero(2, quantity), 2, fs) + " x " + CurrencyText(price, fs) +
         ". Запрещено с " + TimeToStr(begin, fs) + " до " + TimeToStr(end, fs) + ".";
}

}  // namespace

std::string SaleBanMessageText(const std::vector<std::string>& banLines) {
  std::string text = "ПРОДАЖА ВРЕМЕННО ЗАПРЕЩЕНА!\r\n\r\nИнформация о суточных периодах запрета:\r\n";
  for (const std::string& line : banLines) text += line + "\r\n";
  return text;
}

double TCalcDiscount::Calculate(const TDiscountInData& sale, TDiscountOutData& out) {
  const bool floor = ReadPurchaseFloorSetting();
  Module().RSumCanNotBeLowThenZSum = floor;
  ResetResult(out);
  if (trace_) *trace_ = TCalcTrace{};
  if (trace_) trace_->purchaseFloor = floor;

  const std::int32_t lines = DynArrayLength(sale.GoodsIDs);
  if (lines == 0) return 0;
  CheckSale(sale);

  // A payment type that is not in the list gives no discount of its own: the
  // till must still be able to sell.
  const TPaymentRec* payment = PaymentList().FindByID(sale.PayID);
  const double p = payment ? payment->Discount / 100 : 0;

  double total = 0, zTotal = 0;
  for (std::int32_t i = 0; i < lines; ++i) {
    total += RoundMoney(sale.Prices[i] * sale.Quantities[i]);
    zTotal += RoundMoney(sale.ZPrices[i] * sale.Quantities[i]);
  }

  double paySum = RoundMoney((1 - p) * total);
  if (floor) paySum = std::max(paySum, zTotal);

  // One view of the list for the whole sale: each card's in-effect test runs
  // once, and the clock is read once.
  TCardSelection cards(DiscountList(), sale.PayID, sale.SaleTime);
  const TDiscountItem* checkCard = cards.FindCheckCard(total);
  const double checkDiscount = checkCard ? checkCard->GetDiscountAt(nullptr, nullptr, total, 1, cards.TimeOfDay()) : 0;
  double checkSum = total - checkDiscount;
  if (floor) checkSum = std::max(checkSum, zTotal);

  const double m = std::min(checkSum, paySum);
  const double goodsSum = SumAfterGoodsDiscounts(sale, p, cards);
  const double groupSum = SumAfterGroupDiscount(sale, total, paySum, cards);

  double r = RoundMoney(std::min(goodsSum, m));
  r = RoundMoney(std::min(groupSum, r));
  if (r < 0.01) r = 0;
  if (total > 0) out.DiscountPercent = (total - r) / total * 100;

  if (trace_) {
    trace_->paymentTypeFound = payment != nullptr;
    trace_->paymentPercent = payment ? payment->Discount : 0;
    trace_->total = total;
    trace_->zTotal = zTotal;
    trace_->paySum = paySum;
    trace_->checkCard = CardRef(checkCard);
    trace_->checkDiscount = checkDiscount;
    trace_->checkSum = checkSum;
    trace_->goodsSum = goodsSum;
    trace_->groupSum = groupSum;
    trace_->result = r;
  }
  return r;
}

double TCalcDiscount::SumAfterGoodsDiscounts(const TDiscountInData& sale, double p, double moment) {
  TCardSelection cards(DiscountList(), sale.PayID, moment);
  return SumAfterGoodsDiscounts(sale, p, cards);
}

double TCalcDiscount::SumAfterGoodsDiscounts(const TDiscountInData& sale, double p, TCardSelection& cards) {
  const bool floor = Module().RSumCanNotBeLowThenZSum;
  const std::int32_t lines = DynArrayLength(sale.GoodsIDs);
  double sum = 0;
  std::vector<std::string> banLines;
  for (std::int32_t i = 0; i < lines; ++i) {
    const double price = sale.Prices[i], quantity = sale.Quantities[i], zPrice = sale.ZPrices[i];
    const double payDisc = price * p * quantity;
    const TDiscountItem* card = cards.FindGoodsCard(sale.CategoryIDs[i], sale.GoodsIDs[i], zPrice, price, quantity);
    double cardDisc = 0, banBegin = 0, banEnd = 0;
    if (card) cardDisc = card->GetDiscountAt(&banBegin, &banEnd, price * quantity, quantity, cards.TimeOfDay());
    const double best = std::max(payDisc, cardDisc);
    const bool banned = card && best == SaleBanAmount;
    if (banned) banLines.push_back(BanLine(quantity, price, banBegin, banEnd));
    double rest = price * quantity - best;
    if (floor) rest = std::max(rest, zPrice * quantity);
    sum += RoundMoney(rest);
    if (trace_) trace_->lines.push_back({CardRef(card), payDisc, cardDisc, rest, banned});
  }
  if (!banLines.empty()) {
    TMessage warning;
    warning.caption = kSaleBanCaption;
    warning.text = SaleBanMessageText(banLines);
    warning.icon = TMsgIcon::Warning;
    warning.buttons = TMsgButtons::OK;
    warning.topmost = true;
    Messages().Show(warning);
  }
  if (trace_) trace_->banLines = banLines;
  return sum;
}

double TCalcDiscount::SumAfterGroupDiscount(const TDiscountInData& sale, double total, double paySum, double moment) {
  TCardSelection cards(DiscountList(), sale.PayID, moment);
  return SumAfterGroupDiscount(sale, total, paySum, cards);
}

double TCalcDiscount::SumAfterGroupDiscount(const TDiscountInData& sale, double total, double paySum,
                                            TCardSelection& cards) {
  const TDiscountItem* winner = nullptr;
  const double discount = cards.GoodsGroupDiscount(sale, &winner);
  if (trace_) {
    trace_->groupCard = CardRef(winner);
    trace_->groupDiscount = discount;
  }
  return std::min(paySum, RoundMoney(total - discount));
}

}  // namespace selvo
