#include "host/program/PaymentTable.h"

#include <vector>

#include "host/session/SaleCalculation.h"
#include "host/session/SaleJson.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

constexpr const char* kAbsent = "—";

std::string PaymentTypeText(int type) {
  if (type == 0) return "наличные";
  if (type == 1) return "безналичные";
  return std::to_string(type);
}

std::string CheckText(int check) {
  if (check >= 0 && check <= 6) return kCheckKindLongTexts[check];
  return std::to_string(check);
}

std::string GsmText(std::int32_t gsmVO) {
  const std::int32_t base = gsmVO % 100;
  const std::int32_t extra = gsmVO / 100;
  std::string text = std::to_string(gsmVO) + " ";
  const char* baseText = "?";
  for (const TGsmBaseKind& kind : kGsmBaseKinds)
    if (kind.code == base) baseText = kind.text;
  text += baseText;
  if (extra != 0) text += " (доп. " + std::to_string(extra) + ")";
  return text;
}

std::string RoundingText(const TPaymentRec& rec, const TFormatSettings& fs) {
  std::string text = std::to_string(rec.CheckItogPrec) + " коп.";
  if (rec.CheckPrecLimit > 0) text += " свыше " + FloatToStr(rec.CheckPrecLimit, fs) + " р.";
  return text;
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
  const std::size_t length = Utf8Length(text);
  if (length >= width) return text;
  const std::string fill(width - length, ' ');
  return right ? fill + text : text + fill;
}

}  // namespace

std::string FormatPaymentTable(TPaymentList& list, const TPaymentColumns& columns, const TFormatSettings& fs) {
  const std::vector<std::string> header = {"ID",  "Наименование", "Вид оплаты", "Чек",         "Скидка, %",
                                           "Вкл", "Округление",   "Вид ГСМ",    "Товарный чек"};
  const std::vector<bool> rightAligned = {true, false, false, false, true, false, false, false, false};
  std::vector<std::vector<std::string>> rows;
  const std::int32_t count = list.Count();
  for (std::int32_t i = 0; i < count; ++i) {
    const TPaymentRec& rec = *list.GetItem(i);
    rows.push_back({
        std::to_string(rec.ID),
        TerminalText(PaymentRecordName(rec)),
        PaymentTypeText(rec.Type),
        CheckText(rec.Check),
        FloatToStrFixed(rec.Discount, 2, fs),
        rec.Enabled ? "да" : "нет",
        columns.rounding ? RoundingText(rec, fs) : kAbsent,
        columns.gsmVO ? GsmText(rec.GsmVO) : kAbsent,
        columns.customCheck ? (rec.PrintCustomCheck ? "печатается" : "нет") : kAbsent,
    });
  }
  std::vector<std::size_t> widths;
  for (const std::string& h : header) widths.push_back(Utf8Length(h));
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Utf8Length(row[c]));

  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (c) text += "  ";
      text += Pad(cells[c], widths[c], rightAligned[c]);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + "\n";
  };
  std::string table = line(header);
  std::vector<std::string> rule;
  for (std::size_t w : widths) rule.push_back(std::string(w, '-'));
  table += line(rule);
  for (const auto& row : rows) table += line(row);
  return table;
}

}  // namespace selvo::host
