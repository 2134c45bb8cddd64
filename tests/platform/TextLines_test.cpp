#include "platform/TextLines.h"

#include <gmock/gmock.h>

#include <random>
#include <string>

namespace selvo {
namespace {

using ::testing::ElementsAre;

TEST(SplitLines, LinesEndAtCrLfCrOrLf) {
  EXPECT_THAT(SplitLines("a\r\nb\rc\nd"), ElementsAre("a", "b", "c", "d"));
  EXPECT_THAT(SplitLines("a\r\n\r\nb\r\n"), ElementsAre("a", "", "b"));
  EXPECT_THAT(SplitLines("a\n\rb"), ElementsAre("a", "", "b")) << "LF CR is two breaks";
  EXPECT_THAT(SplitLines("a\r"), ElementsAre("a"));
  EXPECT_THAT(SplitLines("\r\n"), ElementsAre(""));
  EXPECT_TRUE(SplitLines("").empty());
}

TEST(LineAt, TellsWhereTheNextLineStarts) {
  const std::string_view text = "ab\r\ncd\ref";
  EXPECT_EQ(LineAt(text, 0).text, "ab");
  EXPECT_EQ(LineAt(text, 0).next, 4u);
  EXPECT_EQ(LineAt(text, 4).text, "cd");
  EXPECT_EQ(LineAt(text, 4).next, 7u);
  EXPECT_EQ(LineAt(text, 7).text, "ef");
  EXPECT_EQ(LineAt(text, 7).next, text.size());
}

// Breaks are looked for several bytes at a time: texts of bytes close to CR
// and LF (and their high-bit twins), with breaks at every offset, must split
// as a plain byte-by-byte walk splits them.
TEST(LineAt, FindsEveryBreakWhateverItsOffsetAndNeighbours) {
  const std::string alphabet("a\r\n\x0c\x0e\x0b\x8d\x8a\xff\0", 10);
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string text(random() % 40, 'a');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    for (std::size_t start = 0; start <= text.size(); ++start) {
      std::size_t end = start;
      while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
      ASSERT_EQ(LineAt(text, start).text.size(), end - start) << ::testing::PrintToString(text) << " at " << start;
    }
  }
}

}  // namespace
}  // namespace selvo
