#include "host/program/InitCommand.h"

#include <filesystem>
#include <ostream>

#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopConnection.h"

namespace selvo::host {
namespace {

int RunInit(const TParsedCommand& command, const TCommandContext& context) {
  const std::string path = DatabaseOf(command);
  try {
    if (!command.Has("--db")) {
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
      if (ec) return FailCommand(context.err, "не удалось создать папку для \"" + path + "\": " + ec.message());
    }
    CreateSampleShop(path, command.Has("--force"));
  } catch (const Exception& e) {
    std::string message = e.Message();
    if (!command.Has("--force") && (IsServerAddress(path) || std::filesystem::exists(path)))
      message += " (--force перезапишет " + std::string(IsServerAddress(path) ? "их)" : "его)");
    return FailCommand(context.err, message);
  }
  context.out << "Создана база данных магазина: " << DescribeDatabase(path) << "\n";
  return 0;
}

}  // namespace

const THostCommand kInitCommand{{"init",
                                 "создать базу данных магазина с примером: виды оплаты, карты скидок, товары",
                                 {DatabaseOption(), {"--force", "", "перезаписать существующий файл"}},
                                 ""},
                                &RunInit};

}  // namespace selvo::host
