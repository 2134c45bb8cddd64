#include "host/insight/HistorySummary.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "discounts/DiscountListTexts.h"
#include "host/shopdb/ShopValueConversion.h"
#include "platform/DateUtils.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

// How a column's values read to the operator.
enum class TShape : std::uint8_t {
  Plain,       // the stored text as it is
  Text,        // in «»
  LongText,    // a receipt template: its beginning
  Real,        // without needless digits
  Flag,        // да / нет
  TimeOfDay,   // day fraction -> ЧЧ:ММ
  DateTime,    // day-based -> ДД.ММ.ГГГГ ЧЧ:ММ
  Thresholds,  // the card's threshold list
  TimeList,    // the card's time discounts
  WeekDays,    // bit per day, Monday first
  CardTarget,  // what a card acts on
  TargetKind,  // goods or category
  PaymentRef,  // a payment type's identifier
  CardRef,     // a card's identifier
  CategoryRef  // a category's identifier
};

struct TColumnWords {
  const char* table;
  const char* column;
  const char* caption;
  TShape shape;
};

// The operator's captions, after the editor's and the payment dialog's.
constexpr TColumnWords kColumns[] = {
    {"Payment", "ID", "код", TShape::Plain},
    {"Payment", "Name", "наименование", TShape::Text},
    {"Payment", "Type", "вид оплаты", TShape::Plain},
    {"Payment", "Check", "тип чека", TShape::Plain},
    {"Payment", "Discount", "скидка (%)", TShape::Real},
    {"Payment", "Enabled", "вид оплаты включен", TShape::Flag},
    {"Payment", "CheckItogPrec", "кратность итога чека (копеек)", TShape::Plain},
    {"Payment", "CheckPrecLimit", "округлять, если итог превышает (руб)", TShape::Real},
    {"Payment", "GsmVO", "индекс вида оплаты ГСМ", TShape::Plain},
    {"Payment", "CUSTOMCHECK", "товарный чек", TShape::LongText},
    {"Payment", "PRINTCUSTOMCHECK", "печать товарного чека на кассе", TShape::Flag},
    {"SelvoDiscountDS", "td_ID", "код", TShape::Plain},
    {"SelvoDiscountDS", "td_DiscountName", "название карты", TShape::Text},
    {"SelvoDiscountDS", "PayID", "вид оплаты", TShape::PaymentRef},
    {"SelvoDiscountDS", "td_BTime", "действует с", TShape::TimeOfDay},
    {"SelvoDiscountDS", "td_ETime", "действует до", TShape::TimeOfDay},
    {"SelvoDiscountDS", "td_AllDay", "круглосуточно", TShape::Flag},
    {"SelvoDiscountDS", "td_Enabled", "скидка включена", TShape::Flag},
    {"SelvoDiscountDS", "td_WeekDays", "дни недели", TShape::WeekDays},
    {"SelvoDiscountDS", "td_AllWeek", "ежедневно", TShape::Flag},
    {"SelvoDiscountDS", "td_Threshold", "пороги", TShape::Thresholds},
    {"SelvoDiscountDS", "td_DiscountTarget", "действует на", TShape::CardTarget},
    {"SelvoDiscountDS", "td_Rules", "правила", TShape::Plain},
    {"SelvoDiscountDS", "td_TimeDscList", "временные скидки", TShape::TimeList},
    {"DiscountGoodsDS", "dg_ID", "код", TShape::Plain},
    {"DiscountGoodsDS", "td_ID", "карта", TShape::CardRef},
    {"DiscountGoodsDS", "td_IsCategory", "вид", TShape::TargetKind},
    {"DiscountGoodsDS", "ID_Target", "товар или категория", TShape::Plain},
    {"ExclusionsDS", "ex_ID", "код", TShape::Plain},
    {"ExclusionsDS", "td_ID", "карта", TShape::CardRef},
    {"ExclusionsDS", "ex_BDateTime", "начало", TShape::DateTime},
    {"ExclusionsDS", "ex_EDateTime", "конец", TShape::DateTime},
    {"ExclusionsDS", "ex_Enabled", "промежуток включен", TShape::Flag},
    {"KeyTovar", "ID_Category", "код", TShape::Plain},
    {"KeyTovar", "Name", "наименование", TShape::Text},
    {"KeyTovar", "CheckField", "поле чека", TShape::Plain},
    {"Goods", "ID_Goods", "код", TShape::Plain},
    {"Goods", "ID_Category", "категория", TShape::CategoryRef},
    {"Goods", "Name", "наименование", TShape::Text},
    {"Goods", "Price", "цена", TShape::Real},
    {"Goods", "ZPrice", "цена закупки", TShape::Real},
    {"Goods", "Kolvo", "количество", TShape::Real},
};

// How the operator calls a table's rows.
struct TTableWords {
  const char* table;
  const char* nameColumn;  // "" when its rows have no name
  const char* subject;     // "Тип оплаты"
  const char* added;       // "добавлен"
  const char* removed;
  const char* one;  // counts: 1, 2..4, 5..
  const char* few;
  const char* many;
  const char* rows;  // "Типы оплаты"
};

constexpr TTableWords kTables[] = {
    {"Payment", "Name", "Тип оплаты", "добавлен", "удалён", "тип оплаты", "типа оплаты", "типов оплаты", "Типы оплаты"},
    {"SelvoDiscountDS", "td_DiscountName", "Карта", "добавлена", "удалена", "карта", "карты", "карт", "Карты"},
    {"DiscountGoodsDS", "", "цель", "добавлена", "удалена", "цель карты", "цели карт", "целей карт", "Цели карт"},
    {"ExclusionsDS", "", "период", "добавлен", "удалён", "период карты", "периода карт", "периодов карт",
     "Периоды карт"},
    {"KeyTovar", "Name", "Категория", "добавлена", "удалена", "категория", "категории", "категорий", "Категории"},
    {"Goods", "Name", "Товар", "добавлен", "удалён", "товар", "товара", "товаров", "Товары"},
};

const TColumnWords* FindColumn(const std::string& table, const std::string& column) {
  for (const TColumnWords& words : kColumns)
    if (SameText(words.table, table) && SameText(words.column, column)) return &words;
  return nullptr;
}

const TTableWords* FindTable(const std::string& table) {
  for (const TTableWords& words : kTables)
    if (SameText(words.table, table)) return &words;
  return nullptr;
}

// "1 карта", "3 карты", "11 карт".
std::string Plural(std::int64_t n, const char* one, const char* few, const char* many) {
  const std::int64_t tens = n % 100, units = n % 10;
  const char* word = (tens >= 11 && tens <= 14) ? many : units == 1 ? one : (units >= 2 && units <= 4) ? few : many;
  return std::to_string(n) + " " + word;
}
std::string Plural(std::int64_t n, const TTableWords& words) { return Plural(n, words.one, words.few, words.many); }

std::size_t Characters(const std::string& text) {
  std::size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::optional<double> RealOf(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (!end || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

// The first `limit` characters of a UTF-8 text, "…" after a longer one.
std::string Shortened(const std::string& text, std::size_t limit) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == limit) return text.substr(0, i) + "…";
  }
  return text;
}

std::string TwoDigits(int n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", n);
  return buffer;
}

// A time of day: ЧЧ:ММ, with seconds when it has any (23:59:59).
std::string ClockText(double dayFraction) {
  const long long seconds = std::llround(dayFraction * 86400.0);
  const long long h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  std::string text = TwoDigits(static_cast<int>(h)) + ":" + TwoDigits(static_cast<int>(m));
  if (s != 0) text += ":" + TwoDigits(static_cast<int>(s));
  return text;
}

constexpr double kLowestDate = -693593.0;   // 01.01.0001
constexpr double kHighestDate = 2958466.0;  // after 31.12.9999

std::string DateTimeText(double moment) {
  if (moment < kLowestDate || moment >= kHighestDate) return ListNumberText(moment);
  // Rounded to the second first, so that 23:59:59.9999 is not shown a day early.
  const double rounded = std::round(moment * 86400.0) / 86400.0;
  const TDateParts date = DecodeDate(rounded);
  const TTimeParts time = DecodeTime(rounded);
  std::string text = TwoDigits(date.day) + "." + TwoDigits(date.month) + "." + std::to_string(date.year) + " " +
                     TwoDigits(time.hour) + ":" + TwoDigits(time.minute);
  if (time.second != 0) text += ":" + TwoDigits(time.second);
  return text;
}

std::string ThresholdsText(const std::string& stored) {
  TDynDoubleArray sums, amounts;
  TDynCharArray units;
  ReadThresholdList(stored, sums, amounts, units);
  const std::string text = ThresholdListText(sums, amounts, units);
  return text.empty() ? "нет" : text;
}

std::string TimeListOperatorText(const std::string& stored) {
  TDynTimeArray begins, ends;
  TDynDoubleArray amounts;
  TDynCharArray units;
  ReadTimeList(stored, begins, ends, amounts, units);
  std::string text;
  for (std::size_t i = 0; i < begins.size() && i < ends.size() && i < amounts.size() && i < units.size(); ++i)
    text +=
        ClockText(begins[i]) + "-" + ClockText(ends[i]) + "=" + ListNumberText(amounts[i]) + UnitText(units[i]) + ";";
  return text.empty() ? "нет" : text;
}

std::string WeekDaysText(std::int64_t bits) {
  static const char* const days[] = {"пн", "вт", "ср", "чт", "пт", "сб", "вс"};
  std::string text;
  for (int day = 0; day < 7; ++day)
    if (bits & (std::int64_t{1} << day)) text += (text.empty() ? "" : ", ") + std::string(days[day]);
  return text.empty() ? "ни одного" : text;
}

// «Name» of a row another column refers to, or its identifier.
std::string Reference(const char* table, const std::string& key, const THistoryNames& names, std::int64_t version) {
  const std::string name = names.At(table, key, version);
  return name.empty() ? "№" + key : "«" + name + "»";
}

// The changes of one row within a version.
struct TRowChanges {
  std::string table;
  std::int64_t rowKey = 0;
  std::string key;
  std::optional<std::int64_t> card;
  bool added = false, removed = false;
  std::vector<const TSettingsChange*> columns;

  // The value a column ends with in this version (an added row's), or had
  // before it (a removed row's).
  std::optional<std::string> Value(const char* column) const {
    for (const TSettingsChange* c : columns)
      if (SameText(c->column, column)) return added ? c->after : removed ? c->before : c->after;
    return std::nullopt;
  }
};

std::string KeyOrRow(const std::string& key, std::int64_t rowKey) {
  return key.empty() ? "(строка " + std::to_string(rowKey) + ")" : key;
}

std::string CardName(const std::optional<std::int64_t>& card, const THistoryNames& names, std::int64_t version) {
  if (!card) return "Карта ?";
  return "Карта " + Reference("SelvoDiscountDS", std::to_string(*card), names, version);
}

// "Тип оплаты «Наличные»", "Карта «Скидка»: цель товар «Кофе»".
std::string Subject(const TRowChanges& row, const THistoryNames& names, std::int64_t version) {
  const TTableWords* words = FindTable(row.table);
  if (!words) return row.table + " " + KeyOrRow(row.key, row.rowKey);
  if (*words->nameColumn) {
    const std::string name = row.key.empty() ? std::string() : names.At(row.table, row.key, version);
    return std::string(words->subject) + (name.empty() ? " №" + KeyOrRow(row.key, row.rowKey) : " «" + name + "»");
  }
  std::string subject = CardName(row.card, names, version) + ": " + words->subject;
  if (SameText(row.table, "DiscountGoodsDS")) {
    const auto target = row.Value("ID_Target");
    const auto isCategory = row.Value("td_IsCategory");
    if (target && isCategory) {
      const bool category = ParseInteger(*isCategory).value_or(0) != 0;
      subject += std::string(category ? " категория " : " товар ") +
                 Reference(category ? "KeyTovar" : "Goods", *target, names, version);
    } else if (!row.key.empty()) {
      subject += " №" + row.key;
    }
  } else if (SameText(row.table, "ExclusionsDS")) {
    const auto begin = row.Value("ex_BDateTime");
    const auto end = row.Value("ex_EDateTime");
    const auto b = begin ? RealOf(*begin) : std::nullopt;
    const auto e = end ? RealOf(*end) : std::nullopt;
    if (b && e)
      subject += " " + DateTimeText(*b) + "–" + DateTimeText(*e);
    else if (!row.key.empty())
      subject += " №" + row.key;
  }
  return subject;
}

std::vector<TRowChanges> RowsOf(const std::vector<TSettingsChange>& changes) {
  std::vector<TRowChanges> rows;
  std::map<std::pair<std::string, std::int64_t>, std::size_t> place;
  for (const TSettingsChange& change : changes) {
    const auto id = std::make_pair(LowerCase(change.table), change.rowKey);
    auto at = place.find(id);
    if (at == place.end()) {
      at = place.emplace(id, rows.size()).first;
      rows.push_back({change.table, change.rowKey, change.key, change.card, false, false, {}});
    }
    TRowChanges& row = rows[at->second];
    if (row.key.empty()) row.key = change.key;
    if (!row.card) row.card = change.card;
    if (change.column == "*") {
      (change.after ? row.added : row.removed) = true;
    } else {
      row.columns.push_back(&change);
    }
  }
  return rows;
}

std::string RowLine(const TRowChanges& row, const THistoryNames& names, std::int64_t version) {
  const TTableWords* words = FindTable(row.table);
  const std::string subject = Subject(row, names, version);
  if (row.added && row.removed)
    return subject + " " + (words ? words->added : "добавлена") + " и " + (words ? words->removed : "удалена");
  if (row.added) return subject + " " + (words ? words->added : "добавлена");
  if (row.removed) return subject + " " + (words ? words->removed : "удалена");
  std::string line = subject + ":";
  bool first = true;
  for (const TSettingsChange* c : row.columns) {
    line += std::string(first ? " " : ", ") + ColumnCaption(c->table, c->column) + " " +
            OperatorValue(c->table, c->column, c->before, names, version) + " → " +
            OperatorValue(c->table, c->column, c->after, names, version);
    first = false;
  }
  return line;
}

// A new shop, or a version of many rows: how many rows of each table.
std::vector<std::string> CountLines(const std::vector<TRowChanges>& rows, bool newShop) {
  struct TTally {
    std::int64_t added = 0, changed = 0, removed = 0;
  };
  std::map<std::string, TTally> tally;
  std::vector<std::string> order;
  for (const TRowChanges& row : rows) {
    const std::string table = LowerCase(row.table);
    if (!tally.count(table)) order.push_back(table);
    TTally& t = tally[table];
    if (row.added && !row.removed)
      ++t.added;
    else if (row.removed && !row.added)
      ++t.removed;
    else if (!row.added)
      ++t.changed;
  }
  std::vector<std::string> lines;
  if (newShop) {
    std::string line = "новый магазин:";
    bool first = true;
    for (const TTableWords& words : kTables) {
      const auto t = tally.find(LowerCase(words.table));
      if (t == tally.end() || t->second.added == 0) continue;
      line += std::string(first ? " " : ", ") + Plural(t->second.added, words);
      first = false;
    }
    lines.push_back(first ? line + " пустой" : line);
    return lines;
  }
  for (const std::string& table : order) {
    const TTally& t = tally[table];
    const TTableWords* words = FindTable(table);
    std::string line = std::string(words ? words->rows : table.c_str()) + ":";
    bool first = true;
    for (const auto& [count, what] :
         {std::pair{t.added, "добавлено"}, std::pair{t.changed, "изменено"}, std::pair{t.removed, "удалено"}}) {
      if (count == 0) continue;
      line += std::string(first ? " " : ", ") + what + " " + std::to_string(count);
      first = false;
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

THistoryNames THistoryNames::Read(TShopConnection& connection) {
  THistoryNames names;
  const std::vector<std::string> present = connection.TableNames();
  auto hasTable = [&](const std::string& name) {
    for (const std::string& table : present)
      if (SameText(table, name)) return true;
    return false;
  };
  if (HasSettingsHistory(connection)) {
    const std::string changes = connection.Identifier(SettingsHistoryTables()[1]);
    connection.Query("SELECT version, table_name, row_ident, column_name, old_value, new_value FROM " + changes +
                         " WHERE column_name IN ('Name', 'td_DiscountName') ORDER BY version, rowid",
                     {}, [&](std::vector<TVariant>& v) {
                       TSettingsChange change;
                       change.version = LinkKey(v[0]).value_or(0);
                       change.table = ValueText(v[1]);
                       change.key = ValueText(v[2]);
                       change.column = ValueText(v[3]);
                       if (!std::holds_alternative<std::monostate>(v[4])) change.before = ValueText(v[4]);
                       if (!std::holds_alternative<std::monostate>(v[5])) change.after = ValueText(v[5]);
                       names.AddChange(change);
                     });
  }
  for (const TTableWords& words : kTables) {
    if (!*words.nameColumn || !hasTable(words.table)) continue;
    const TColumnWords* first = nullptr;
    for (const TColumnWords& column : kColumns)
      if (SameText(column.table, words.table)) {
        first = &column;  // the identifier comes first in every table
        break;
      }
    if (!first) continue;
    connection.Query(
        "SELECT " + connection.Identifier(first->column) + ", " + connection.Identifier(words.nameColumn) + " FROM " +
            connection.Identifier(words.table),
        {}, [&](std::vector<TVariant>& v) {
          if (!std::holds_alternative<std::monostate>(v[0]) && !std::holds_alternative<std::monostate>(v[1]))
            names.AddCurrent(words.table, ValueText(v[0]), ValueText(v[1]));
        });
  }
  return names;
}

void THistoryNames::AddChange(const TSettingsChange& change) {
  const TTableWords* words = FindTable(change.table);
  if (!words || !*words->nameColumn || !SameText(change.column, words->nameColumn) || change.key.empty()) return;
  steps_[{LowerCase(change.table), change.key}].push_back({change.version, change.before, change.after});
}

void THistoryNames::AddCurrent(const std::string& table, const std::string& key, std::string name) {
  current_[{LowerCase(table), key}] = std::move(name);
}

std::string THistoryNames::At(const std::string& table, const std::string& key, std::int64_t version) const {
  const TRowName row{LowerCase(table), key};
  const auto steps = steps_.find(row);
  if (steps != steps_.end()) {
    const std::vector<TStep>& list = steps->second;
    auto later = list.begin();
    while (later != list.end() && later->version <= version) ++later;
    if (later != list.begin()) {
      const TStep& last = *(later - 1);
      return last.after ? *last.after : last.before.value_or("");
    }
    return later->before.value_or("");  // the name it had until its first change
  }
  const auto now = current_.find(row);
  return now == current_.end() ? std::string() : now->second;
}

std::string ColumnCaption(const std::string& table, const std::string& column) {
  const TColumnWords* words = FindColumn(table, column);
  return words ? words->caption : column;
}

std::string OperatorValue(const std::string& table, const std::string& column, const std::optional<std::string>& stored,
                          const THistoryNames& names, std::int64_t version) {
  if (!stored) return "пусто";
  const TColumnWords* words = FindColumn(table, column);
  const TShape shape = words ? words->shape : TShape::Plain;
  const std::string& text = *stored;
  const std::optional<double> real = RealOf(text);
  const std::optional<std::int64_t> integer = ParseInteger(text);
  switch (shape) {
    case TShape::Plain: return Shortened(text, 60);
    case TShape::Text: return "«" + Shortened(text, 60) + "»";
    case TShape::LongText: {
      const std::size_t line = text.find_first_of("\r\n");
      return "«" + Shortened(text.substr(0, line), 30) + (line == std::string::npos ? "" : "…") + "» (" +
             Plural(static_cast<std::int64_t>(Characters(text)), "символ", "символа", "символов") + ")";
    }
    case TShape::Real: return real ? ListNumberText(*real) : text;
    case TShape::Flag: return integer ? (*integer != 0 ? "да" : "нет") : text;
    case TShape::TimeOfDay: return real && *real >= 0 && *real <= 1 ? ClockText(*real) : text;
    case TShape::DateTime: return real ? DateTimeText(*real) : text;
    case TShape::Thresholds: return ThresholdsText(text);
    case TShape::TimeList: return TimeListOperatorText(text);
    case TShape::WeekDays: return integer ? WeekDaysText(*integer) : text;
    case TShape::CardTarget:
      return integer && *integer == 0 ? "сумму чека" : integer && *integer == 1 ? "выбранные товары" : text;
    case TShape::TargetKind: return integer ? (*integer != 0 ? "категория" : "товар") : text;
    case TShape::PaymentRef: return Reference("Payment", text, names, version);
    case TShape::CardRef: return Reference("SelvoDiscountDS", text, names, version);
    case TShape::CategoryRef: return Reference("KeyTovar", text, names, version);
  }
  return text;
}

std::string ChangeLine(const TSettingsChange& change, const THistoryNames& names) {
  TRowChanges row{change.table, change.rowKey, change.key, change.card, false, false, {}};
  if (change.column == "*") {
    (change.after ? row.added : row.removed) = true;
    return RowLine(row, names, change.version);
  }
  row.columns.push_back(&change);
  return RowLine(row, names, change.version);
}

std::vector<std::string> SummaryLines(const TVersionWithChanges& version, const THistoryNames& names) {
  const std::vector<TRowChanges> rows = RowsOf(version.changes);
  const bool newShop = version.version.origin == kOriginInit;
  if (newShop || rows.size() > kRowsToTell) return CountLines(rows, newShop);
  std::vector<std::string> lines;
  for (const TRowChanges& row : rows) lines.push_back(RowLine(row, names, version.version.number));
  if (lines.empty()) lines.push_back("без изменений");
  return lines;
}

std::string MomentText(const std::string& moment) {
  // "YYYY-MM-DDTHH:MM:SS[.fff]"
  if (moment.size() < 19 || moment[4] != '-' || moment[7] != '-' || moment[10] != 'T') return moment;
  return moment.substr(8, 2) + "." + moment.substr(5, 2) + "." + moment.substr(0, 4) + " " + moment.substr(11, 8);
}

}  // namespace selvo::host
