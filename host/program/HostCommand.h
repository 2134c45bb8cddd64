// One command of selvo-host: how it reads on the command line and the
// function that runs it. Each command is defined in a file of its own and
// listed once, in HostCommands() (host/program/HostCommands.cpp).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "host/program/CommandLine.h"
#include "host/session/ModuleLoader.h"
#include "host/shopdb/ShopDataModule.h"

namespace selvo::host {

// What a command works with besides its command line.
struct TCommandContext {
  const TModuleLocation& module;
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

// Exit codes: 0 done, 1 the command failed (its message on err).
using TRunCommand = int (*)(const TParsedCommand& command, const TCommandContext& context);

struct THostCommand {
  TCommandSpec usage;  // how it reads on the command line
  TRunCommand run;
};

// The program's name in front of every message line.
inline constexpr const char* kHostProgram = "selvo-host";

// Writes "selvo-host: MESSAGE" as one line to err and answers 1.
int FailCommand(std::ostream& err, const std::string& message);

// The --db option every command that opens the shop takes, and its value
// (DefaultDatabasePath() when it was not given).
const TOptionSpec& DatabaseOption();
std::string DatabaseOf(const TParsedCommand& command);

// The --version option of the commands that read the settings, and the
// version a version option names (EUsageError for anything but a number
// from 1); nullopt when it was not given.
const TOptionSpec& VersionOption();
std::optional<std::int64_t> VersionOf(const TParsedCommand& command, const std::string& option = "--version");
// The shop's settings as they are now, or as they stood at `version`.
std::unique_ptr<TShopDataModule> OpenSettings(const std::string& database, std::optional<std::int64_t> version);

}  // namespace selvo::host
