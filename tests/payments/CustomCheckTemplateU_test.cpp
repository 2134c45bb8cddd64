#include "payments/CustomCheckTemplateU.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "payments/SelvoPaymentListU.h"
#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "tests/common/FailingFiles.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// ASCII test texts as the UTF-16 an editor holds.
std::u16string Utf16(const char* ascii) { return std::u16string(ascii, ascii + std::char_traits<char>::length(ascii)); }

// ---------------------------------------------------------------------------
// Template parts

TEST(CustomCheckTemplate, DefaultTemplateSplitsIntoItsPartsAndJoinsBackUnchanged) {
  const std::string& text = DefaultCustomCheck();
  const TCustomCheckParts parts = SplitTemplate(text);
  EXPECT_EQ(parts.klishe, "       <#OrgName> <#AZS>\r\n         СПАСИБО ЗА ПОКУПКУ\r\n\r\n\r\n");
  EXPECT_EQ(parts.head,
            "  ТОВАРНЫЙ ЧЕК: <#DateTime>\r\nДок.: <#BNSchet(10)> Оплата: <#Payment(11)>\r\n" + std::string(36, '-'));
  EXPECT_EQ(parts.repeat, "<#Line( 2.0)>.<#Tovar(33)>\r\n <#Kod(13)> <#Count(5.1)>x<#Price(7.2 )><#Summa(8.2)>");
  EXPECT_EQ(parts.footer,
            std::string(36, '-') + "\r\n@ИТОГО:  <#Itog(10.2)>р.\r\n\r\nКАССИР ____________ <#Kassir(16)>\r\n\r\n\r\n");
  EXPECT_EQ(JoinTemplate(parts), text);
}

// An incomplete template keeps all its text: what follows the last marker
// found stays in the part being read, the later parts are empty.
TEST(CustomCheckTemplate, MissingMarkersKeepTheRestInThePartBeingRead) {
  struct Case {
    const char* name;
    std::string text;
    TCustomCheckParts parts;
    std::string joined;
  };
  const Case cases[] = {
      {"no markers", "A\r\nB", {"A\r\nB", "", "", ""}, "A\r\nB#Delim1##Delim2##Delim3#"},
      {"empty", "", {"", "", "", ""}, "#Delim1##Delim2##Delim3#"},
      {"first marker only", "K#Delim1#H", {"K", "H", "", ""}, "K#Delim1#H#Delim2##Delim3#"},
      {"no third marker", "K#Delim1#H#Delim2#R", {"K", "H", "R", ""}, "K#Delim1#H#Delim2#R#Delim3#"},
      {"second marker before the first",
       "a#Delim2#b#Delim1#c",
       {"a#Delim2#b", "c", "", ""},
       "a#Delim2#b#Delim1#c#Delim2##Delim3#"},
      {"markers again inside parts",
       "#Delim1##Delim1##Delim2##Delim3##Delim3#",
       {"", "#Delim1#", "", "#Delim3#"},
       "#Delim1##Delim1##Delim2##Delim3##Delim3#"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TCustomCheckParts parts = SplitTemplate(c.text);
    EXPECT_EQ(parts, c.parts);
    EXPECT_EQ(JoinTemplate(parts), c.joined);
  }
}

TEST(CustomCheckTemplate, LongFooterIsKeptWhole) {
  const std::string footer(70000, 'x');
  EXPECT_EQ(SplitTemplate("#Delim1##Delim2##Delim3#" + footer).footer, footer);
}

// ---------------------------------------------------------------------------
// Highlight ranges

TEST(CustomCheckHighlights, VariablesRunFromTheirOpeningToTheNextClosingBracket) {
  using R = std::vector<TTextRange>;
  struct Case {
    const char* text;
    R variables;
  };
  const Case cases[] = {
      {"<#A> x <#B(10.2)>", R{{0, 4}, {7, 10}}},
      {"<#A> <#B(10.2)", R{{0, 4}}},  // the second is never closed
      {"<#A <#B>", R{{0, 8}}},        // from the first "<#" to the ">"
      {"a > <#X\n>", R{{4, 5}}},      // a variable may span lines
      {"<#>", R{{0, 3}}},
      {"no variables here >", R{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FindTemplateHighlights(Utf16(c.text)).variables, c.variables);
  }
}

TEST(CustomCheckHighlights, BoldLinesStartWithAnAtSignAtALineStart) {
  using R = std::vector<TTextRange>;
  EXPECT_EQ(FindTemplateHighlights(u"@bold\nin @middle\n@later").boldLines, (R{{0, 5}, {17, 6}}));
  EXPECT_EQ(FindTemplateHighlights(u" @x\n@").boldLines, (R{{4, 1}}));
  EXPECT_EQ(FindTemplateHighlights(u"@@\n\n@").boldLines, (R{{0, 2}, {4, 1}}));
  // Editor documents separate lines by U+2029.
  EXPECT_EQ(FindTemplateHighlights(u"a\u2029@b").boldLines, (R{{2, 2}}));
}

TEST(CustomCheckTemplateFile, EveryLineEndsInCrLfOnDiskAndAfterLoading) {
  TempDir dir;
  const std::string path = dir.file("t.txt");
  SaveTemplateFile(path, "Чек\nА\rБ");
  EXPECT_EQ(ReadFileBytes(path), Utf8ToCp1251("Чек\r\nА\r\nБ\r\n"));
  SaveTemplateFile(path, "");
  EXPECT_EQ(ReadFileBytes(path), "");

  WriteFileBytes(path, Utf8ToCp1251("Клише#Delim1#Заголовок\n#Delim2#\r\r\n#Delim3#Итог"));
  EXPECT_EQ(LoadTemplateFile(path), "Клише#Delim1#Заголовок\r\n#Delim2#\r\n\r\n#Delim3#Итог\r\n");
}

TEST(CustomCheckTemplateFile, RefusedSaveLeavesTheOldFileWhole) {
  TempDir dir;
  const std::string path = dir.file("t.txt");
  SaveTemplateFile(path, "старый");
  test::TFailingFiles full(TFileStep::Write, ENOSPC);
  EXPECT_THROW(SaveTemplateFile(path, std::string(100000, 'n')), ETemplateFileError);
  EXPECT_EQ(ReadFileBytes(path), Utf8ToCp1251("старый\r\n"));
}

}  // namespace
}  // namespace selvo
