#include "host/program/CalcCommand.h"

#include <fstream>
#include <istream>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <tuple>
#include <utility>
#include <vector>

#include "host/program/PaymentTable.h"
#include "host/session/HostPaths.h"
#include "host/session/HostSession.h"
#include "host/session/InProcessCalculation.h"
#include "host/session/ModuleLoader.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/ShopDataModule.h"
#include "platform/Clock.h"
#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"

namespace selvo::host {

namespace {

std::string ReadSaleText(const TParsedCommand& command, std::istream& in) {
  const std::string source = command.arguments.empty() ? "-" : command.arguments[0];
  std::ifstream file;
  if (source != "-") {
    file.open(source, std::ios::binary);
    if (!file) throw ESaleFormat("не удалось открыть файл продажи " + InputExcerpt(source, 200));
  }
  std::istream& from = source == "-" ? in : file;
  std::string text;
  char buffer[65536];
  while (from.read(buffer, sizeof buffer) || from.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(from.gcount()));
    if (text.size() > kMaxSaleBytes)
      throw ESaleFormat("продажа длиннее " + std::to_string(kMaxSaleBytes >> 20) + " МБ: это не продажа кассы");
  }
  if (from.bad()) throw ESaleFormat("не удалось прочитать продажу");
  return text;
}

// The payment type of that name. The list's records hold only the first 20
// characters of a name, so the name is looked up among the database's full
// names: an exact match first (letter case ignored), else the one name that
// begins with it; a beginning that several names share is refused.
std::pair<std::int32_t, std::string> FindPaymentByName(TShopDataModule& dataModule, const std::string& wanted) {
  std::vector<std::pair<std::int32_t, std::string>> exact, begins;
  const std::size_t wantedLength = Utf8Length(wanted);
  dataModule.Connection().Query("SELECT ID, Name FROM Payment ORDER BY ID", {}, [&](std::vector<TVariant>& row) {
    const auto* name = std::get_if<std::string>(&row[1]);
    const auto* id = std::get_if<std::int64_t>(&row[0]);
    if (!name || !id) return;
    if (SameText(*name, wanted))
      exact.emplace_back(static_cast<std::int32_t>(*id), *name);
    else if (!wanted.empty() && SameText(Utf8Left(*name, wantedLength), wanted))
      begins.emplace_back(static_cast<std::int32_t>(*id), *name);
  });
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

int RunCalc(const TParsedCommand& command, const TCommandContext& context) {
  const TModuleLocation& location = context.module;
  std::ostream& out = context.out;
  std::ostream& err = context.err;
  const std::string path = DatabaseOf(command);
  try {
    const TSale sale = ParseSale(ReadSaleText(command, context.in));
    TShopDataModule dataModule(path);
    TModuleLibrary library(FindModuleFile(location.fileName, location.buildDir));
    const TModuleExports& module = library.Exports();
    TConnectedModule connection(module, dataModule);

    module.FillPaymentsList();
    module.FillDiscountList();

    TPaymentList& list = *module.GetPaymentList();
    std::int32_t payID = 0;
    std::string paymentName;
    if (sale.paymentName) {
      std::tie(payID, paymentName) = FindPaymentByName(dataModule, *sale.paymentName);
    } else {
      payID = *sale.paymentID;
      for (std::int32_t i = 0; i < list.Count(); ++i)
        if (list.GetItem(i)->ID == payID) paymentName = PaymentRecordName(*list.GetItem(i));
    }
    const double moment = sale.moment ? *sale.moment : Now();

    TSaleRecord record(sale, payID, moment);
    TResultRecord result;
    const double sum = module.CalcDiscount(&record.data(), result.get());
    const double percent = result.get()->DiscountPercent;

    const TCalcTrace trace = RunTracedCalculation(dataModule, record.data());
    if (trace.result != sum)
      err << "selvo-host: предупреждение: объяснение рассчитано на " << trace.result << ", модуль вернул " << sum
          << " (изменились данные или часы между расчётами)\n";

    if (command.Has("--json")) {
      nlohmann::json doc;
      doc["sum"] = sum;
      doc["discount_percent"] = percent;
      doc["sale_bans"] = trace.banLines;
      if (command.Has("--explain")) doc["explain"] = ExplainText(trace, paymentName, payID);
      out << doc.dump() << "\n";
    } else {
      out << "К оплате: " << FloatToStrFixed(sum, 2, ModuleFormatSettings()) << "\n";
      out << "Скидка: " << FloatToStrFixed(percent, 2, ModuleFormatSettings()) << " %\n";
      for (const std::string& ban : trace.banLines) out << "Запрет продажи: " << TerminalText(ban) << "\n";
      if (command.Has("--explain")) out << "\n" << TerminalText(ExplainText(trace, paymentName, payID));
    }
    return 0;
  } catch (const ESaleFormat& e) {
    return FailCommand(err, e.what());
  } catch (const Exception& e) {
    return FailCommand(err, e.Message());
  }
}

}  // namespace

const THostCommand kCalcCommand{
    {"calc",
     "рассчитать скидку продажи из файла JSON (или стандартного ввода) и показать сумму к оплате",
     {DatabaseOption(),
      {"--json", "", "вывести результат одним объектом JSON"},
      {"--explain", "", "показать все варианты скидки, которые рассматривал расчёт"}},
     "[SALE.json | -]"},
    &RunCalc};

}  // namespace selvo::host
