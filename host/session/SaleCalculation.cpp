#include "host/session/SaleCalculation.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "host/session/HostSession.h"
#include "platform/Clock.h"
#include "platform/TextCodec.h"

namespace selvo::host {

// The payment type of that name. The list's records hold only the first 20
// characters of a name, so the name is looked up among the database's full
// names: an exact match first (letter case ignored), else the one name that
// begins with it; a beginning that several names share is refused.
std::pair<std::int32_t, std::string> PaymentByName(const TCalcSettings& settings, const std::string& wanted) {
  std::vector<std::pair<std::int32_t, std::string>> exact, begins;
  for (const auto& [id, name] : settings.paymentNames) {
    if (SameText(name, wanted))
      exact.emplace_back(id, name);
    else if (!wanted.empty() && StartsWithText(name, wanted))
      begins.emplace_back(id, name);
  }
  const auto& found = exact.empty() ? begins : exact;
  if (found.empty()) throw ESaleFormat("payment: вид оплаты " + InputExcerpt(wanted) + " не найден в базе данных");
  if (found.size() > 1) {
    std::string names;
    for (const auto& [id, name] : found)
      names += (names.empty() ? "" : ", ") + InputExcerpt(name) + " (ID " + std::to_string(id) + ")";
    throw ESaleFormat("payment: название " + InputExcerpt(wanted) + " подходит к нескольким видам оплаты: " + names +
                      "; укажите полное название или ID");
  }
  return found.front();
}

std::pair<std::int32_t, std::string> SalePayment(const TCalcSettings& settings, const TSale& sale) {
  std::pair<std::int32_t, std::string> payment;
  if (sale.paymentName) {
    payment = PaymentByName(settings, *sale.paymentName);
  } else {
    payment.first = *sale.paymentID;
    const auto named = std::lower_bound(settings.paymentNames.begin(), settings.paymentNames.end(),
                                        std::pair<std::int32_t, std::string>(payment.first, {}));
    if (named != settings.paymentNames.end() && named->first == payment.first) payment.second = named->second;
  }
  const auto which = [&] {
    return "вид оплаты с ID " + std::to_string(payment.first) +
           (payment.second.empty() ? "" : " (" + InputExcerpt(payment.second) + ")");
  };
  const auto state = settings.paymentSwitchedOn.find(payment.first);
  if (state == settings.paymentSwitchedOn.end()) throw ESaleFormat("payment: " + which() + " не найден в базе данных");
  if (!state->second) throw ESaleFormat("payment: " + which() + " выключен: им нельзя оплатить продажу");
  return payment;
}

std::string PaymentRecordName(const TPaymentRec& rec) {
  const std::size_t nameLength = rec.Name[0] > 20 ? 20 : rec.Name[0];
  return Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(rec.Name + 1), nameLength));
}

TSaleAnswer CalculateSale(const TModuleExports& module, const TCalcSettings& settings, const TSale& sale,
                          bool explain) {
  const auto [payID, paymentName] = SalePayment(settings, sale);
  const double moment = sale.moment ? *sale.moment : Now();

  TSaleRecord record(sale, payID, moment);
  TResultRecord result;
  TSaleAnswer answer;
  answer.sum = module.CalcDiscount(&record.data(), result.get());
  answer.discountPercent = result.get()->DiscountPercent;

  const TCalcTrace trace = TraceCalculation(settings, record.data());
  if (trace.result != answer.sum) {
    std::ostringstream warning;
    warning << "объяснение рассчитано на " << trace.result << ", модуль вернул " << answer.sum
            << " (изменились данные или часы между расчётами)";
    answer.warning = warning.str();
  }
  answer.saleBans = trace.banLines;
  if (explain) answer.explanation = ExplainText(trace, paymentName, payID);
  return answer;
}

TSaleAnswer CalculateSaleAt(const TCalcSettings& settings, const TSale& sale, double clock) {
  const auto [payID, paymentName] = SalePayment(settings, sale);
  TSaleRecord record(sale, payID, *sale.moment);
  TCalcTrace trace;
  const TCalcResult result = CalculateInProcessAt(settings, record.data(), clock, trace);
  TSaleAnswer answer;
  answer.sum = result.sum;
  answer.discountPercent = result.discountPercent;
  answer.saleBans = trace.banLines;
  answer.explanation = ExplainText(trace, paymentName, payID);
  return answer;
}

}  // namespace selvo::host
