#include "host/CalcCommand.h"

#include <fstream>
#include <istream>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>

#include "host/HostPaths.h"
#include "host/HostSession.h"
#include "host/InProcessCalculation.h"
#include "host/ModuleLoader.h"
#include "host/SaleJson.h"
#include "host/SqliteDataModule.h"
#include "host/PaymentTable.h"
#include "platform/Clock.h"
#include "platform/FormatSettings.h"

namespace selvo::host {

const TCommandSpec kCalcCommandSpec{
    "calc",
    "рассчитать скидку продажи из файла JSON (или стандартного ввода) и показать сумму к оплате",
    {{"--db", "FILE", "база данных магазина (по умолчанию " + DefaultDatabasePath() + ")"},
     {"--json", "", "вывести результат одним объектом JSON"},
     {"--explain", "", "показать все варианты скидки, которые рассматривал расчёт"}},
    "[SALE.json | -]"};

namespace {

std::string ReadSaleText(const TParsedCommand& command, std::istream& in) {
  const std::string source = command.arguments.empty() ? "-" : command.arguments[0];
  std::ifstream file;
  if (source != "-") {
    file.open(source, std::ios::binary);
    if (!file) throw ESaleFormat("не удалось открыть файл продажи \"" + source + "\"");
  }
  std::ostringstream text;
  text << (source == "-" ? in : file).rdbuf();
  return text.str();
}

}  // namespace

int RunCalc(const TParsedCommand& command, const TModuleLocation& location, std::istream& in, std::ostream& out,
            std::ostream& err) {
  const std::string path = command.Value("--db", DefaultDatabasePath());
  try {
    const TSale sale = ParseSale(ReadSaleText(command, in));
    TSqliteDataModule dataModule(path);
    TModuleLibrary library(FindModuleFile(location.fileName, location.buildDir));
    const TModuleExports& module = library.Exports();
    TConnectedModule connection(module, dataModule);

    module.FillPaymentsList();
    module.FillDiscountList();

    TPaymentList& list = *module.GetPaymentList();
    std::int32_t payID = 0;
    std::string paymentName;
    if (sale.paymentName) {
      const TPaymentRec* rec = list.FindByName(sale.paymentName->c_str());
      if (!rec) throw ESaleFormat("payment: вид оплаты \"" + *sale.paymentName + "\" не найден в базе данных");
      payID = rec->ID;
      paymentName = PaymentRecordName(*rec);
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
      err << "selvo-host: предупреждение: объяснение рассчитано на " << trace.result
          << ", модуль вернул " << sum << " (изменились данные или часы между расчётами)\n";

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
      for (const std::string& ban : trace.banLines) out << "Запрет продажи: " << ban << "\n";
      if (command.Has("--explain")) out << "\n" << ExplainText(trace, paymentName, payID);
    }
    return 0;
  } catch (const ESaleFormat& e) {
    err << "selvo-host: " << e.what() << "\n";
    return 1;
  } catch (const Exception& e) {
    err << "selvo-host: " << e.Message() << "\n";
    return 1;
  }
}

}  // namespace selvo::host
