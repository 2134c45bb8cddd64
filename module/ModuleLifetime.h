// The module's load and unload: the state, the lists and the services they
// need, made and freed in a fixed order.
#pragma once

namespace selvo {

// Creates the state in load order (kind names, discount list, payment list,
// progress title, IniFileName); ModuleUnload frees it in reverse. The shared
// library calls them when it is loaded and unloaded; tests call them
// directly. A second ModuleLoad first unloads; ModuleUnload without a loaded
// state does nothing.
void ModuleLoad();
void ModuleUnload();

}  // namespace selvo
