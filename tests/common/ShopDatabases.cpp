#include "tests/common/ShopDatabases.h"

#include <cstdio>
#include <functional>
#include <ostream>

#include "tests/common/PgTestServer.h"

namespace selvo::test {

TTestShopDatabase::TTestShopDatabase(TShopDbKind kind) : kind_(kind) {
  if (kind == TShopDbKind::File) {
    address_ = dir_.file("shop.db");
    return;
  }
  // Tests run side by side, each in its own database.
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "shop";
  char hex[32];
  std::snprintf(hex, sizeof hex, "%016zx", std::hash<std::string>{}(name));
  address_ = PgCreateScratchDatabase(std::string("shop_") + hex);
}

std::int64_t ScalarOf(host::TShopConnection& connection, const std::string& sql) {
  const TVariant value = connection.QueryValue(sql);
  if (const auto* real = std::get_if<double>(&value)) return static_cast<std::int64_t>(*real);
  const auto* number = std::get_if<std::int64_t>(&value);
  return number ? *number : -1;
}

void PrintTo(TShopDbKind kind, std::ostream* os) { *os << (kind == TShopDbKind::File ? "SQLite file" : "PostgreSQL"); }

std::string ShopDbKindName(const ::testing::TestParamInfo<TShopDbKind>& info) {
  return info.param == TShopDbKind::File ? "File" : "Server";
}

std::string DropFileHistoryTriggers(const std::string& table) {
  std::string sql;
  for (const char* what : {"insert", "update", "delete"})
    sql += "DROP TRIGGER IF EXISTS \"SettingsHistory_" + table + "_" + what + "\"; ";
  return sql;
}

}  // namespace selvo::test
