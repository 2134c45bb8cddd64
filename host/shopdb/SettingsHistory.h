// The settings' history: every change of the six shop tables makes a version,
// numbered for the whole shop and written in the change's own transaction.
//
// - "SettingsVersion" holds one row a version: its number (one more than the
//   highest, under the save's lock, so numbers follow the commits and are
//   never reused), the moment (the server's clock on a server), who saved
//   (the operating-system user and computer, and the database role), the
//   origin (editor, init, import, restore, outside) and, for a restore, the
//   version it brought back.
// - "SettingsChange" holds what each version changed, a row a column: the
//   table, the row's key and identifier, the column and its value before
//   and after as stored text (reals with every digit, so a value read back
//   is the value written). Column "*" marks a row added (after "1") or
//   removed (before "1").
// - "SettingsCopy" holds whole copies of the settings at some versions, so
//   that any version loads from the nearest copy and the few versions after
//   it (host/shopdb/SettingsAtVersion).
//
// Triggers on the six tables write the changes, so nothing writes them
// unrecorded: a change the program makes joins the version it opened; a
// change made outside the program (psql, sqlite3) opens a version of its own,
// "вне программы" with origin outside. On a server that version spans the
// outside transaction (found again through a setting of the transaction);
// an SQLite trigger cannot see a transaction, so on a file it spans one
// statement, found by the statement's moment (statements of the same
// millisecond join it), until a save of the program closes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/shopdb/ShopConnection.h"

namespace selvo::host {

inline constexpr const char* kOriginEditor = "editor";
inline constexpr const char* kOriginInit = "init";
inline constexpr const char* kOriginImport = "import";
inline constexpr const char* kOriginRestore = "restore";
inline constexpr const char* kOriginOutside = "outside";
// The author of a change made outside the program.
inline constexpr const char* kOutsideAuthor = "вне программы";

struct TSettingsVersion {
  std::int64_t number = 0;  // 0: the shop keeps no history
  std::string moment;       // "2026-12-09T14:03:05.120", local time of the clock that wrote it
  std::string author;       // "user@computer", or kOutsideAuthor
  std::string role;         // the database role; empty on a file
  std::string origin;
  std::int64_t restored = 0;  // the version a restore brought back
};

struct TSettingsChange {
  std::int64_t version = 0;
  std::string table;  // as the shop spells it
  std::int64_t rowKey = 0;
  std::string key;  // the row's identifier (ID, td_ID, ...) as stored text; empty when null
  // The card the row belongs to (a card's own row, its targets and periods).
  std::optional<std::int64_t> card;
  std::string column;  // as the shop spells it; "*" for the row itself
  std::optional<std::string> before;
  std::optional<std::string> after;
};

// The history's tables as the shop names them.
const std::vector<std::string>& SettingsHistoryTables();

// Whether the shop database keeps a history (its three tables are there).
bool HasSettingsHistory(TShopConnection& connection);
// Creates what is missing of the history's tables, and the triggers on the
// shop tables present (made anew, so they follow the tables' columns).
// Inside the connection's open transaction.
void InstallSettingsHistory(TShopConnection& connection);

// InstallSettingsHistory when the tables or any trigger are missing (a shop
// made before the history, a trigger dropped to change a table by hand).
void EnsureSettingsHistory(TShopConnection& connection);

// A file made anew in place of an old one keeps the old one's history, so
// that no version number is used twice: its rows are copied to `to` (inside
// its open transaction), in their order.
void CarrySettingsHistory(TShopConnection& from, TShopConnection& to);

// This computer's name; empty when the system does not tell it.
std::string ComputerName();
// Who the program runs as: "user@computer".
std::string ProgramAuthor();

// Opens this program's version inside the connection's open transaction
// (the save's lock taken): the shop tables' changes from here on belong to
// it. Answers it as stored.
TSettingsVersion BeginSettingsVersion(TShopConnection& connection, const std::string& origin,
                                      std::int64_t restored = 0);
// Before the commit: a version that changed nothing is removed (answers 0);
// otherwise it is closed, a copy of the settings is written when one is
// due, and its number is answered.
std::int64_t FinishSettingsVersion(TShopConnection& connection, const TSettingsVersion& version);

// The newest version; number 0 when the shop keeps no history or has none.
TSettingsVersion NewestSettingsVersion(TShopConnection& connection);
// One version; nullopt when there is none of that number.
std::optional<TSettingsVersion> FindSettingsVersion(TShopConnection& connection, std::int64_t number);

struct THistoryFilter {
  std::string since;                 // versions at or after this moment ("2026-12-09", "2026-12-09T14:00")
  std::optional<std::int64_t> card;  // versions that changed this card (its row, targets or periods)
};
// The versions, newest first, with their changes.
struct TVersionWithChanges {
  TSettingsVersion version;
  std::vector<TSettingsChange> changes;
};
std::vector<TVersionWithChanges> ReadSettingsHistory(TShopConnection& connection, const THistoryFilter& filter);

// The changes of the versions first..last, in the order they were made.
std::vector<TSettingsChange> ReadSettingsChanges(TShopConnection& connection, std::int64_t first, std::int64_t last);

// A stored text of a column of `kind` as the value it was: an integer, a
// real (every digit kept), a text; null for nullopt.
TVariant StoredValue(const std::optional<std::string>& text, TFieldKind kind);

}  // namespace selvo::host
