#include "host/shopdb/SettingsAtVersion.h"

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "host/shopdb/SettingsHistory.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/ShopValueConversion.h"
#include "host/shopdb/SqliteConnection.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

using nlohmann::json;

// Parameters of one statement, below SQLite's own limit.
constexpr std::size_t kMaxParameters = 8000;

// One table as a version left it.
struct TTableAt {
  std::string name;
  std::vector<TColumnInfo> columns;
  std::map<std::int64_t, std::vector<TVariant>> rows;  // by row key

  int ColumnIndex(const std::string& column) {
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (SameText(columns[i].name, column)) return static_cast<int>(i);
    // A column the copy did not have (added to the table since).
    TFieldKind kind = TFieldKind::Text;
    if (const TTableDef* def = FindShopTable(name))
      for (const TColumnDef& c : def->columns)
        if (SameText(c.name, column)) kind = c.kind;
    columns.push_back({column, kind});
    for (auto& [key, values] : rows) values.emplace_back();
    return static_cast<int>(columns.size()) - 1;
  }
};
using TSettingsAt = std::vector<TTableAt>;

char KindLetter(TFieldKind kind) {
  switch (kind) {
    case TFieldKind::Integer: return 'i';
    case TFieldKind::Real: return 'r';
    case TFieldKind::Text: return 't';
  }
  return 't';
}
TFieldKind KindOf(const std::string& letter) {
  if (letter == "i") return TFieldKind::Integer;
  if (letter == "r") return TFieldKind::Real;
  return TFieldKind::Text;
}

// Whether a text is UTF-8 as JSON must hold it (a file's column may hold
// any bytes: an old code page, a blob).
bool IsUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || (length > 1 && c < 0xC2) || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    i += length;
  }
  return true;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (char b : bytes) {
    hex += digits[static_cast<unsigned char>(b) >> 4];
    hex += digits[static_cast<unsigned char>(b) & 15];
  }
  return hex;
}
std::string Unhex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// A text that is not UTF-8 is kept as its bytes in hex, so the copy loads
// back exactly what the table held.
json ValueJson(const TVariant& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* s = std::get_if<std::string>(&value)) return IsUtf8(*s) ? json(*s) : json{{"bytes", Hex(*s)}};
  return nullptr;
}
TVariant JsonValue(const json& value) {
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number()) return value.get<double>();
  if (value.is_string()) return value.get<std::string>();
  if (value.is_object()) return Unhex(value.at("bytes").get<std::string>());
  return {};
}

// The six tables present on `c` with their columns, and with their rows
// unless only the columns are asked for (where a history without a copy
// starts).
TSettingsAt ReadSettings(TShopConnection& c, bool withRows = true) {
  TSettingsAt settings;
  const std::vector<std::string> present = c.TableNames();
  for (const std::string& name : ShopTableNames()) {
    if (std::none_of(present.begin(), present.end(), [&](const std::string& t) { return SameText(t, name); })) continue;
    TTableAt table{name, {}, {}};
    std::string list;
    for (TColumnInfo column : c.Columns(name)) {
      list += (list.empty() ? "" : ", ") + c.Identifier(column.name);
      column.name = ShopColumnSpelling(name, column.name);
      table.columns.push_back(std::move(column));
    }
    if (withRows)
      c.Query("SELECT rowid" + (list.empty() ? "" : ", " + list) + " FROM " + c.Identifier(name) + " ORDER BY rowid",
              {}, [&](std::vector<TVariant>& v) {
                const std::int64_t key = RowKey(v[0], name);
                table.rows[key].assign(std::make_move_iterator(v.begin() + 1), std::make_move_iterator(v.end()));
              });
    settings.push_back(std::move(table));
  }
  return settings;
}

std::string CopyText(const TSettingsAt& settings) {
  json tables = json::array();
  for (const TTableAt& table : settings) {
    json columns = json::array();
    for (const TColumnInfo& column : table.columns)
      columns.push_back({column.name, std::string(1, KindLetter(column.kind))});
    json rows = json::array();
    for (const auto& [key, values] : table.rows) {
      json row = json::array({key});
      for (const TVariant& value : values) row.push_back(ValueJson(value));
      rows.push_back(std::move(row));
    }
    tables.push_back({{"name", table.name}, {"columns", std::move(columns)}, {"rows", std::move(rows)}});
  }
  return json{{"tables", std::move(tables)}}.dump();
}

TSettingsAt CopyFromText(const std::string& text, std::int64_t version) {
  TSettingsAt settings;
  try {
    const json body = json::parse(text);
    for (const json& t : body.at("tables")) {
      TTableAt table{t.at("name").get<std::string>(), {}, {}};
      for (const json& column : t.at("columns"))
        table.columns.push_back({column.at(0).get<std::string>(), KindOf(column.at(1).get<std::string>())});
      for (const json& row : t.at("rows")) {
        std::vector<TVariant> values;
        for (std::size_t i = 1; i < row.size(); ++i) values.push_back(JsonValue(row[i]));
        values.resize(table.columns.size());
        table.rows[row.at(0).get<std::int64_t>()] = std::move(values);
      }
      settings.push_back(std::move(table));
    }
  } catch (const std::exception& e) {
    throw EDatabaseError("копия настроек версии " + std::to_string(version) + " повреждена: " + e.what(),
                         TDatabaseErrorKind::Corrupt);
  }
  return settings;
}

void Apply(TSettingsAt& settings, const TSettingsChange& change) {
  auto table =
      std::find_if(settings.begin(), settings.end(), [&](const TTableAt& t) { return SameText(t.name, change.table); });
  if (table == settings.end()) {
    settings.push_back({change.table, {}, {}});
    table = settings.end() - 1;
  }
  if (change.column == "*") {
    if (change.after)
      table->rows[change.rowKey].assign(table->columns.size(), TVariant{});
    else
      table->rows.erase(change.rowKey);
    return;
  }
  const int index = table->ColumnIndex(change.column);
  auto row = table->rows.find(change.rowKey);
  if (row == table->rows.end()) return;  // removed later in the same version
  row->second[static_cast<std::size_t>(index)] =
      StoredValue(change.after, table->columns[static_cast<std::size_t>(index)].kind);
}

std::unique_ptr<TShopConnection> Materialize(const TSettingsAt& settings, const std::string& describe) {
  auto memory = OpenMemoryShopConnection(describe);
  // Nothing of it outlives the program: no journal to roll back with.
  memory->Execute("PRAGMA journal_mode = OFF");
  memory->Execute("BEGIN");
  for (const TTableAt& table : settings) {
    TTableDef def{table.name, {}, {}};
    for (const TColumnInfo& column : table.columns) def.columns.push_back({column.name, column.kind, false, false, ""});
    memory->CreateTable(def);
    std::string head = "INSERT INTO " + memory->Identifier(table.name) + " (rowid";
    for (const TColumnInfo& column : table.columns) head += ", " + memory->Identifier(column.name);
    head += ") VALUES ";
    // Many rows a statement: a statement is prepared once for hundreds.
    const std::size_t width = table.columns.size() + 1;
    const std::size_t perStatement = std::max<std::size_t>(1, kMaxParameters / width);
    std::vector<TVariant> params;
    std::string sql;
    auto flush = [&] {
      if (params.empty()) return;
      memory->Query(sql, params, [](std::vector<TVariant>&) {});
      params.clear();
    };
    std::size_t inStatement = 0;
    for (const auto& [key, values] : table.rows) {
      if (inStatement == 0) sql = head;
      sql += inStatement ? ", (" : "(";
      // Plain "?" (the memory database is SQLite's): numbered names would be
      // looked up one by one among all the statement's names.
      for (std::size_t i = 0; i < width; ++i) sql += i ? ",?" : "?";
      sql += ")";
      params.emplace_back(key);
      params.insert(params.end(), values.begin(), values.end());
      if (++inStatement == perStatement) {
        flush();
        inStatement = 0;
      }
    }
    flush();
  }
  memory->Execute("COMMIT");
  return memory;
}

std::string CopyTable(TShopConnection& c) { return c.Identifier("SettingsCopy"); }

}  // namespace

bool SettingsCopyDue(TShopConnection& c, std::int64_t number, const std::string& origin) {
  if (origin == kOriginInit) return true;  // the tables start anew: nothing before applies
  const TVariant newest =
      c.QueryValue("SELECT MAX(version) FROM " + CopyTable(c) + " WHERE version <= $1", {TVariant(number)});
  const auto copied = LinkKey(newest);
  return !copied || number - *copied >= kCopyEvery;
}

void WriteSettingsCopy(TShopConnection& c, std::int64_t number) {
  c.Query("INSERT INTO " + CopyTable(c) + " (version, body) VALUES ($1, $2)",
          {TVariant(number), TVariant(CopyText(ReadSettings(c)))}, [](std::vector<TVariant>&) {});
}

std::unique_ptr<TShopDataModule> LoadSettingsVersion(TShopConnection& c, std::int64_t number) {
  const std::optional<TSettingsVersion> version = FindSettingsVersion(c, number);
  if (!version)
    throw EDatabaseError("В базе данных \"" + c.Describe() + "\" нет версии настроек " + std::to_string(number));
  std::optional<std::int64_t> copied;
  std::string body;
  c.Query("SELECT version, body FROM " + CopyTable(c) + " WHERE version <= $1 ORDER BY version DESC LIMIT 1",
          {TVariant(number)}, [&](std::vector<TVariant>& v) {
            copied = LinkKey(v[0]).value_or(0);
            body = ValueText(v[1]);
          });
  TSettingsAt settings = copied ? CopyFromText(body, *copied) : ReadSettings(c, false);
  for (const TSettingsChange& change : ReadSettingsChanges(c, copied.value_or(0) + 1, number)) Apply(settings, change);
  const std::string describe = c.Describe() + ", версия " + std::to_string(number);
  return std::make_unique<TShopDataModule>(Materialize(settings, describe), *version);
}

std::unique_ptr<TShopDataModule> LoadSettingsVersion(const std::string& database, std::int64_t number) {
  std::unique_ptr<TShopConnection> c = OpenShopConnection(database);
  if (!HasSettingsHistory(*c)) throw EDatabaseError("База данных \"" + c->Describe() + "\" не хранит истории настроек");
  c->BeginSnapshot(SettingsHistoryTables());
  try {
    auto loaded = LoadSettingsVersion(*c, number);
    c->EndSnapshot();
    return loaded;
  } catch (...) {
    c->RollbackIfOpen();
    throw;
  }
}

}  // namespace selvo::host
