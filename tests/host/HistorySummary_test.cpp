// The history in the operator's words: values as the editor shows them,
// names of rows as each version left them, and versions of many rows told
// by counts.
#include "host/insight/HistorySummary.h"

#include <gtest/gtest.h>

namespace selvo::host {
namespace {

TSettingsChange Change(std::int64_t version, const std::string& table, std::int64_t rowKey, const std::string& key,
                       const std::string& column, std::optional<std::string> before, std::optional<std::string> after,
                       std::optional<std::int64_t> card = std::nullopt) {
  return {version, table, rowKey, key, card, column, std::move(before), std::move(after)};
}

TEST(HistorySummary, ValuesReadAsTheOperatorKnowsThem) {
  THistoryNames names;
  names.AddCurrent("Payment", "2", "безналичные");
  const struct {
    const char* table;
    const char* column;
    std::optional<std::string> stored;
    const char* shown;
  } cases[] = {
      {"Goods", "Price", "0.10000000000000001", "0.1"},
      {"Goods", "Price", "45.0", "45"},
      {"Goods", "Price", std::nullopt, "пусто"},
      {"Goods", "Name", "Кофе", "«Кофе»"},
      {"SelvoDiscountDS", "td_BTime", "0.375", "09:00"},
      {"SelvoDiscountDS", "td_ETime", "0.999988425925926", "23:59:59"},
      {"SelvoDiscountDS", "td_ETime", "вечер", "вечер"},
      {"ExclusionsDS", "ex_BDateTime", "46023.0", "01.01.2026 00:00"},
      {"ExclusionsDS", "ex_EDateTime", "46030.9999884259", "08.01.2026 23:59:59"},
      {"ExclusionsDS", "ex_EDateTime", "1e300", "1E300"},
      {"Payment", "Enabled", "1", "да"},
      {"Payment", "Enabled", "0", "нет"},
      {"SelvoDiscountDS", "td_Threshold", "1000=3%;5000=5%;", "1000=3%;5000=5%;"},
      {"SelvoDiscountDS", "td_Threshold", "1000=3 %;мусор;3000=150р", "1000=3%;3000=150р;"},
      {"SelvoDiscountDS", "td_Threshold", "", "нет"},
      {"SelvoDiscountDS", "td_TimeDscList", "23:0:0-23:59:59=10000000р;0:0:0-07:59:59=1%;",
       "23:00-23:59:59=10000000р;00:00-07:59:59=1%;"},
      {"SelvoDiscountDS", "td_WeekDays", "65", "пн, вс"},
      {"SelvoDiscountDS", "td_WeekDays", "0", "ни одного"},
      {"SelvoDiscountDS", "td_DiscountTarget", "1", "выбранные товары"},
      {"SelvoDiscountDS", "PayID", "2", "«безналичные»"},
      {"SelvoDiscountDS", "PayID", "7", "№7"},
      {"DiscountGoodsDS", "td_IsCategory", "1", "категория"},
      {"Payment", "CUSTOMCHECK", "Чек\r\nстрока 2", "«Чек…» (13 символов)"},
      {"Payment", "CUSTOMCHECK", "Чек №1", "«Чек №1» (6 символов)"},
      {"Unknown", "Column", "как есть", "как есть"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.table) + "." + c.column + " = " + c.stored.value_or("<null>"));
    EXPECT_EQ(OperatorValue(c.table, c.column, c.stored, names, 1), c.shown);
  }
}

TEST(HistorySummary, RowsAreNamedAsEachVersionLeftThem) {
  THistoryNames names;
  names.AddChange(Change(1, "SelvoDiscountDS", 1, "3", "td_DiscountName", std::nullopt, "Утро"));
  names.AddChange(Change(4, "SelvoDiscountDS", 1, "3", "td_DiscountName", "Утро", "Утренний кофе"));
  names.AddChange(Change(6, "SelvoDiscountDS", 1, "3", "td_DiscountName", "Утренний кофе", std::nullopt));
  names.AddChange(Change(5, "Goods", 9, "101", "Name", "Вода", "Вода 0,5"));
  names.AddCurrent("Goods", "101", "Вода 0,5");
  names.AddCurrent("Goods", "102", "Сок");
  const struct {
    const char* table;
    const char* key;
    std::int64_t version;
    const char* name;
  } cases[] = {
      {"SelvoDiscountDS", "3", 1, "Утро"},
      {"SelvoDiscountDS", "3", 3, "Утро"},
      {"SelvoDiscountDS", "3", 4, "Утренний кофе"},
      {"SelvoDiscountDS", "3", 6, "Утренний кофе"},  // the name it had when removed
      {"Goods", "101", 2, "Вода"},                   // before its first change
      {"Goods", "102", 2, "Сок"},                    // never changed: as it is now
      {"Goods", "103", 2, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(names.At(c.table, c.key, c.version), c.name) << c.table << " " << c.key << " @" << c.version;
}

TEST(HistorySummary, VersionsAreToldRowByRowOrByCounts) {
  THistoryNames names;
  names.AddCurrent("SelvoDiscountDS", "4", "Кофе и хот-дог");
  names.AddCurrent("Goods", "304", "Хот-дог");
  auto added = [](std::int64_t version, const std::string& table, std::int64_t rowKey) {
    return Change(version, table, rowKey, std::to_string(rowKey), "*", std::nullopt, "1");
  };
  const TSettingsChange target[] = {
      Change(2, "DiscountGoodsDS", 7, "7", "*", std::nullopt, "1", 4),
      Change(2, "DiscountGoodsDS", 7, "7", "td_IsCategory", std::nullopt, "0", 4),
      Change(2, "DiscountGoodsDS", 7, "7", "ID_Target", std::nullopt, "304", 4),
  };
  std::vector<TSettingsChange> shop;
  for (std::int64_t i = 1; i <= 21; ++i) shop.push_back(added(1, "SelvoDiscountDS", i));
  for (std::int64_t i = 1; i <= 2; ++i) shop.push_back(added(1, "Payment", i));
  shop.push_back(added(1, "Goods", 1));
  std::vector<TSettingsChange> many;
  for (std::int64_t i = 1; i <= 12; ++i)
    many.push_back(Change(3, "Goods", i, std::to_string(i), "Price", "1.0", "2.0"));
  many.push_back(Change(3, "Goods", 100, "100", "*", "1", std::nullopt));
  const struct {
    const char* what;
    TVersionWithChanges version;
    std::vector<std::string> lines;
  } cases[] = {
      {"a card's new target",
       {{2, "", "", "", kOriginEditor, 0}, {std::begin(target), std::end(target)}},
       {"Карта «Кофе и хот-дог»: цель товар «Хот-дог» добавлена"}},
      {"a new shop", {{1, "", "", "", kOriginInit, 0}, shop}, {"новый магазин: 2 типа оплаты, 21 карта, 1 товар"}},
      {"an empty new shop", {{1, "", "", "", kOriginInit, 0}, {}}, {"новый магазин: пустой"}},
      {"many rows", {{3, "", "", "", kOriginImport, 0}, many}, {"Товары: изменено 12, удалено 1"}},
      {"nothing", {{3, "", "", "", kOriginEditor, 0}, {}}, {"без изменений"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SummaryLines(c.version, names), c.lines) << c.what;
}

TEST(HistorySummary, MomentsReadAsDayMonthYear) {
  EXPECT_EQ(MomentText("2026-12-09T14:03:05.120"), "09.12.2026 14:03:05");
  EXPECT_EQ(MomentText("вчера"), "вчера");
}

}  // namespace
}  // namespace selvo::host
