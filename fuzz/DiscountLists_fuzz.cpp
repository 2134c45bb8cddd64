// Fuzzes the readers of the stored threshold and time list texts. The first
// byte picks the format settings (even: Russian, odd: English); the rest is
// the text. Besides finding crashes and sanitizer reports it checks that
// what a text decodes to is sound and survives being written and read again:
// every entry re-encodes to a text that decodes to the same entry (to the
// text form's precision: 15 significant digits, whole seconds), that text is
// a fixed point, and a whole list that fits its limit reads back entry for
// entry.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "discounts/SelvoDiscountItemsU.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"

namespace {

using selvo::TDiscountItem;

[[noreturn]] void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "property violated: %s\ntext: [%.*s]\n", what, static_cast<int>(text.size()), text.data());
  std::abort();
}

void Expect(bool ok, const char* what, std::string_view text) {
  if (!ok) Fail(what, text);
}

// Equal to the 15 significant digits the text form keeps.
bool SameNumber(double a, double b) {
  return a == b || std::fabs(a - b) <= 1e-14 * std::fmax(std::fabs(a), std::fabs(b));
}

// The time of day as the text form keeps it: without milliseconds.
double WholeSeconds(double time) {
  const selvo::TTimeParts t = selvo::DecodeTime(time);
  return selvo::EncodeTime(t.hour, t.minute, t.second, 0);
}

bool ValidUnit(char unit) { return unit == selvo::kUnitPercent || unit == selvo::kUnitRouble; }

std::size_t Segments(std::string_view text) {
  std::size_t n = 1;
  for (char c : text) n += c == ';' || c == '\r' || c == '\n';
  return n;
}

void CheckThresholds(std::string_view text) {
  TDiscountItem card;
  card.DecodeThresholdList(text);
  const std::size_t n = card.ThresholdSum.size();
  Expect(card.ThresholdValue.size() == n && card.ThresholdUnit.size() == n, "threshold lengths", text);
  Expect(n <= Segments(text), "more threshold entries than segments", text);

  for (std::size_t i = 0; i < n; ++i) {
    Expect(std::isfinite(card.ThresholdSum[i]) && std::isfinite(card.ThresholdValue[i]), "finite", text);
    Expect(ValidUnit(card.ThresholdUnit[i]), "threshold unit", text);
    TDiscountItem one;
    one.ThresholdSum = {card.ThresholdSum[i]};
    one.ThresholdValue = {card.ThresholdValue[i]};
    one.ThresholdUnit = {card.ThresholdUnit[i]};
    const std::string written = one.EncodeThresholdList();
    TDiscountItem back;
    back.DecodeThresholdList(written);
    Expect(back.ThresholdSum.size() == 1, "threshold entry does not read back", written);
    Expect(SameNumber(back.ThresholdSum[0], one.ThresholdSum[0]) &&
               SameNumber(back.ThresholdValue[0], one.ThresholdValue[0]) &&
               back.ThresholdUnit[0] == one.ThresholdUnit[0],
           "threshold entry reads back different", written);
    Expect(back.EncodeThresholdList() == written, "threshold text is no fixed point", written);
  }

  const std::string whole = card.EncodeThresholdList();
  if (whole == selvo::kListTooLongText) return;
  TDiscountItem back;
  back.DecodeThresholdList(whole);
  Expect(back.ThresholdSum.size() == n, "threshold list reads back with another length", whole);
  for (std::size_t i = 0; i < n; ++i)
    Expect(SameNumber(back.ThresholdSum[i], card.ThresholdSum[i]) &&
               SameNumber(back.ThresholdValue[i], card.ThresholdValue[i]) &&
               back.ThresholdUnit[i] == card.ThresholdUnit[i],
           "threshold list reads back different", whole);
}

void CheckTimes(std::string_view text) {
  TDiscountItem card;
  card.DecodeTimeList(text);
  const std::size_t n = card.TimeBegin.size();
  Expect(card.TimeEnd.size() == n && card.TimeValue.size() == n && card.TimeUnit.size() == n, "time lengths", text);
  Expect(n <= Segments(text), "more time entries than segments", text);

  for (std::size_t i = 0; i < n; ++i) {
    Expect(card.TimeBegin[i] >= 0 && card.TimeBegin[i] < 1 && card.TimeEnd[i] >= 0 && card.TimeEnd[i] < 1,
           "times of day", text);
    Expect(std::isfinite(card.TimeValue[i]) && ValidUnit(card.TimeUnit[i]), "time amount or unit", text);
    TDiscountItem one;
    one.TimeBegin = {card.TimeBegin[i]};
    one.TimeEnd = {card.TimeEnd[i]};
    one.TimeValue = {card.TimeValue[i]};
    one.TimeUnit = {card.TimeUnit[i]};
    const std::string written = one.EncodeTimeList();
    TDiscountItem back;
    back.DecodeTimeList(written);
    Expect(back.TimeBegin.size() == 1, "time entry does not read back", written);
    Expect(back.TimeBegin[0] == WholeSeconds(one.TimeBegin[0]) && back.TimeEnd[0] == WholeSeconds(one.TimeEnd[0]) &&
               SameNumber(back.TimeValue[0], one.TimeValue[0]) && back.TimeUnit[0] == one.TimeUnit[0],
           "time entry reads back different", written);
    Expect(back.EncodeTimeList() == written, "time text is no fixed point", written);
  }

  const std::string whole = card.EncodeTimeList();
  if (whole == selvo::kListTooLongText) return;
  TDiscountItem back;
  back.DecodeTimeList(whole);
  Expect(back.TimeBegin.size() == n, "time list reads back with another length", whole);
  for (std::size_t i = 0; i < n; ++i)
    Expect(back.TimeBegin[i] == WholeSeconds(card.TimeBegin[i]) && back.TimeEnd[i] == WholeSeconds(card.TimeEnd[i]) &&
               SameNumber(back.TimeValue[i], card.TimeValue[i]) && back.TimeUnit[i] == card.TimeUnit[i],
           "time list reads back different", whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const selvo::TFormatSettings kRussian = selvo::TFormatSettings::Russian();
  static const selvo::TFormatSettings kEnglish = selvo::TFormatSettings::English();
  selvo::SetModuleFormatSettings(data[0] % 2 ? kEnglish : kRussian);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  CheckThresholds(text);
  CheckTimes(text);
  return 0;
}
