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

void PrintTo(TShopDbKind kind, std::ostream* os) { *os << (kind == TShopDbKind::File ? "SQLite file" : "PostgreSQL"); }

std::string ShopDbKindName(const ::testing::TestParamInfo<TShopDbKind>& info) {
  return info.param == TShopDbKind::File ? "File" : "Server";
}

}  // namespace selvo::test
