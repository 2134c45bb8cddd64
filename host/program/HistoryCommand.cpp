#include "host/program/HistoryCommand.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>

#include "host/insight/HistorySummary.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/SettingsHistory.h"
#include "host/shopdb/SettingsRestore.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/ShopValueConversion.h"
#include "platform/DateUtils.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

using nlohmann::json;

// The longest option value read: a number or a moment is far shorter.
constexpr std::size_t kMaxOptionText = 32;

bool Digits(const std::string& text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

std::int64_t PositiveNumber(const std::string& option, const std::string& text, std::int64_t highest) {
  const std::optional<std::int64_t> number =
      text.size() <= kMaxOptionText ? ParseInteger(text) : std::optional<std::int64_t>();
  if (!number || *number < 1 || *number > highest)
    throw EUsageError(option + ": " + InputExcerpt(text) + " — ожидается целое число от 1 до " +
                      std::to_string(highest));
  return *number;
}

json TextOrNull(const std::optional<std::string>& text) { return text ? json(*text) : json(nullptr); }

json ChangeJson(const TSettingsChange& change) {
  return {{"table", change.table},
          {"key", change.key.empty() ? json(nullptr) : json(change.key)},
          {"row_key", change.rowKey},
          {"card", change.card ? json(*change.card) : json(nullptr)},
          {"column", change.column},
          {"before", TextOrNull(change.before)},
          {"after", TextOrNull(change.after)}};
}

json VersionJson(const TSettingsVersion& v) {
  json item = {{"version", v.number}, {"moment", v.moment},
               {"author", v.author},  {"role", v.role},
               {"origin", v.origin},  {"restored", v.origin == kOriginRestore ? json(v.restored) : json(nullptr)}};
  return item;
}

std::string Joined(const std::vector<std::string>& lines, const char* separator) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : separator) + line;
  return text;
}

void PrintHeader(const TSettingsVersion& v, std::ostream& out) {
  out << "Версия " << v.number << ", " << MomentText(v.moment) << ", " << TerminalText(v.author);
  if (!v.role.empty()) out << " (" << TerminalText(v.role) << ")";
  out << ", " << v.origin;
  if (v.origin == kOriginRestore && v.restored > 0) out << " версии " << v.restored;
  out << "\n";
}

// Reads in one snapshot, so that the names are those of the versions read.
template <typename TRead>
void ReadHistory(TShopConnection& c, const TRead& read) {
  if (!HasSettingsHistory(c)) throw EDatabaseError("База данных \"" + c.Describe() + "\" не хранит истории настроек");
  std::vector<std::string> tables = SettingsHistoryTables();
  for (const std::string& table : c.TableNames())
    for (const std::string& shop : ShopTableNames())
      if (SameText(table, shop)) tables.push_back(shop);
  c.BeginSnapshot(tables);
  try {
    read();
    c.EndSnapshot();
  } catch (...) {
    c.RollbackIfOpen();
    throw;
  }
}

int ListVersions(const TParsedCommand& command, const TCommandContext& context) {
  THistoryFilter filter;
  if (command.Has("--since")) filter.since = HistorySince(command.Value("--since", ""));
  if (command.Has("--card")) filter.card = PositiveNumber("--card", command.Value("--card", ""), INT32_MAX);
  std::vector<TVersionWithChanges> history;
  THistoryNames names;
  try {
    auto c = OpenShopConnection(DatabaseOf(command));
    ReadHistory(*c, [&] {
      history = ReadSettingsHistory(*c, filter);
      names = THistoryNames::Read(*c);
    });
  } catch (const Exception& e) {
    return FailCommand(context.err, e.Message());
  }
  if (command.Has("--json")) {
    json list = json::array();
    for (const TVersionWithChanges& v : history) {
      json item = VersionJson(v.version);
      item["summary"] = Joined(SummaryLines(v, names), "\n");
      json changes = json::array();
      for (const TSettingsChange& change : v.changes) changes.push_back(ChangeJson(change));
      item["changes"] = std::move(changes);
      list.push_back(std::move(item));
    }
    context.out << JsonText(list) << "\n";
    return 0;
  }
  if (history.empty()) context.out << "Версий нет\n";
  for (const TVersionWithChanges& v : history) {
    PrintHeader(v.version, context.out);
    for (const std::string& line : SummaryLines(v, names)) context.out << "  " << TerminalText(line) << "\n";
  }
  return 0;
}

int ShowVersion(const TParsedCommand& command, const TCommandContext& context) {
  const std::int64_t number = PositiveNumber("--show", command.Value("--show", ""), INT64_MAX);
  std::optional<TSettingsVersion> version;
  std::vector<TSettingsChange> changes;
  THistoryNames names;
  try {
    auto c = OpenShopConnection(DatabaseOf(command));
    ReadHistory(*c, [&] {
      version = FindSettingsVersion(*c, number);
      if (!version) return;
      changes = ReadSettingsChanges(*c, number, number);
      names = THistoryNames::Read(*c);
    });
    if (!version)
      return FailCommand(context.err,
                         "В базе данных \"" + c->Describe() + "\" нет версии настроек " + std::to_string(number));
  } catch (const Exception& e) {
    return FailCommand(context.err, e.Message());
  }
  if (command.Has("--json")) {
    json item = VersionJson(*version);
    item["summary"] = Joined(SummaryLines({*version, changes}, names), "\n");
    json list = json::array();
    for (const TSettingsChange& change : changes) {
      json c = ChangeJson(change);
      c["text"] = ChangeLine(change, names);
      list.push_back(std::move(c));
    }
    item["changes"] = std::move(list);
    context.out << JsonText(item) << "\n";
    return 0;
  }
  PrintHeader(*version, context.out);
  for (const TSettingsChange& change : changes) {
    context.out << "  " << TerminalText(change.table) << " " << TerminalText(change.key.empty() ? "-" : change.key)
                << " " << TerminalText(change.column) << ": " << TerminalText(ChangeLine(change, names)) << "\n";
  }
  return 0;
}

int Restore(const TParsedCommand& command, const TCommandContext& context) {
  for (const char* other : {"--since", "--card", "--show"})
    if (command.Has(other)) throw EUsageError(std::string("--restore не сочетается с ") + other);
  const std::int64_t number = PositiveNumber("--restore", command.Value("--restore", ""), INT64_MAX);
  std::int64_t written = 0;
  try {
    TSettingsRestore restore(DatabaseOf(command), number);
    written = restore.Save();
  } catch (const Exception& e) {
    return FailCommand(context.err, e.Message());
  }
  if (command.Has("--json"))
    context.out << JsonText({{"restored", number}, {"version", written > 0 ? json(written) : json(nullptr)}}) << "\n";
  else if (written == 0)
    context.out << "Настройки уже такие, как в версии " << number << ": новая версия не записана\n";
  else
    context.out << "Восстановлена версия " << number << ": записана версия " << written << "\n";
  return 0;
}

int RunHistory(const TParsedCommand& command, const TCommandContext& context) {
  if (command.Has("--restore")) return Restore(command, context);
  if (command.Has("--show")) {
    for (const char* other : {"--since", "--card"})
      if (command.Has(other)) throw EUsageError(std::string("--show не сочетается с ") + other);
    return ShowVersion(command, context);
  }
  return ListVersions(command, context);
}

}  // namespace

std::string HistorySince(const std::string& text) {
  const std::string bad = "--since: " + InputExcerpt(text) + " не в виде ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTЧЧ:ММ";
  int year, month, day, hour = 0, minute = 0;
  if (text.size() > kMaxOptionText || !Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' ||
      !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day))
    throw EUsageError(bad);
  const bool withTime = text.size() > 10;
  if (withTime && (text.size() != 16 || (text[10] != 'T' && text[10] != ' ') || !Digits(text, 11, 2, hour) ||
                   text[13] != ':' || !Digits(text, 14, 2, minute)))
    throw EUsageError(bad);
  if (!TryEncodeDate(year, month, day) || !TryEncodeTime(hour, minute, 0, 0))
    throw EUsageError("--since: " + InputExcerpt(text) + " — нет таких даты и времени");
  return withTime ? text.substr(0, 10) + "T" + text.substr(11) : text;
}

const THostCommand kHistoryCommand{
    {"history",
     "история настроек: версии, кто и что изменил; одна версия целиком; восстановление прежней версии",
     {DatabaseOption(),
      {"--json", "", "вывести одним массивом JSON"},
      {"--since", "МОМЕНТ", "только версии с этого момента (ГГГГ-ММ-ДД или ГГГГ-ММ-ДДTЧЧ:ММ)"},
      {"--card", "КОД", "только версии, изменившие эту карту, её цели или периоды"},
      {"--show", "N", "все изменения версии N, по одному в строке"},
      {"--restore", "N", "вернуть настройки версии N новой версией"}},
     ""},
    &RunHistory};

}  // namespace selvo::host
