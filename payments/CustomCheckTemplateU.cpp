#include "payments/CustomCheckTemplateU.h"

#include <cerrno>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "platform/TextLines.h"

namespace selvo {
namespace {

constexpr const char* kTimeHint = "Время берется с КОМПЬЮТЕРА!";

}  // namespace

const std::vector<TTemplateVariable> kRepeatVariables = {
    {"<#Tovar>", "- наименование товара", ""},   {"<#Categ>", "- категория товара", ""},
    {"<#Price>", "- цена (со скидкой)", ""},     {"<#Count>", "- кол-во товара", ""},
    {"<#Summa>", "- сумма = цена * кол-во", ""}, {"<#Kod>", "- штрих-код товара", ""},
    {"<#Country>", "- страна-изготовитель", ""}, {"<#EdIzm>", "- единица измерения", ""},
    {"<#Line>", "- номер строки", ""},
};

const std::vector<TTemplateVariable> kHeadFooterVariables = {
    {"<#CurDateTime>", "- текущие дата и время (на момент печати)", kTimeHint},
    {"<#Itog>", "- общая сумма покупки", ""},
    {"<#DSCPr>", "- процент скидки", ""},
    {"<#DSCSum>", "- сумма скидки", ""},
    {"<#DateTime>", "- дата и время проведения продажи", kTimeHint},
    {"<#Kassir>", "- Ф.И.О. кассира", ""},
    {"<#BNSchet>", "- номер счета (для безналичного покупателя)", ""},
    {"<#Pokupatel>", "- наименование контрагента-покупателя", ""},
    {"<#CardNum>", "- номер платежной или дисконтной карты", ""},
    {"<#AZS>", "- наименование АЗС", ""},
    {"<#OrgName>", "- наименование организации", ""},
    {"<#Payment>", "- наименование вида оплаты", ""},
    {"<#PokupINN>", "- ИНН контрагента-покупателя", ""},
};

// ---------------------------------------------------------------------------
// Template text

namespace {

constexpr std::string_view kDelimiters[3] = {"#Delim1#", "#Delim2#", "#Delim3#"};

bool IsLineBreak(char16_t c) { return c == u'\n' || c == u'\u2028' || c == u'\u2029'; }

// Every line of the text followed by CR LF; CR LF, LF and CR all end a line,
// and a break at the very end adds no empty line.
std::string WithLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (std::string_view line : SplitLines(text)) out.append(line).append("\r\n");
  return out;
}

}  // namespace

// A missing marker keeps the rest of the text in the part being read, so that
// opening and confirming an incomplete template never drops any of its text.
TCustomCheckParts SplitTemplate(const std::string& checkTemplate) {
  std::string* parts[4];
  TCustomCheckParts result;
  parts[0] = &result.klishe;
  parts[1] = &result.head;
  parts[2] = &result.repeat;
  parts[3] = &result.footer;
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t marker = checkTemplate.find(kDelimiters[i], start);
    if (marker == std::string::npos) {
      *parts[i] = checkTemplate.substr(start);
      return result;
    }
    *parts[i] = checkTemplate.substr(start, marker - start);
    start = marker + kDelimiters[i].size();
  }
  *parts[3] = checkTemplate.substr(start);
  return result;
}

std::string JoinTemplate(const TCustomCheckParts& parts) {
  std::string text;
  text.reserve(parts.klishe.size() + parts.head.size() + parts.repeat.size() + parts.footer.size() + 24);
  text.append(parts.klishe).append(kDelimiters[0]);
  text.append(parts.head).append(kDelimiters[1]);
  text.append(parts.repeat).append(kDelimiters[2]);
  text.append(parts.footer);
  return text;
}

TTemplateHighlights FindTemplateHighlights(std::u16string_view text) {
  TTemplateHighlights found;
  // A "<#" without a ">" after it means no later "<#" has one either.
  std::size_t open = text.find(u"<#");
  while (open != std::u16string_view::npos) {
    const std::size_t close = text.find(u'>', open + 2);
    if (close == std::u16string_view::npos) break;
    found.variables.push_back({int(open), int(close - open + 1)});
    open = text.find(u"<#", close + 1);
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'@' || (i > 0 && !IsLineBreak(text[i - 1]))) continue;
    std::size_t end = i;
    while (end < text.size() && !IsLineBreak(text[end])) ++end;
    found.boldLines.push_back({int(i), int(end - i)});
    i = end;
  }
  return found;
}

std::string LoadTemplateFile(const std::string& fileName) {
  std::string bytes;
  if (const int rc = ReadWholeFile(fileName, bytes); rc != 0) {
    const char* what = rc == ENOENT ? "Не удалось открыть файл \"" : "Не удалось прочитать файл \"";
    throw ETemplateFileError(what + fileName + "\": " + FileErrorText(rc));
  }
  return WithLineEnds(Cp1251ToUtf8(bytes));
}

void SaveTemplateFile(const std::string& fileName, const std::string& text) {
  // Replaced in one step: a refused write leaves the old file whole.
  if (const int rc = ReplaceWholeFile(fileName, Utf8ToCp1251(WithLineEnds(text))); rc != 0)
    throw ETemplateFileError("Не удалось записать файл \"" + fileName + "\": " + FileErrorText(rc));
}

}  // namespace selvo
