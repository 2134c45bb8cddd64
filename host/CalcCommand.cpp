#include "host/CalcCommand.h"

#include <fstream>
#include <istream>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>

#include "discounts/DecimalRounding.h"
#include "discounts/SelvoDiscountItemsU.h"
#include "host/HostPaths.h"
#include "host/HostSession.h"
#include "host/ModuleLoader.h"
#include "host/SaleJson.h"
#include "host/SqliteDataModule.h"
#include "host/SqliteStatement.h"
#include "interface/SelvoModuleU.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/Clock.h"
#include "platform/FormatSettings.h"
#include "platform/MessageService.h"
#include "platform/TextCodec.h"

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
std::pair<std::int32_t, std::string> FindPaymentByName(TSqliteDataModule& dataModule, const std::string& wanted) {
  std::vector<std::pair<std::int32_t, std::string>> exact, begins;
  TSqliteStatement select(dataModule.Connection(), "SELECT ID, Name FROM Payment ORDER BY ID");
  const std::size_t wantedLength = Utf8Length(wanted);
  while (select.Step()) {
    const TVariant value = select.Column(1);
    const auto* name = std::get_if<std::string>(&value);
    if (!name) continue;
    const auto id = static_cast<std::int32_t>(select.ColumnInt(0));
    if (SameText(*name, wanted))
      exact.emplace_back(id, *name);
    else if (!wanted.empty() && SameText(Utf8Left(*name, wantedLength), wanted))
      begins.emplace_back(id, *name);
  }
  const auto& found = exact.empty() ? begins : exact;
  if (found.empty())
    throw ESaleFormat("payment: вид оплаты " + InputExcerpt(wanted) + " не найден в базе данных");
  if (found.size() > 1) {
    std::string names;
    for (const auto& [id, name] : found) names += (names.empty() ? "" : ", ") + InputExcerpt(name) + " (ID " + std::to_string(id) + ")";
    throw ESaleFormat("payment: название " + InputExcerpt(wanted) + " подходит к нескольким видам оплаты: " + names +
                      "; укажите полное название или ID");
  }
  return found.front();
}

// Silences the in-process calculation: the module has already shown its
// messages to the cashier.
class TSilentMessages : public IMessageService {
 public:
  TModalResult Show(const TMessage&) override { return TModalResult::mrOk; }
};

// The same calculation code as the module's, in this process, with a trace.
// It reads the same database and settings file as the module does.
class TTracedCalculation {
 public:
  explicit TTracedCalculation(TSqliteDataModule& dataModule) {
    ModuleLoad();
    SetMessageService(&messages_);
    Module().DataModule = &dataModule;
  }
  ~TTracedCalculation() {
    SetMessageService(nullptr);
    ModuleUnload();
  }
  TTracedCalculation(const TTracedCalculation&) = delete;
  TTracedCalculation& operator=(const TTracedCalculation&) = delete;

  TCalcTrace Run(const TDiscountInData& sale) {
    FillPaymentsList();
    FillDiscountList();
    TCalcTrace trace;
    TResultRecord out;
    TCalcDiscount(&trace).Calculate(sale, *out.get());
    return trace;
  }

 private:
  TSilentMessages messages_;
};

// Money as the till shows it: rounded to kopecks, halves away from zero.
std::string Money(double value) { return FloatToStrFixed(RoundMoney(value), 2, ModuleFormatSettings()); }

std::string CardText(const TCalcTrace::TCardRef& card) {
  return "карта \"" + card.name + "\" (ID " + std::to_string(card.id) + ")";
}

}  // namespace

std::string ExplainText(const TCalcTrace& t, const std::string& paymentName, std::int32_t payID) {
  std::ostringstream s;
  s << "Сумма чека: " << Money(t.total) << ", по закупочным ценам: " << Money(t.zTotal) << "\n";
  s << "Не ниже закупочной стоимости (RSumCanNotBeLowThenZSum): " << (t.purchaseFloor ? "да" : "нет") << "\n";
  s << "1. Вид оплаты";
  if (t.paymentTypeFound)
    s << " \"" << paymentName << "\" (ID " << payID << "), скидка " << FloatToStr(t.paymentPercent, ModuleFormatSettings())
      << " %";
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
  const std::pair<double, const char*> variants[] = {
      {t.paySum, "1 (вид оплаты)"}, {t.checkSum, "2 (скидка на чек)"}, {t.goodsSum, "3 (по строкам)"},
      {t.groupSum, "4 (группа товаров)"}};
  s << "Выбрано:";
  bool any = false;
  for (const auto& [sum, name] : variants) {
    double rounded = RoundMoney(sum);
    if (rounded < 0.01) rounded = 0;
    if (rounded == t.result) {
      s << (any ? ", " : " вариант ") << name;
      any = true;
    }
  }
  if (!any) s << " наименьшая сумма";
  s << " — к оплате " << Money(t.result) << "\n";
  return s.str();
}

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
      std::tie(payID, paymentName) = FindPaymentByName(dataModule, *sale.paymentName);
    } else {
      payID = *sale.paymentID;
      for (std::int32_t i = 0; i < list.Count(); ++i)
        if (list.GetItem(i)->ID == payID) paymentName = PaymentRecName(*list.GetItem(i));
    }
    const double moment = sale.moment ? *sale.moment : Now();

    TSaleRecord record(sale, payID, moment);
    TResultRecord result;
    const double sum = module.CalcDiscount(&record.data(), result.get());
    const double percent = result.get()->DiscountPercent;

    TTracedCalculation traced(dataModule);
    const TCalcTrace trace = traced.Run(record.data());
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
      out << "К оплате: " << Money(sum) << "\n";
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
