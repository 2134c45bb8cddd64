#include "platform/TextCodec.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace selvo {
namespace {

TEST(TextCodec, Cp1251RoundTripOfEveryByte) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);  // 0x98, which has no character, included
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\u0098");
}

TEST(TextCodec, TableAgreesWithTheSystemConverter) {
  iconv_t cd = iconv_open("UTF-8", "WINDOWS-1251");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  for (int c = 1; c < 256; ++c) {
    if (c == 0x98) continue;
    char in = static_cast<char>(c), out[8];
    char *from = &in, *to = out;
    size_t inLeft = 1, outLeft = sizeof out;
    ASSERT_NE(iconv(cd, &from, &inLeft, &to, &outLeft), static_cast<size_t>(-1)) << c;
    EXPECT_EQ(Cp1251ToUtf8(std::string(1, in)), std::string(out, to)) << "byte " << c;
  }
  iconv_close(cd);
}

TEST(TextCodec, BrokenTextsAreEqualOnlyWhenTheirBytesAre) {
  EXPECT_FALSE(SameText("\xFF\xFE", "\xFE\xFF"));
  EXPECT_FALSE(SameText("a\xC0", "a\xC1")) << "same length, both invalid";
  EXPECT_TRUE(SameText("A\xFF", "a\xFF"));
  EXPECT_FALSE(SameText("\xFF", "\uFFFD")) << "a broken byte is not the replacement character";
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

// A beginning is the text's first characters compared as whole texts are.
TEST(TextCodec, ABeginningIsTheSameTextAsTheFirstCharacters) {
  const struct {
    const char* text;
    const char* prefix;
    bool begins;
  } cases[] = {
      {"Платежный терминал", "ПЛАТЕЖ", true},
      {"Платежный терминал", "платежный терминал", true},
      {"Ёлка", "ё", true},
      {"Наличные", "Наличные ", false},
      {"Нал", "Наличные", false},
      {"abc", "", true},
      {"", "a", false},
      {"a\xFF\xFE"
       "b",
       "A\xFF\xFE", true},
      {"a\xFF"
       "b",
       "a\uFFFD", false},
      {"\xD0\x9F", "\xD0", false},
      {"\xD0", "\xD0", true},
      {"п\xD0", "П\xD0\x9F", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StartsWithText(c.text, c.prefix), c.begins) << c.text << " / " << c.prefix;
    EXPECT_EQ(StartsWithText(c.text, c.prefix), SameText(Utf8Left(c.text, Utf8Length(c.prefix)), c.prefix))
        << c.text << " / " << c.prefix;
  }
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
