// Where the host keeps its files.
#pragma once

#include <string>

namespace selvo::host {

// The shop database used when no --db is given:
// $XDG_DATA_HOME/selvo/shop.db, else ~/.local/share/selvo/shop.db.
std::string DefaultDatabasePath();
// The help text of the --db option every command takes.
std::string DatabaseOptionHelp();
// The folder of the running program, with a trailing '/'.
std::string ExecutableDirectory();

}  // namespace selvo::host
