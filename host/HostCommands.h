// The commands of selvo-host and the program around them. Each command is
// one entry of HostCommandSpecs and one Run function; a new command adds
// both.
//
//   selvo-host init [--db FILE] [--force]   creates the sample shop database
//   selvo-host payments [--db FILE]         prints the payment types as the
//                                           module reads them
//   selvo-host editor [--db FILE]           opens the settings editor
//
// Without --db both use DefaultDatabasePath().
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "host/CommandLine.h"

namespace selvo::host {

// Where the module's shared library is looked for (see FindModuleFile).
struct TModuleLocation {
  std::string fileName;
  std::string buildDir;
};

const std::vector<TCommandSpec>& HostCommandSpecs();

// Exit codes: 0 done, 1 the command failed (message on err), 2 the command
// line was wrong (message and usage on err).
int RunInit(const TParsedCommand& command, std::ostream& out, std::ostream& err);
int RunPayments(const TParsedCommand& command, const TModuleLocation& location, std::ostream& out, std::ostream& err);

// The whole program: parses args (without the program name), runs the
// command and answers the exit code. Never lets an error escape.
int RunHostProgram(const std::vector<std::string>& args, const TModuleLocation& location, std::ostream& out,
                   std::ostream& err);

}  // namespace selvo::host
