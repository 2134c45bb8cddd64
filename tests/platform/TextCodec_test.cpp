#include "platform/TextCodec.h"

#include <gtest/gtest.h>

namespace selvo {
namespace {

TEST(TextCodec, Cp1251RoundTripOfEveryByte) {
  std::string all;
  for (int c = 1; c < 256; ++c)
    if (c != 0x98) all += static_cast<char>(c);  // 0x98 has no character in the code page
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
}

TEST(TextCodec, CyrillicConvertsBothWays) {
  EXPECT_EQ(Utf8ToCp1251("ЛБР"), "\xCB\xC1\xD0");
  EXPECT_EQ(Cp1251ToUtf8("\xB8\xA8"), "ёЁ");
  EXPECT_EQ(Utf8ToCp1251("a\u4E2Db"), "a?b") << "characters outside the code page become '?'";
  EXPECT_EQ(Utf8ToCp1251(std::string("x\xFFy")), "x?y") << "broken UTF-8 does not stop the conversion";
}

TEST(TextCodec, LengthsCountCharactersNotBytes) {
  EXPECT_EQ(Utf8Length("платежный"), 9u);
  EXPECT_EQ(Utf8Left("платежный терминал", 9), "платежный");
  EXPECT_EQ(Utf8Left("ab", 5), "ab");
}

TEST(TextCodec, CaseFoldingCoversCyrillic) {
  EXPECT_TRUE(SameText("ЛБР", "лбр"));
  EXPECT_TRUE(SameText("Ёлка", "ёЛКА"));
  EXPECT_FALSE(SameText("наличные", "наличные "));
  EXPECT_EQ(LowerCase("ПЛАТЕЖНЫЙ Terminal"), "платежный terminal");
  EXPECT_EQ(UpperCase("дисконтная"), "ДИСКОНТНАЯ");
}

TEST(TextCodec, ByteFoldingAgreesWithTextFolding) {
  for (int c = 0; c < 256; ++c) {
    if (c == 0x98) continue;
    std::string byte(1, static_cast<char>(c));
    std::string lowered(1, static_cast<char>(LowerCp1251(static_cast<unsigned char>(c))));
    EXPECT_EQ(Cp1251ToUtf8(lowered), LowerCase(Cp1251ToUtf8(byte))) << "byte " << c;
  }
}

TEST(TextCodec, TrimDropsBlanksAndControls) {
  EXPECT_EQ(Trim(" \r\n\t x y \r\n"), "x y");
  EXPECT_EQ(Trim(" \r\n "), "");
}

}  // namespace
}  // namespace selvo
