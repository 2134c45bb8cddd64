#include "host/HostCommands.h"

#include <filesystem>
#include <iostream>
#include <ostream>

#include "host/CalcCommand.h"
#include "host/EditorCommand.h"
#include "host/HostPaths.h"
#include "host/HostSession.h"
#include "host/ModuleLoader.h"
#include "host/PaymentTable.h"
#include "host/SampleShop.h"
#include "host/ShopConnection.h"
#include "host/ShopDataModule.h"
#include "platform/FormatSettings.h"

namespace selvo::host {
namespace {

constexpr const char* kProgram = "selvo-host";

const TOptionSpec kDbOption{"--db", "БАЗА", DatabaseOptionHelp()};

std::string DatabasePath(const TParsedCommand& command) { return command.Value("--db", DefaultDatabasePath()); }

int Fail(std::ostream& err, const std::string& message) {
  err << kProgram << ": " << message << "\n";
  return 1;
}

}  // namespace

const std::vector<TCommandSpec>& HostCommandSpecs() {
  static const std::vector<TCommandSpec> specs = {
      {"init",
       "создать базу данных магазина с примером: виды оплаты, карты скидок, товары",
       {kDbOption, {"--force", "", "перезаписать существующий файл"}},
       ""},
      {"payments", "загрузить модуль и показать виды оплаты, прочитанные им из базы данных", {kDbOption}, ""},
      kCalcCommandSpec,
      kEditorCommandSpec,
  };
  return specs;
}

int RunInit(const TParsedCommand& command, std::ostream& out, std::ostream& err) {
  const std::string path = DatabasePath(command);
  try {
    if (!command.Has("--db")) {
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
      if (ec) return Fail(err, "не удалось создать папку для \"" + path + "\": " + ec.message());
    }
    CreateSampleShop(path, command.Has("--force"));
  } catch (const Exception& e) {
    std::string message = e.Message();
    if (!command.Has("--force") && (IsServerAddress(path) || std::filesystem::exists(path)))
      message += " (--force перезапишет " + std::string(IsServerAddress(path) ? "их)" : "его)");
    return Fail(err, message);
  }
  out << "Создана база данных магазина: " << DescribeDatabase(path) << "\n";
  return 0;
}

int RunPayments(const TParsedCommand& command, const TModuleLocation& location, std::ostream& out, std::ostream& err) {
  const std::string path = DatabasePath(command);
  try {
    TShopDataModule dataModule(path);
    TModuleLibrary library(FindModuleFile(location.fileName, location.buildDir));
    const TModuleExports& module = library.Exports();
    TConnectedModule connection(module, dataModule);

    module.FillPaymentsList();
    TPaymentList& list = *module.GetPaymentList();
    TShopDataSet& payments = dataModule.DataSet("Payment");
    TPaymentColumns columns;
    columns.rounding = payments.FindField("CheckItogPrec") != nullptr;
    columns.gsmVO = payments.FindField("GsmVO") != nullptr;
    columns.customCheck = payments.FindField("CUSTOMCHECK") != nullptr;
    out << "Виды оплаты (" << list.Count() << "), база данных " << dataModule.Describe() << ":\n"
        << FormatPaymentTable(list, columns, ModuleFormatSettings());
    return 0;
  } catch (const Exception& e) {
    return Fail(err, e.Message());
  }
}

int RunHostProgram(const std::vector<std::string>& args, const TModuleLocation& location, std::ostream& out,
                   std::ostream& err) {
  const auto& specs = HostCommandSpecs();
  try {
    const TParsedCommand command = ParseCommandLine(args, specs);
    if (command.help) {
      out << UsageText(kProgram, specs, command.command);
      return 0;
    }
    if (command.command == "init") return RunInit(command, out, err);
    if (command.command == "payments") return RunPayments(command, location, out, err);
    if (command.command == "calc") return RunCalc(command, location, std::cin, out, err);
    if (command.command == "editor") return RunEditor(command, location, out, err);
    throw EUsageError("неизвестная команда \"" + command.command + "\"");
  } catch (const EUsageError& e) {
    err << kProgram << ": " << e.Message() << "\n" << UsageText(kProgram, specs);
    return 2;
  } catch (const std::exception& e) {
    // Anything else that went wrong (no memory, a system error) is reported
    // the same way: the program never ends on an uncaught error.
    return Fail(err, e.what());
  } catch (...) {
    return Fail(err, "непредвиденная ошибка");
  }
}

}  // namespace selvo::host
