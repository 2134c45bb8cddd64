// selvo-host editor: the operator's way into the module's settings editor.
// Creates the window application, loads the module, hands it the shop
// database with the real transaction (that database's own) and goods
// selection, and opens the editor modally.
#pragma once

#include "host/program/HostCommand.h"

namespace selvo::host {

// Exit code 0 when the editor was closed, 1 when it could not be opened (no
// display, no database, no module; message on err).
extern const THostCommand kEditorCommand;

}  // namespace selvo::host
