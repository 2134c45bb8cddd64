#include "host/program/ReceiptCommand.h"

#include <utility>

#include <cctype>
#include <nlohmann/json.hpp>
#include <ostream>

#include "host/insight/Receipt.h"
#include "host/journal/SaleId.h"
#include "host/program/CalcCommand.h"
#include "host/service/HttpFront.h"
#include "platform/FormatSettings.h"

namespace selvo::host {
namespace {

// The identifier as typed: letters in either case, as a cashier reads them
// off the receipt.
std::string SaleIdOf(const std::string& typed) {
  std::string id = typed;
  for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!IsSaleId(id))
    throw EUsageError("номер продажи — " + std::to_string(kSaleIdLength) + " знаков из \"" +
                      std::string(kSaleIdAlphabet) + "\", а не " + InputExcerpt(typed, 40));
  return id;
}

nlohmann::json TillAnswerJson(const TTillAnswer& answer) {
  return {{"sum", answer.sum}, {"discount_percent", answer.discountPercent}, {"sale_bans", answer.saleBans}};
}

// Two numbers as the operator compares them: to the hundredth, and in full
// when they differ only beyond it (the receipt would look the same, the
// calculation is still not the same).
std::pair<std::string, std::string> NumbersText(double till, double now) {
  std::string a = FloatToStrFixed(till, 2, ModuleFormatSettings());
  std::string b = FloatToStrFixed(now, 2, ModuleFormatSettings());
  if (a == b && till != now) {
    a = nlohmann::json(till).dump();
    b = nlohmann::json(now).dump();
  }
  return {a, b};
}

std::string BansText(const std::vector<std::string>& bans) {
  if (bans.empty()) return "нет";
  std::string text;
  for (const std::string& ban : bans) text += (text.empty() ? "«" : "», «") + TerminalText(ban);
  return text + "»";
}

void PrintDifference(const TReceipt& r, std::ostream& out) {
  const TTillAnswer& till = r.journaled.answered;
  out << "Пересчёт НЕ совпадает с ответом кассы:\n";
  const auto [sumThen, sumNow] = NumbersText(till.sum, r.recomputed.sum);
  out << "  к оплате: касса " << sumThen << ", пересчёт " << sumNow << "\n";
  const auto [percentThen, percentNow] = NumbersText(till.discountPercent, r.recomputed.discountPercent);
  out << "  скидка: касса " << percentThen << " %, пересчёт " << percentNow << " %\n";
  out << "  запреты продажи: касса — " << BansText(till.saleBans) << "; пересчёт — " << BansText(r.recomputed.saleBans)
      << "\n";
}

void PrintText(const TReceipt& r, std::ostream& out) {
  const TJournaledReceipt& j = r.journaled;
  out << "Продажа " << j.saleId << ": журнал " << TerminalText(j.file) << ", строка " << j.line << "\n";
  out << "Момент продажи: " << TerminalText(j.moment) << "\n";
  if (j.saleNamedItsMoment)
    out << "Часы кассы при расчёте: " << MomentText(j.tillClock)
        << " (по ним скидки по времени суток и запреты продажи)\n";
  out << "Настройки: версия " << j.settingsVersion << "\n\n";
  PrintSaleAnswer(r.recomputed, true, out);
  out << "\n";
  if (r.equal)
    out << "Совпадает с ответом кассы.\n";
  else
    PrintDifference(r, out);
}

nlohmann::json ReceiptJson(const TReceipt& r) {
  const TJournaledReceipt& j = r.journaled;
  nlohmann::json doc = {{"sale_id", j.saleId},
                        {"journal", j.file},
                        {"line", j.line},
                        {"moment", j.moment},
                        {"till_clock", MomentText(j.tillClock)},
                        {"settings_version", j.settingsVersion},
                        {"journaled", TillAnswerJson(j.answered)},
                        {"recomputed", SaleAnswerJson(r.recomputed, false)},
                        {"equal", r.equal},
                        {"explanation", r.recomputed.explanation}};
  if (!r.recomputed.warning.empty()) doc["warning"] = r.recomputed.warning;
  return doc;
}

// The journals and the sale's number: "--journal FILE [FILE...] SALE_ID", the
// number last, or "SALE_ID JOURNAL...", the number first.
std::pair<std::vector<std::string>, std::string> JournalsAndSale(const TParsedCommand& command) {
  std::vector<std::string> arguments = command.arguments;
  if (arguments.empty()) throw EUsageError("receipt: не указан номер продажи");
  if (command.Has("--journal")) {
    std::string id = arguments.back();
    arguments.pop_back();
    arguments.insert(arguments.begin(), command.Value("--journal", ""));
    return {arguments, SaleIdOf(id)};
  }
  std::string id = SaleIdOf(arguments.front());
  arguments.erase(arguments.begin());
  if (arguments.empty()) throw EUsageError("receipt: не указан ни один журнал продаж");
  return {arguments, id};
}

int RunReceipt(const TParsedCommand& command, const TCommandContext& context) {
  const auto [named, saleId] = JournalsAndSale(command);
  TReceipt receipt;
  try {
    const TJournaledReceipt journaled = FindJournaledSale(ReceiptJournals(named), saleId);
    receipt = RecomputeReceipt(journaled, DatabaseOf(command));
  } catch (const Exception& e) {
    return FailCommand(context.err, e.Message());
  }
  if (!receipt.recomputed.warning.empty())
    context.err << kHostProgram << ": предупреждение: " << receipt.recomputed.warning << "\n";
  if (command.Has("--json"))
    context.out << JsonText(ReceiptJson(receipt)) << "\n";
  else
    PrintText(receipt, context.out);
  if (receipt.equal) return 0;
  return FailCommand(context.err, "пересчёт продажи " + saleId + " не совпадает с ответом кассы (версия настроек " +
                                      std::to_string(receipt.journaled.settingsVersion) + ")");
}

}  // namespace

const THostCommand kReceiptCommand{
    {"receipt",
     "найти продажу по номеру с чека в журналах службы кассы, рассчитать её заново по тем же настройкам и "
     "объяснить; сверить с ответом кассы",
     {DatabaseOption(),
      {"--json", "", "вывести результат одним объектом JSON"},
      {"--journal", "ЖУРНАЛ",
       "журнал (или папка журналов) службы кассы; за ним могут идти другие, номер продажи "
       "тогда последним"}},
     "[ЖУРНАЛ...] НОМЕР_ПРОДАЖИ | НОМЕР_ПРОДАЖИ ЖУРНАЛ..."},
    &RunReceipt};

}  // namespace selvo::host
