// Sale identifiers: what a till prints on a receipt and finds a sale by.
#include "host/journal/SaleId.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

namespace selvo::host {
namespace {

// Many draws: each well-formed, none twice, and every character of the
// alphabet at every place (so no place holds fewer than five random bits).
TEST(SaleIdTest, DrawsAreWellFormedDistinctAndUseTheWholeAlphabetAtEveryPlace) {
  constexpr int kDraws = 100000;
  std::set<std::string> seen;
  std::array<std::set<char>, kSaleIdLength> byPlace;
  for (int i = 0; i < kDraws; ++i) {
    const std::string id = NewSaleId();
    ASSERT_TRUE(IsSaleId(id)) << id;
    ASSERT_TRUE(seen.insert(id).second) << "drawn twice: " << id;
    for (std::size_t place = 0; place < kSaleIdLength; ++place) byPlace[place].insert(id[place]);
  }
  for (std::size_t place = 0; place < kSaleIdLength; ++place)
    EXPECT_EQ(byPlace[place].size(), kSaleIdAlphabet.size()) << "place " << place;
}

TEST(SaleIdTest, OnlyTwelveCharactersOfTheAlphabetAreAnIdentifier) {
  const struct {
    const char* rule;
    std::string text;
    bool id;
  } cases[] = {
      {"digits and letters", "0123456789AB", true},
      {"the last letters", "CDEFGHJKMNPZ", true},
      {"empty", "", false},
      {"one short", "0123456789A", false},
      {"one long", "0123456789ABC", false},
      {"I, read as 1", "0123456789AI", false},
      {"L, read as 1", "0123456789AL", false},
      {"O, read as 0", "0123456789AO", false},
      {"U", "0123456789AU", false},
      {"lower case", "0123456789ab", false},
      {"a dash", "012345-789AB", false},
      {"a zero byte", std::string("0123456789A\0", 12), false},
      {"a Cyrillic letter", "0123456789\xD0\x90", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSaleId(c.text), c.id) << c.rule;
}

}  // namespace
}  // namespace selvo::host
