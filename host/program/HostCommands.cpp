#include "host/program/HostCommands.h"

#include <iostream>
#include <ostream>

#include "host/program/CalcCommand.h"
#include "host/program/ChainCommand.h"
#include "host/program/EditorCommand.h"
#include "host/program/HistoryCommand.h"
#include "host/program/InitCommand.h"
#include "host/program/LintCommand.h"
#include "host/program/PaymentsCommand.h"
#include "host/program/ReceiptCommand.h"
#include "host/program/ReplayCommand.h"
#include "host/program/ServeCommand.h"
#include "host/session/HostPaths.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/ServerAddress.h"
#include "host/shopdb/SettingsAtVersion.h"
#include "host/shopdb/ShopValueConversion.h"

namespace selvo::host {

const std::vector<THostCommand>& HostCommands() {
  static const std::vector<THostCommand> commands = {kInitCommand,  kPaymentsCommand, kCalcCommand,    kServeCommand,
                                                     kLintCommand,  kReplayCommand,   kReceiptCommand, kHistoryCommand,
                                                     kChainCommand, kEditorCommand};
  return commands;
}

int FailCommand(std::ostream& err, const std::string& message) {
  err << kHostProgram << ": " << message << "\n";
  return 1;
}

const TOptionSpec& DatabaseOption() {
  static const TOptionSpec option{"--db", "БАЗА", DatabaseOptionHelp()};
  return option;
}

// A server address in the form libpq takes, so that every connection of the
// command (the service's listener too) reads it the same way.
std::string DatabaseOf(const TParsedCommand& command) {
  return LibpqAddress(command.Value("--db", DefaultDatabasePath()));
}

const TOptionSpec& VersionOption() {
  static const TOptionSpec option{"--version", "N", "настройки версии N из истории, а не текущие"};
  return option;
}

std::optional<std::int64_t> VersionOf(const TParsedCommand& command, const std::string& option) {
  if (!command.Has(option)) return std::nullopt;
  const std::string text = command.Value(option, "");
  const std::optional<std::int64_t> number = ParseInteger(text);
  if (!number || *number < 1 || text.find_first_not_of("0123456789") != std::string::npos)
    throw EUsageError("после " + option + " нужно указать номер версии (целое число от 1), а не " +
                      InputExcerpt(text, 40));
  return number;
}

std::unique_ptr<TShopDataModule> OpenSettings(const std::string& database, std::optional<std::int64_t> version) {
  if (version) return LoadSettingsVersion(database, *version);
  return std::make_unique<TShopDataModule>(database);
}

int RunHostProgram(const std::vector<std::string>& args, const TModuleLocation& location, std::istream& in,
                   std::ostream& out, std::ostream& err) {
  std::vector<TCommandSpec> specs;
  for (const THostCommand& command : HostCommands()) specs.push_back(command.usage);
  if (args.size() == 1 && args[0] == "--version") {
    out << kHostProgram << " " << SELVO_PROGRAM_VERSION << "\n";
    return 0;
  }
  try {
    const TParsedCommand parsed = ParseCommandLine(args, specs);
    if (parsed.help) {
      out << UsageText(kHostProgram, specs, parsed.command);
      return 0;
    }
    for (const THostCommand& command : HostCommands())
      if (command.usage.name == parsed.command) return command.run(parsed, TCommandContext{location, in, out, err});
    throw EUsageError("неизвестная команда \"" + parsed.command + "\"");
  } catch (const EUsageError& e) {
    err << kHostProgram << ": " << e.Message() << "\n" << UsageText(kHostProgram, specs);
    return 2;
  } catch (const std::exception& e) {
    // Anything else that went wrong (no memory, a system error) is reported
    // the same way: the program never ends on an uncaught error.
    return FailCommand(err, e.what());
  } catch (...) {
    return FailCommand(err, "непредвиденная ошибка");
  }
}

int RunHostProgram(const std::vector<std::string>& args, const TModuleLocation& location, std::ostream& out,
                   std::ostream& err) {
  return RunHostProgram(args, location, std::cin, out, err);
}

}  // namespace selvo::host
