// selvo-host editor: the operator's way into the module's settings editor.
// Creates the window application, loads the module, hands it the shop
// database with the real transaction (that database's own) and goods
// selection, and opens the editor modally.
#pragma once

#include <iosfwd>

#include "host/CommandLine.h"
#include "host/HostCommands.h"

namespace selvo::host {

extern const TCommandSpec kEditorCommandSpec;

// Exit codes as the other commands: 0 the editor was closed, 1 it could not
// be opened (no display, no database, no module; message on err).
int RunEditor(const TParsedCommand& command, const TModuleLocation& location, std::ostream& out, std::ostream& err);

}  // namespace selvo::host
