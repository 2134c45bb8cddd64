#include "host/program/HostCommands.h"

#include <iostream>
#include <ostream>

#include "host/program/CalcCommand.h"
#include "host/program/EditorCommand.h"
#include "host/program/HistoryCommand.h"
#include "host/program/InitCommand.h"
#include "host/program/LintCommand.h"
#include "host/program/PaymentsCommand.h"
#include "host/program/ReplayCommand.h"
#include "host/program/ServeCommand.h"
#include "host/session/HostPaths.h"
#include "host/shopdb/ServerAddress.h"

namespace selvo::host {

const std::vector<THostCommand>& HostCommands() {
  static const std::vector<THostCommand> commands = {kInitCommand, kPaymentsCommand, kCalcCommand,    kServeCommand,
                                                     kLintCommand, kReplayCommand,   kHistoryCommand, kEditorCommand};
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

int RunHostProgram(const std::vector<std::string>& args, const TModuleLocation& location, std::istream& in,
                   std::ostream& out, std::ostream& err) {
  std::vector<TCommandSpec> specs;
  for (const THostCommand& command : HostCommands()) specs.push_back(command.usage);
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
