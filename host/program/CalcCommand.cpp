#include "host/program/CalcCommand.h"

#include <fstream>
#include <istream>
#include <nlohmann/json.hpp>
#include <ostream>

#include "host/session/HostSession.h"
#include "host/session/ModuleLoader.h"
#include "host/session/SaleCalculation.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/ShopDataModule.h"
#include "platform/FormatSettings.h"

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

}  // namespace

nlohmann::json SaleAnswerJson(const TSaleAnswer& answer, bool explain) {
  nlohmann::json doc;
  doc["sum"] = answer.sum;
  doc["discount_percent"] = answer.discountPercent;
  doc["sale_bans"] = answer.saleBans;
  if (explain) doc["explain"] = answer.explanation;
  return doc;
}

void PrintSaleAnswer(const TSaleAnswer& answer, bool explain, std::ostream& out) {
  out << "К оплате: " << FloatToStrFixed(answer.sum, 2, ModuleFormatSettings()) << "\n";
  out << "Скидка: " << FloatToStrFixed(answer.discountPercent, 2, ModuleFormatSettings()) << " %\n";
  for (const std::string& ban : answer.saleBans) out << "Запрет продажи: " << TerminalText(ban) << "\n";
  if (explain) out << "\n" << TerminalText(answer.explanation);
}

namespace {

int RunCalc(const TParsedCommand& command, const TCommandContext& context) {
  const TModuleLocation& location = context.module;
  std::ostream& out = context.out;
  std::ostream& err = context.err;
  const std::string path = DatabaseOf(command);
  const std::optional<std::int64_t> version = VersionOf(command);
  try {
    const TSale sale = ParseSale(ReadSaleText(command, context.in));
    const std::unique_ptr<TShopDataModule> settings = OpenSettings(path, version);
    TShopDataModule& dataModule = *settings;
    TModuleLibrary library(FindModuleFile(location.fileName, location.buildDir));
    const TModuleExports& module = library.Exports();
    TConnectedModule connection(module, dataModule);

    module.FillPaymentsList();
    module.FillDiscountList();
    const TSaleAnswer answer = CalculateSale(module, LoadCalcSettings(dataModule), sale, command.Has("--explain"));
    if (!answer.warning.empty()) err << kHostProgram << ": предупреждение: " << answer.warning << "\n";

    if (command.Has("--json"))
      out << SaleAnswerJson(answer, command.Has("--explain")).dump() << "\n";
    else
      PrintSaleAnswer(answer, command.Has("--explain"), out);
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
      VersionOption(),
      {"--json", "", "вывести результат одним объектом JSON"},
      {"--explain", "", "показать все варианты скидки, которые рассматривал расчёт"}},
     "[SALE.json | -]"},
    &RunCalc};

}  // namespace selvo::host
