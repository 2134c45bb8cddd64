// The command line of selvo-host: a command word followed by options, and
// the usage text built from the same description.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

// The command line does not fit the description; the message says why.
class EUsageError : public Exception {
  using Exception::Exception;
};

struct TOptionSpec {
  std::string name;       // "--db"
  std::string valueName;  // "FILE"; empty for a flag
  std::string help;
};

struct TCommandSpec {
  std::string name;  // "init"
  std::string summary;
  std::vector<TOptionSpec> options;
  // The one positional argument the command takes ("[SALE.json | -]"), or
  // empty when it takes none; ending in "..." ("JOURNAL...") it takes any
  // number of them.
  std::string argument;
};

struct TParsedCommand {
  std::string command;  // empty when only help was asked for
  bool help = false;
  std::map<std::string, std::string> options;  // a flag maps to ""
  std::vector<std::string> arguments;          // positional

  bool Has(const std::string& option) const { return options.count(option) != 0; }
  // The option's value, or fallback when it was not given.
  std::string Value(const std::string& option, const std::string& fallback) const;
};

// Parses the arguments after the program name. "--help", "-h" and "help"
// ask for help anywhere; an option takes its value as the next argument or
// after "=" ("--db=shop.db"). EUsageError for an unknown command or
// option, a missing value, a value given to a flag, or a stray argument.
TParsedCommand ParseCommandLine(const std::vector<std::string>& args, const std::vector<TCommandSpec>& commands);

// The usage text of the program, or of one command when `command` names one.
std::string UsageText(const std::string& program, const std::vector<TCommandSpec>& commands,
                      const std::string& command = std::string());

}  // namespace selvo::host
