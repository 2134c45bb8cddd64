#include "host/program/ReplayCommand.h"

#include "host/shopdb/ServerAddress.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>

#include "host/insight/Replay.h"
#include "host/insight/ReplaySvg.h"
#include "host/journal/JournalFiles.h"
#include "host/session/SaleCalculation.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopValueConversion.h"
#include "platform/FormatSettings.h"

namespace selvo::host {
namespace {

// A journal or a shop that cannot be read, as lint answers it.
constexpr int kReplayError = 2;

double Rubles(std::int64_t kopecks) { return static_cast<double>(kopecks) / 100; }

std::string Money(std::int64_t kopecks) { return FloatToStrFixed(Rubles(kopecks), 2, ModuleFormatSettings()); }

TCalcSettings LoadSettings(const std::string& database, std::optional<std::int64_t> version) {
  return LoadCalcSettings(*OpenSettings(database, version));
}

nlohmann::json SideJson(const TReplaySide& side) {
  nlohmann::json cards = nlohmann::json::array();
  for (const auto& [id, tally] : side.cards)
    cards.push_back({{"id", id}, {"name", tally.name}, {"wins", tally.wins}, {"discount", Rubles(tally.discount)}});
  nlohmann::json hours = nlohmann::json::array();
  for (std::int64_t kopecks : side.discountByHour) hours.push_back(Rubles(kopecks));
  return {{"to_pay", Rubles(side.toPay)},
          {"discount", Rubles(side.discount)},
          {"refused_by_ban", {{"sales", side.refused}, {"sum", Rubles(side.refusedSum)}}},
          {"cards", cards},
          {"discount_by_hour", hours}};
}

// What the report says of the tills, when several were replayed: a journal
// line does not name its till, so each journal file stands for one.
constexpr const char* kTillIsTheJournal = "касса — файл журнала: в строках журнала касса не указана";

bool SeveralTills(const TReplayReport& r) { return r.tills.size() > 1; }

nlohmann::json TillSideJson(const TTillSide& side) {
  return {{"to_pay", Rubles(side.toPay)},
          {"discount", Rubles(side.discount)},
          {"refused_by_ban", {{"sales", side.refused}, {"sum", Rubles(side.refusedSum)}}}};
}

void PrintTills(const TReplayReport& r, std::ostream& out) {
  out << "По кассам (" << kTillIsTheJournal << "):\n";
  for (const TTillReport& t : r.tills)
    out << "  касса " << TerminalText(t.journal) << ": строк " << t.read << ", пропущено " << t.skipped
        << ", рассчитано " << t.Computed() << "; к оплате " << Money(t.current.toPay) << " -> "
        << Money(t.proposed.toPay) << ", скидка " << Money(t.current.discount) << " -> " << Money(t.proposed.discount)
        << ", запрещено " << t.current.refused << " -> " << t.proposed.refused << ", с другим результатом " << t.changed
        << "\n";
}

std::string Place(const std::vector<std::string>& journals, std::size_t file, std::int64_t line) {
  return TerminalText(journals[file]) + ":" + std::to_string(line);
}

std::string ToPayText(std::int64_t kopecks, bool refused) { return refused ? "запрещена" : Money(kopecks); }

void PrintText(const TReplayReport& r, const std::vector<std::string>& journals, std::ostream& out) {
  out << "Строк прочитано: " << r.read << ", пропущено: " << r.skipped << ", продаж рассчитано: " << r.Computed()
      << "\n";
  for (const TSkippedLine& s : r.skippedLines)
    out << "  пропущена строка " << TerminalText(s.file) << ":" << s.line << ": " << TerminalText(s.reason) << "\n";
  if (r.skipped > static_cast<std::int64_t>(r.skippedLines.size()))
    out << "  и ещё пропущено строк: " << r.skipped - static_cast<std::int64_t>(r.skippedLines.size()) << "\n";
  out << "К оплате: сейчас " << Money(r.current.toPay) << ", с новыми настройками " << Money(r.proposed.toPay) << " ("
      << (r.proposed.toPay >= r.current.toPay ? "+" : "") << Money(r.proposed.toPay - r.current.toPay) << ")\n";
  out << "Скидка: сейчас " << Money(r.current.discount) << ", с новыми настройками " << Money(r.proposed.discount)
      << "\n";
  out << "Запрещено продаж (не скидка): сейчас " << r.current.refused << " на " << Money(r.current.refusedSum)
      << ", с новыми настройками " << r.proposed.refused << " на " << Money(r.proposed.refusedSum) << "\n";
  out << "Продаж с другим результатом: " << r.changed << "\n";
  for (const TReplayChange& c : r.largest)
    out << "  продажа " << Place(journals, c.file, c.line) << ": " << ToPayText(c.current, c.currentRefused) << " -> "
        << ToPayText(c.proposed, c.proposedRefused) << "\n";
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
  if (SeveralTills(r)) PrintTills(r, out);
}

nlohmann::json ReportJson(const TReplayReport& r, const std::vector<std::string>& journals) {
  nlohmann::json largest = nlohmann::json::array();
  for (const TReplayChange& c : r.largest)
    largest.push_back({{"file", journals[c.file]},
                       {"line", c.line},
                       {"current", c.currentRefused ? nlohmann::json() : nlohmann::json(Rubles(c.current))},
                       {"proposed", c.proposedRefused ? nlohmann::json() : nlohmann::json(Rubles(c.proposed))}});
  nlohmann::json skipped = nlohmann::json::array();
  for (const TSkippedLine& s : r.skippedLines)
    skipped.push_back({{"file", s.file}, {"line", s.line}, {"reason", s.reason}, {"torn", s.torn}});
  nlohmann::json report = {{"read", r.read},
                           {"skipped", r.skipped},
                           {"computed", r.Computed()},
                           {"skipped_lines", skipped},
                           {"changed", r.changed},
                           {"largest_changes", largest},
                           {"current", SideJson(r.current)},
                           {"proposed", SideJson(r.proposed)}};
  if (SeveralTills(r)) {
    nlohmann::json tills = nlohmann::json::array();
    for (const TTillReport& t : r.tills)
      tills.push_back({{"till", t.journal},
                       {"read", t.read},
                       {"skipped", t.skipped},
                       {"computed", t.Computed()},
                       {"changed", t.changed},
                       {"current", TillSideJson(t.current)},
                       {"proposed", TillSideJson(t.proposed)}});
    report["till_is"] = "journal_file";
    report["till_is_text"] = kTillIsTheJournal;
    report["tills"] = tills;
  }
  return report;
}

// The threads of --threads N (1 to kMaxReplayThreads); the cores by default.
unsigned ThreadsOf(const TParsedCommand& command) {
  if (!command.Has("--threads")) return ReplayThreadsByDefault();
  const std::string text = command.Value("--threads", "");
  const std::optional<std::int64_t> number = ParseInteger(text);
  if (!number || *number < 1 || *number > kMaxReplayThreads ||
      text.find_first_not_of("0123456789") != std::string::npos)
    throw EUsageError("после --threads нужно указать число потоков от 1 до " + std::to_string(kMaxReplayThreads) +
                      ", а не " + InputExcerpt(text, 40));
  return static_cast<unsigned>(*number);
}

int RunReplay(const TParsedCommand& command, const TCommandContext& context) {
  TReplayReport report;
  const std::optional<std::int64_t> version = VersionOf(command);
  const std::optional<std::int64_t> againstVersion = VersionOf(command, "--against-version");
  const unsigned threads = ThreadsOf(command);
  std::vector<std::string> journals;
  try {
    if (command.Has("--against") == againstVersion.has_value())
      return FailCommand(context.err,
                         "replay: укажите новые настройки одним способом: --against БАЗА или --against-version M");
    if (command.arguments.empty()) return FailCommand(context.err, "replay: не указан ни один журнал продаж");
    journals = ListJournalFiles(command.arguments, kMaxReplayJournals, "укажите папки или файлы одного времени");
    const TCalcSettings current = LoadSettings(DatabaseOf(command), version);
    const TCalcSettings proposed = againstVersion ? LoadSettings(DatabaseOf(command), againstVersion)
                                                  : LoadSettings(LibpqAddress(command.Value("--against", "")), {});
    report = Replay(current, proposed, journals, threads);
  } catch (const Exception& e) {
    FailCommand(context.err, e.Message());
    return kReplayError;
  }
  if (command.Has("--svg")) {
    const std::string file = command.Value("--svg", "");
    std::ofstream svg(file, std::ios::binary);
    svg << DiscountByHourSvg(report);
    if (!svg.flush()) return FailCommand(context.err, "не удалось записать рисунок в \"" + file + "\"");
  }
  if (command.Has("--json"))
    context.out << JsonText(ReportJson(report, journals)) << "\n";
  else
    PrintText(report, journals, context.out);
  return 0;
}

}  // namespace

const THostCommand kReplayCommand{
    {"replay",
     "рассчитать продажи из журналов служб касс с текущими и с новыми настройками и сравнить, по кассам и всего",
     {DatabaseOption(),
      {"--version", "N", "текущие настройки взять из версии N истории"},
      {"--against", "БАЗА", "база данных с новыми настройками"},
      {"--against-version", "M", "новые настройки: версия M истории той же базы"},
      {"--json", "", "вывести результат одним объектом JSON"},
      {"--svg", "ФАЙЛ", "нарисовать скидку по часам дня (SVG)"},
      {"--threads", "N", "считать в N потоках (по умолчанию: по числу ядер)"}},
     "ЖУРНАЛ|ПАПКА..."},
    &RunReplay};

}  // namespace selvo::host
