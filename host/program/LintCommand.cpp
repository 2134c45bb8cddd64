#include "host/program/LintCommand.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "host/insight/SettingsCheck.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/ShopDataModule.h"
#include "platform/Clock.h"

namespace selvo::host {
namespace {

constexpr int kLintError = 2;

int RunLint(const TParsedCommand& command, const TCommandContext& context) {
  std::vector<TFinding> findings;
  const std::optional<std::int64_t> version = VersionOf(command);
  try {
    const double moment = command.Has("--at") ? ParseMoment(command.Value("--at", "")) : Now();
    const std::unique_ptr<TShopDataModule> settings = OpenSettings(DatabaseOf(command), version);
    TShopDataModule& dataModule = *settings;
    RequireShopTables(dataModule);
    findings = CheckSettings(LoadCalcSettings(dataModule), ReadShopFacts(dataModule), moment);
  } catch (const Exception& e) {
    FailCommand(context.err, e.Message());
    return kLintError;
  }
  if (command.Has("--json")) {
    nlohmann::json list = nlohmann::json::array();
    for (const TFinding& f : findings) {
      nlohmann::json item = {
          {"kind", FindingKindName(f.kind)}, {"card", {{"id", f.cardID}, {"name", f.cardName}}}, {"reason", f.reason}};
      if (f.winnerID) item["winner"] = f.winnerID;
      list.push_back(item);
    }
    context.out << JsonText({{"findings", list}}) << "\n";
  } else if (findings.empty()) {
    context.out << "Замечаний нет\n";
  } else {
    for (const TFinding& f : findings)
      context.out << "карта " << f.cardID << " «" << TerminalText(f.cardName) << "»: " << TerminalText(f.reason)
                  << "\n";
  }
  return findings.empty() ? 0 : 1;
}

}  // namespace

const THostCommand kLintCommand{
    {"lint",
     "проверить настройки: карты, которые не применятся или никогда не выиграют, и товары, которые нельзя продать",
     {DatabaseOption(),
      VersionOption(),
      {"--json", "", "вывести замечания одним объектом JSON"},
      {"--at", "МОМЕНТ", "проверить на этот момент (ГГГГ-ММ-ДДTЧЧ:ММ), а не на сейчас"}},
     ""},
    &RunLint};

}  // namespace selvo::host
