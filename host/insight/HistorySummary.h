// The settings' history in the operator's words: which payment type, card,
// card target or period, category or goods a change touched, the caption the
// operator sees for the column, and the values as the editor shows them
// (times of day as ЧЧ:ММ, dates as ДД.ММ.ГГГГ ЧЧ:ММ, да/нет, the threshold
// and time lists as the card writes them). A version that changed many rows
// is told by counts.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/shopdb/SettingsHistory.h"

namespace selvo::host {

// The names rows bore at each version (payment types, cards, categories,
// goods), from the changes of their name columns: a change whose row kept
// its name is named by a lookup, without loading any version.
class THistoryNames {
 public:
  // The name changes of the whole history (one query) and the names the
  // rows bear now, for rows the history never named.
  static THistoryNames Read(TShopConnection& connection);

  // A change of a name column, taken in the order of the versions.
  void AddChange(const TSettingsChange& change);
  // The name a row bears now.
  void AddCurrent(const std::string& table, const std::string& key, std::string name);

  // The name of row `key` (its identifier as stored text) of `table` as
  // version `version` left it (the name it had before it was removed, for a
  // row that version removed); empty when unknown.
  std::string At(const std::string& table, const std::string& key, std::int64_t version) const;

 private:
  struct TStep {
    std::int64_t version;
    std::optional<std::string> before, after;
  };
  using TRowName = std::pair<std::string, std::string>;  // lower-case table, key
  std::map<TRowName, std::vector<TStep>> steps_;
  std::map<TRowName, std::string> current_;
};

// The column's caption as the operator knows it ("пороги"); the column's
// own name for one the shop does not know.
std::string ColumnCaption(const std::string& table, const std::string& column);

// A stored value of a column as the operator knows it; "пусто" for null.
// `version` names the rows a value refers to (a card's payment type).
std::string OperatorValue(const std::string& table, const std::string& column, const std::optional<std::string>& stored,
                          const THistoryNames& names, std::int64_t version);

// One change, one line: "Карта «Скидка»: пороги 1000=3%; → 1000=4%;".
std::string ChangeLine(const TSettingsChange& change, const THistoryNames& names);

// More rows than this in one version are told by counts.
inline constexpr std::size_t kRowsToTell = 12;

// The version's changes, a line a row: added («добавлена»), removed
// («удалена») or its columns before → after; counts instead for a new shop
// and for more than kRowsToTell rows.
std::vector<std::string> SummaryLines(const TVersionWithChanges& version, const THistoryNames& names);

// A moment as the history stores it ("2026-12-09T14:03:05.120") as the
// operator reads it ("09.12.2026 14:03:05"); a text of another form as it is.
std::string MomentText(const std::string& moment);

}  // namespace selvo::host
