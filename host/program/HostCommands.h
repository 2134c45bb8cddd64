// The commands of selvo-host and the program around them.
//
//   selvo-host init [--db DB] [--force]   creates the sample shop database
//   selvo-host payments [--db DB]         prints the payment types as the
//                                         module reads them
//   selvo-host calc [--db DB] ...         computes the discount of a sale
//   selvo-host editor [--db DB]           opens the settings editor
//
// Without --db they use DefaultDatabasePath().
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "host/program/HostCommand.h"

namespace selvo::host {

// Every command, in the order the usage text lists them: the one list of
// the program's commands.
const std::vector<THostCommand>& HostCommands();

// The whole program: parses args (without the program name), runs the
// command and answers the exit code: 0 done, 1 the command failed (message
// on err), 2 the command line was wrong (message and usage on err). Never
// lets an error escape. A command that reads standard input reads `in`.
int RunHostProgram(const std::vector<std::string>& args, const TModuleLocation& location, std::istream& in,
                   std::ostream& out, std::ostream& err);
// The same on the process's standard input.
int RunHostProgram(const std::vector<std::string>& args, const TModuleLocation& location, std::ostream& out,
                   std::ostream& err);

}  // namespace selvo::host
