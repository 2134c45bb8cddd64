#include "discounts/DiscountListTexts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"

namespace selvo {
namespace {

// The rouble unit as it stands in the stored texts.
constexpr std::string_view kRouble = kRoubleText;

// The unit that ends an entry, and how many bytes it takes; nothing when the
// entry does not end with "%" or "р".
struct TTrailingUnit {
  char unit;
  std::size_t bytes;
};
std::optional<TTrailingUnit> TrailingUnit(std::string_view entry) {
  if (!entry.empty() && entry.back() == kUnitPercent) return TTrailingUnit{kUnitPercent, 1};
  if (entry.ends_with(kRouble)) return TTrailingUnit{kUnitRouble, kRouble.size()};
  return std::nullopt;
}

// A number of a stored list. Lists are written in the decimal separator of
// the till that wrote them; one written under the other separator ("10,5"
// read where "." is in use, or the reverse) must read the same elsewhere.
std::optional<double> ListNumber(std::string_view text, const TFormatSettings& fs) {
  // Whole numbers of plain digits, the common case, read as they stand.
  if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end == text.data() + text.size() && std::isfinite(value)) return value;
  }
  if (auto value = TryStrToFloat(text, fs)) return value;
  TFormatSettings other = fs;
  other.DecimalSeparator = fs.DecimalSeparator == '.' ? ',' : '.';
  return TryStrToFloat(text, other);
}

// Visits the entries of a list text: ";" as well as CR and LF end an entry,
// and empty entries are passed over. (The separators are ASCII, so no UTF-8
// sequence is ever cut.)
template <class Visit>
void ForEachEntry(std::string_view text, Visit&& visit) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ';' || text[i] == '\r' || text[i] == '\n') {
      if (i > start) visit(text.substr(start, i - start));
      start = i + 1;
    }
  }
}

// Room for the entries of a list text, so that decoding fills each sequence
// in one block: the number of entries, up to what a stored list (at most 255
// characters) can hold. Longer texts grow their sequences as usual.
std::size_t EntryRoom(std::string_view text) {
  std::size_t count = 0;
  ForEachEntry(text, [&count](std::string_view) { ++count; });
  return std::min(count, kMaxListTextLength / 2);
}

// The time as the long time format writes it, with every "00" made "0" from
// the left without overlap: 08:00:00 becomes 08:0:0.
std::string ShortTimeText(double time, const TFormatSettings& fs) {
  const std::string full = TimeToStr(time, fs);
  std::string out;
  out.reserve(full.size());
  for (std::size_t i = 0; i < full.size(); ++i) {
    out += full[i];
    if (full[i] == '0' && i + 1 < full.size() && full[i + 1] == '0') ++i;
  }
  return out;
}

std::string LimitListText(std::string text) {
  return Utf8Length(text) > kMaxListTextLength ? std::string(kListTooLongText) : text;
}

}  // namespace

std::string UnitText(char unit) { return Cp1251ToUtf8(std::string_view(&unit, 1)); }

std::string ListNumberText(double value) { return FloatToStr(value, ModuleFormatSettings()); }

std::string TimeListText(const TDynTimeArray& begins, const TDynTimeArray& ends, const TDynDoubleArray& amounts,
                         const TDynCharArray& units) {
  const TFormatSettings& fs = ModuleFormatSettings();
  const std::size_t count = std::min({begins.size(), ends.size(), amounts.size(), units.size()});
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += ShortTimeText(begins[i], fs);
    text += '-';
    text += ShortTimeText(ends[i], fs);
    text += '=';
    text += FloatToStr(amounts[i], fs);
    text += UnitText(units[i]);
    text += ';';
  }
  return LimitListText(std::move(text));
}

std::string ThresholdListText(const TDynDoubleArray& sums, const TDynDoubleArray& amounts, const TDynCharArray& units) {
  const TFormatSettings& fs = ModuleFormatSettings();
  const std::size_t count = std::min({sums.size(), amounts.size(), units.size()});
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += FloatToStr(sums[i], fs);
    text += '=';
    text += FloatToStr(amounts[i], fs);
    text += UnitText(units[i]);
    text += ';';
  }
  return LimitListText(std::move(text));
}

void ReadThresholdList(std::string_view text, TDynDoubleArray& sums, TDynDoubleArray& amounts, TDynCharArray& units) {
  sums.clear();
  amounts.clear();
  units.clear();
  const std::size_t room = EntryRoom(text);
  sums.reserve(room);
  amounts.reserve(room);
  units.reserve(room);
  const TFormatSettings& fs = ModuleFormatSettings();
  ForEachEntry(text, [&](std::string_view entry) {
    // sum "=" amount unit; the unit lies after the "=", which neither unit contains.
    const std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos || eq == 0) return;
    const auto unit = TrailingUnit(entry);
    if (!unit) return;
    const auto sum = ListNumber(entry.substr(0, eq), fs);
    const auto amount = ListNumber(entry.substr(eq + 1, entry.size() - eq - 1 - unit->bytes), fs);
    if (!sum || !amount) return;
    sums.push_back(*sum);
    amounts.push_back(*amount);
    units.push_back(unit->unit);
  });
}

void ReadTimeList(std::string_view text, TDynTimeArray& begins, TDynTimeArray& ends, TDynDoubleArray& amounts,
                  TDynCharArray& units) {
  begins.clear();
  ends.clear();
  amounts.clear();
  units.clear();
  const std::size_t room = EntryRoom(text);
  begins.reserve(room);
  ends.reserve(room);
  amounts.reserve(room);
  units.reserve(room);
  const TFormatSettings& fs = ModuleFormatSettings();
  ForEachEntry(text, [&](std::string_view entry) {
    // begin "-" end "=" amount unit, split at the first "-" and the first "=".
    const std::size_t dash = entry.find('-');
    const std::size_t eq = entry.find('=');
    if (dash == std::string_view::npos || eq == std::string_view::npos || dash == 0 || eq < dash) return;
    const auto unit = TrailingUnit(entry);
    if (!unit) return;
    const auto begin = TryStrToTime(entry.substr(0, dash), fs);
    const auto end = TryStrToTime(entry.substr(dash + 1, eq - dash - 1), fs);
    const auto amount = ListNumber(entry.substr(eq + 1, entry.size() - eq - 1 - unit->bytes), fs);
    if (!begin || !end || !amount) return;
    begins.push_back(*begin);
    ends.push_back(*end);
    amounts.push_back(*amount);
    units.push_back(unit->unit);
  });
}

}  // namespace selvo
