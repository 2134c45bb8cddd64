#include "host/session/InProcessCalculation.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "discounts/CalcSnapshot.h"
#include "discounts/DecimalRounding.h"
#include "platform/Clock.h"
#include "platform/FormatSettings.h"
#include "state/SelvoModuleU.h"

namespace selvo::host {
namespace {

// Money as the till shows it: rounded to kopecks, halves away from zero.
std::string Money(double value) { return FloatToStrFixed(RoundMoney(value), 2, ModuleFormatSettings()); }

std::string CardText(const TCalcTrace::TCardRef& card) {
  return "карта \"" + card.name + "\" (ID " + std::to_string(card.id) + ")";
}

}  // namespace

TCalcSettings LoadCalcSettings(TShopDataModule& dataModule) {
  TCalcSettings settings{
      {}, LoadCalcSnapshot(dataModule, ReadCalcOptions(SettingsFileName()), ModuleFormatSettings()), {}};
  TShopDataSet& payments = dataModule.DataSet("Payment");
  TField& id = payments.FieldByName("ID");
  TField& name = payments.FieldByName("Name");
  TField& enabled = payments.FieldByName("Enabled");
  for (payments.First(); !payments.Eof(); payments.Next()) {
    if (id.IsNull()) continue;
    // Switched on as the module's payment list reads it: exactly 1.
    settings.paymentSwitchedOn[id.AsInteger()] = !enabled.IsNull() && enabled.AsInteger() == 1;
    if (!name.IsNull()) settings.paymentNames.emplace_back(id.AsInteger(), name.AsString());
  }
  std::sort(settings.paymentNames.begin(), settings.paymentNames.end());
  return settings;
}

TCalcTrace TraceCalculation(const TCalcSettings& settings, const TDiscountInData& sale) {
  return TraceCalculationAt(settings, sale, Now());
}

TCalcTrace TraceCalculationAt(const TCalcSettings& settings, const TDiscountInData& sale, double now) {
  TCalcTrace trace;
  CalculateDiscount(settings.snapshot, sale, now, &trace);
  return trace;
}

TCalcResult CalculateInProcessAt(const TCalcSettings& settings, const TDiscountInData& sale, double now,
                                 TCalcTrace& trace) {
  return CalculateDiscount(settings.snapshot, sale, now, &trace);
}

bool GaveTheResult(const TCalcTrace& trace, double variantSum) {
  double rounded = RoundMoney(variantSum);
  if (rounded < 0.01) rounded = 0;
  return rounded == trace.result;
}

std::string ExplainText(const TCalcTrace& t, const std::string& paymentName, std::int32_t payID) {
  std::ostringstream s;
  s << "Сумма чека: " << Money(t.total) << ", по закупочным ценам: " << Money(t.zTotal) << "\n";
  s << "Не ниже закупочной стоимости (RSumCanNotBeLowThenZSum): " << (t.purchaseFloor ? "да" : "нет") << "\n";
  s << "1. Вид оплаты";
  if (t.paymentTypeFound)
    s << " \"" << paymentName << "\" (ID " << payID << "), скидка "
      << FloatToStr(t.paymentPercent, ModuleFormatSettings()) << " %";
  else
    s << " с ID " << payID << " не найден: своей скидки нет";
  s << ": " << Money(t.paySum) << "\n";
  s << "2. Скидка на чек: ";
  if (t.checkCard.found)
    s << CardText(t.checkCard) << " даёт " << Money(t.checkDiscount);
  else
    s << "ни одна карта не подходит";
  s << ": " << Money(t.checkSum) << "\n";
  s << "3. По строкам: " << Money(t.goodsSum) << "\n";
  for (std::size_t i = 0; i < t.lines.size(); ++i) {
    const TCalcTrace::TLine& l = t.lines[i];
    s << "   строка " << i + 1 << ": вид оплаты " << Money(l.payDiscount) << ", ";
    if (l.card.found)
      s << CardText(l.card) << " " << (l.banned ? "ЗАПРЕЩАЕТ ПРОДАЖУ" : Money(l.cardDiscount));
    else
      s << "карты нет";
    s << "; остаётся " << Money(l.rest) << "\n";
  }
  s << "4. Группа товаров: ";
  if (t.groupCard.found)
    s << CardText(t.groupCard) << " даёт " << FloatToStr(t.groupDiscount, ModuleFormatSettings());
  else
    s << "ни одна карта не подходит";
  s << ": " << Money(t.groupSum) << "\n";
  const std::pair<double, const char*> variants[] = {{t.paySum, "1 (вид оплаты)"},
                                                     {t.checkSum, "2 (скидка на чек)"},
                                                     {t.goodsSum, "3 (по строкам)"},
                                                     {t.groupSum, "4 (группа товаров)"}};
  s << "Выбрано:";
  bool any = false;
  for (const auto& [sum, name] : variants) {
    if (GaveTheResult(t, sum)) {
      s << (any ? ", " : " вариант ") << name;
      any = true;
    }
  }
  if (!any) s << " наименьшая сумма";
  s << " — к оплате " << Money(t.result) << "\n";
  return s.str();
}

}  // namespace selvo::host
