#include "platform/TextLines.h"

#include <gmock/gmock.h>

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

}  // namespace
}  // namespace selvo
