#include "host/program/ReplayCommand.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>

#include "host/insight/Replay.h"
#include "host/insight/ReplaySvg.h"
#include "host/session/SaleCalculation.h"
#include "host/shopdb/ShopDataModule.h"
#include "platform/FormatSettings.h"

namespace selvo::host {
namespace {

double Rubles(std::int64_t kopecks) { return static_cast<double>(kopecks) / 100; }

std::string Money(std::int64_t kopecks) { return FloatToStrFixed(Rubles(kopecks), 2, ModuleFormatSettings()); }

TCalcSettings LoadSettings(const std::string& database) {
  TShopDataModule dataModule(database);
  return LoadCalcSettings(dataModule);
}

nlohmann::json SideJson(const TReplaySide& side) {
  nlohmann::json cards = nlohmann::json::array();
  for (const auto& [id, tally] : side.cards)
    cards.push_back({{"id", id}, {"name", tally.name}, {"wins", tally.wins}, {"discount", Rubles(tally.discount)}});
  nlohmann::json hours = nlohmann::json::array();
  for (std::int64_t kopecks : side.discountByHour) hours.push_back(Rubles(kopecks));
  return {{"to_pay", Rubles(side.toPay)},
          {"discount", Rubles(side.discount)},
          {"cards", cards},
          {"discount_by_hour", hours}};
}

void PrintText(const TReplayReport& r, std::ostream& out) {
  out << "Продаж прочитано: " << r.read << ", пропущено: " << r.skipped << "\n";
  out << "К оплате: сейчас " << Money(r.current.toPay) << ", с новыми настройками " << Money(r.proposed.toPay) << " ("
      << (r.proposed.toPay >= r.current.toPay ? "+" : "") << Money(r.proposed.toPay - r.current.toPay) << ")\n";
  out << "Скидка: сейчас " << Money(r.current.discount) << ", с новыми настройками " << Money(r.proposed.discount)
      << "\n";
  out << "Продаж с другим результатом: " << r.changed << "\n";
  for (const TReplayChange& c : r.largest)
    out << "  продажа " << c.sale + 1 << ": " << Money(c.current) << " -> " << Money(c.proposed) << "\n";
  std::set<std::int32_t> ids;
  for (const auto& [id, tally] : r.current.cards) ids.insert(id);
  for (const auto& [id, tally] : r.proposed.cards) ids.insert(id);
  if (!ids.empty()) out << "Карты (продаж выиграно, скидка): сейчас | с новыми настройками\n";
  for (std::int32_t id : ids) {
    const auto before = r.current.cards.find(id), after = r.proposed.cards.find(id);
    const TCardTally none;
    const TCardTally& b = before == r.current.cards.end() ? none : before->second;
    const TCardTally& a = after == r.proposed.cards.end() ? none : after->second;
    out << "  карта " << id << " \"" << TerminalText(a.name.empty() ? b.name : a.name) << "\": " << b.wins << ", "
        << Money(b.discount) << " | " << a.wins << ", " << Money(a.discount) << "\n";
  }
}

int RunReplay(const TParsedCommand& command, const TCommandContext& context) {
  try {
    if (!command.Has("--against"))
      return FailCommand(context.err, "replay: не указаны новые настройки (--against БАЗА)");
    if (command.arguments.empty()) return FailCommand(context.err, "replay: не указан ни один журнал продаж");
    const TCalcSettings current = LoadSettings(DatabaseOf(command));
    const TCalcSettings proposed = LoadSettings(command.Value("--against", ""));
    const TReplayReport report = Replay(current, proposed, ReadJournaledSales(command.arguments));
    if (command.Has("--svg")) {
      const std::string file = command.Value("--svg", "");
      std::ofstream svg(file, std::ios::binary);
      svg << DiscountByHourSvg(report);
      if (!svg.flush()) return FailCommand(context.err, "не удалось записать рисунок в \"" + file + "\"");
    }
    if (command.Has("--json")) {
      nlohmann::json largest = nlohmann::json::array();
      for (const TReplayChange& c : report.largest)
        largest.push_back({{"sale", c.sale + 1}, {"current", Rubles(c.current)}, {"proposed", Rubles(c.proposed)}});
      const nlohmann::json doc = {
          {"read", report.read},        {"skipped", report.skipped},           {"changed", report.changed},
          {"largest_changes", largest}, {"current", SideJson(report.current)}, {"proposed", SideJson(report.proposed)}};
      context.out << JsonText(doc) << "\n";
    } else {
      PrintText(report, context.out);
    }
    return 0;
  } catch (const Exception& e) {
    return FailCommand(context.err, e.Message());
  }
}

}  // namespace

const THostCommand kReplayCommand{
    {"replay",
     "рассчитать продажи из журналов службы кассы с текущими и с новыми настройками и сравнить",
     {DatabaseOption(),
      {"--against", "БАЗА", "база данных с новыми настройками"},
      {"--json", "", "вывести результат одним объектом JSON"},
      {"--svg", "ФАЙЛ", "нарисовать скидку по часам дня (SVG)"}},
     "ЖУРНАЛ..."},
    &RunReplay};

}  // namespace selvo::host
