#include "host/EditorCommand.h"

#include <QApplication>

#include <cstdlib>
#include <ostream>

#include "host/GoodsSelectFrm.h"
#include "host/HostPaths.h"
#include "host/HostSession.h"
#include "host/ModuleLoader.h"
#include "host/ShopDataModule.h"

namespace selvo::host {

const TCommandSpec kEditorCommandSpec{
    "editor",
    "открыть редактор видов оплаты и автоматических скидок на базе данных магазина (нужен дисплей)",
    {{"--db", "БАЗА", DatabaseOptionHelp()}},
    ""};

namespace {

constexpr const char* kNoDisplay =
    "нет дисплея для окон редактора: задайте DISPLAY (или WAYLAND_DISPLAY, или QT_QPA_PLATFORM)";

}  // namespace

int RunEditor(const TParsedCommand& command, const TModuleLocation& location, std::ostream& out, std::ostream& err) {
  (void)out;
  if (!HasDisplay()) {
    err << "selvo-host: " << kNoDisplay << "\n";
    return 1;
  }
  const std::string path = command.Value("--db", DefaultDatabasePath());
  try {
    // The data module first: a missing database is told before any window.
    TShopDataModule dataModule(path);
    TModuleLibrary library(FindModuleFile(location.fileName, location.buildDir));
    const TModuleExports& module = library.Exports();
    int argc = 1;
    char name[] = "selvo-host";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QString());
    TConnectedModule connection(module, dataModule);
    // The card dialog's goods choice opens the host's goods selection window.
    module.SetGoodsSelectFormShow(&GoodsSelectWindowCallback);
    module.ShowSelvoPaymentsForm();
    return 0;
  } catch (const Exception& e) {
    err << "selvo-host: " << e.Message() << "\n";
    return 1;
  }
}

}  // namespace selvo::host
