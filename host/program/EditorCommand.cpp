#include "host/program/EditorCommand.h"

#include "host/session/HostSession.h"
#include "host/session/ModuleLoader.h"
#include "host/shopdb/ShopChain.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/windows/GoodsSelectFrm.h"
#include "host/windows/HostApplication.h"

namespace selvo::host {
namespace {

constexpr const char* kNoDisplay =
    "нет дисплея для окон редактора: задайте DISPLAY (или WAYLAND_DISPLAY, или QT_QPA_PLATFORM)";

int RunEditor(const TParsedCommand& command, const TCommandContext& context) {
  if (!HasDisplay()) return FailCommand(context.err, kNoDisplay);
  try {
    // The data module first: a missing database is told before any window.
    TShopDataModule dataModule(DatabaseOf(command));
    // At a station the editor could change nothing: told before it opens.
    RefuseAtStation(dataModule.Connection());
    TModuleLibrary library(FindModuleFile(context.module.fileName, context.module.buildDir));
    const TModuleExports& module = library.Exports();
    THostApplication application(context.err);
    TConnectedModule connection(module, dataModule);
    // The card dialog's goods choice opens the host's goods selection window.
    module.SetGoodsSelectFormShow(&GoodsSelectWindowCallback);
    module.ShowSelvoPaymentsForm();
    return 0;
  } catch (const Exception& e) {
    return FailCommand(context.err, e.Message());
  }
}

}  // namespace

const THostCommand kEditorCommand{
    {"editor",
     "открыть редактор видов оплаты и автоматических скидок на базе данных магазина (нужен дисплей)",
     {DatabaseOption()},
     ""},
    &RunEditor};

}  // namespace selvo::host
