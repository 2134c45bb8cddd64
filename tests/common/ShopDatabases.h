// The two kinds of shop database the host works on, for tests that must
// hold on both: a file (SQLite) and a database on the test server
// (PostgreSQL, tests registered with selvo_add_pg_tests).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/shopdb/ShopConnection.h"
#include "tests/common/TestSupport.h"

namespace selvo::test {

enum class TShopDbKind { File, Server };

// An empty place for one test's shop database: a file name in a temporary
// folder, or a fresh database on the test server named after the running
// test. Nothing is created in it; CreateShopDatabase or CreateSampleShop
// do that.
class TTestShopDatabase {
 public:
  explicit TTestShopDatabase(TShopDbKind kind);
  const std::string& Address() const { return address_; }
  TShopDbKind Kind() const { return kind_; }

 private:
  TShopDbKind kind_;
  TempDir dir_;
  std::string address_;
};

// A sale on the sample shop paid by the discount card: coffee and a hot dog
// reach the threshold of card 4 (300 -> 10 %) only together, with two
// bottles of water beside them, at noon on a Tuesday.
inline constexpr const char* kSampleGroupSale =
    R"({"payment": "дисконтная карта", "moment": "2026-12-08T12:30:00", "lines": [
    {"goods": 201, "category": 2, "zprice": 40, "price": 150, "quantity": 1},
    {"goods": 304, "category": 3, "zprice": 90, "price": 199, "quantity": 1},
    {"goods": 101, "category": 1, "zprice": 28, "price": 45, "quantity": 2}]})";

// The first value of a query as a whole number (a real one truncated); -1
// when it is null or a text.
std::int64_t ScalarOf(host::TShopConnection& connection, const std::string& sql);

// The statements that drop a file's history triggers of `table`, which
// name every column: a column is dropped by hand only after them (the
// server's read the row whole and need not go).
std::string DropFileHistoryTriggers(const std::string& table);

// How test names and messages show the kind.
void PrintTo(TShopDbKind kind, std::ostream* os);

// "File" / "Server", for INSTANTIATE_TEST_SUITE_P.
std::string ShopDbKindName(const ::testing::TestParamInfo<TShopDbKind>& info);

// Both kinds, for INSTANTIATE_TEST_SUITE_P.
#define SELVO_ON_BOTH_DATABASES(suite)                                                                              \
  INSTANTIATE_TEST_SUITE_P(Databases, suite,                                                                        \
                           ::testing::Values(::selvo::test::TShopDbKind::File, ::selvo::test::TShopDbKind::Server), \
                           ::selvo::test::ShopDbKindName)

}  // namespace selvo::test
