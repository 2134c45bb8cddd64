#include "discounts/SelvoDiscountItemsU.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <unordered_set>

#include "interface/IdentifierAllocator.h"
#include "interface/SelvoModuleU.h"
#include "platform/Beep.h"
#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"

namespace selvo {
namespace {

// The rouble unit as it stands in the stored (UTF-8) texts.
constexpr std::string_view kRoubleText = "р";

std::string UnitText(char unit) { return Cp1251ToUtf8(std::string_view(&unit, 1)); }

// The unit that ends an entry, and how many bytes it takes; nothing when the
// entry does not end with "%" or "р".
struct TTrailingUnit {
  char unit;
  std::size_t bytes;
};
std::optional<TTrailingUnit> TrailingUnit(std::string_view entry) {
  if (!entry.empty() && entry.back() == kUnitPercent) return TTrailingUnit{kUnitPercent, 1};
  if (entry.ends_with(kRoubleText)) return TTrailingUnit{kUnitRouble, kRoubleText.size()};
  return std::nullopt;
}

// A number of a stored list. Lists are written in the decimal separator of
// the till that wrote them; one written under the other separator ("10,5"
// read where "." is in use, or the reverse) must read the same elsewhere.
std::optional<double> ListNumber(std::string_view text, const TFormatSettings& fs) {
  if (auto value = TryStrToFloat(text, fs)) return value;
  TFormatSettings other = fs;
  other.DecimalSeparator = fs.DecimalSeparator == '.' ? ',' : '.';
  return TryStrToFloat(text, other);
}

// A list text cut into its entries: ";" as well as CR and LF end an entry, and
// empty entries are dropped. (The separators are ASCII, so no UTF-8 sequence
// is ever cut.)
std::vector<std::string_view> SplitEntries(std::string_view text) {
  std::vector<std::string_view> entries;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ';' || text[i] == '\r' || text[i] == '\n') {
      if (i > start) entries.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return entries;
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

bool IsAsciiWithoutLetters(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x80 && !(u >= 'A' && u <= 'Z');
  });
}

}  // namespace

bool SameDiscountValue(double a, double b) {
  const double tolerance = std::max(1e-12, 1e-12 * std::min(std::fabs(a), std::fabs(b)));
  return std::fabs(a - b) <= tolerance;
}

// ---------------------------------------------------------------------------
// THashedTextList

void THashedTextList::Add(std::string text) {
  if (lowered_.insert(LowerCase(text)).second) texts_.push_back(std::move(text));
}

bool THashedTextList::Contains(std::string_view text) const {
  // Identifiers are digits: no folding (and no allocation of a folded copy).
  if (IsAsciiWithoutLetters(text)) return lowered_.find(text) != lowered_.end();
  return lowered_.find(LowerCase(text)) != lowered_.end();
}

void THashedTextList::Clear() {
  texts_.clear();
  lowered_.clear();
}

// ---------------------------------------------------------------------------
// TDiscountItem

void TDiscountItem::SetDiscountName(std::string_view utf8Name) {
  DiscountName = Utf8Left(utf8Name, kMaxDiscountNameLength);
}

std::string TDiscountItem::EncodeTimeList() const {
  const TFormatSettings& fs = ModuleFormatSettings();
  const std::size_t count = std::min({TimeBegin.size(), TimeEnd.size(), TimeValue.size(), TimeUnit.size()});
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += ShortTimeText(TimeBegin[i], fs);
    text += '-';
    text += ShortTimeText(TimeEnd[i], fs);
    text += '=';
    text += FloatToStr(TimeValue[i], fs);
    text += UnitText(TimeUnit[i]);
    text += ';';
  }
  return LimitListText(std::move(text));
}

std::string TDiscountItem::EncodeThresholdList() const {
  const TFormatSettings& fs = ModuleFormatSettings();
  const std::size_t count = std::min({ThresholdSum.size(), ThresholdValue.size(), ThresholdUnit.size()});
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += FloatToStr(ThresholdSum[i], fs);
    text += '=';
    text += FloatToStr(ThresholdValue[i], fs);
    text += UnitText(ThresholdUnit[i]);
    text += ';';
  }
  return LimitListText(std::move(text));
}

void TDiscountItem::DecodeThresholdList(std::string_view text) {
  ThresholdSum.clear();
  ThresholdValue.clear();
  ThresholdUnit.clear();
  const TFormatSettings& fs = ModuleFormatSettings();
  for (std::string_view entry : SplitEntries(text)) {
    // sum "=" amount unit; the unit lies after the "=", which neither unit contains.
    const std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    const auto unit = TrailingUnit(entry);
    if (!unit) continue;
    const auto sum = ListNumber(entry.substr(0, eq), fs);
    const auto amount = ListNumber(entry.substr(eq + 1, entry.size() - eq - 1 - unit->bytes), fs);
    if (!sum || !amount) continue;
    ThresholdSum.push_back(*sum);
    ThresholdValue.push_back(*amount);
    ThresholdUnit.push_back(unit->unit);
  }
}

void TDiscountItem::DecodeTimeList(std::string_view text) {
  TimeBegin.clear();
  TimeEnd.clear();
  TimeValue.clear();
  TimeUnit.clear();
  const TFormatSettings& fs = ModuleFormatSettings();
  for (std::string_view entry : SplitEntries(text)) {
    // begin "-" end "=" amount unit, split at the first "-" and the first "=".
    const std::size_t dash = entry.find('-');
    const std::size_t eq = entry.find('=');
    if (dash == std::string_view::npos || eq == std::string_view::npos || dash == 0 || eq < dash) continue;
    const auto unit = TrailingUnit(entry);
    if (!unit) continue;
    const auto begin = TryStrToTime(entry.substr(0, dash), fs);
    const auto end = TryStrToTime(entry.substr(dash + 1, eq - dash - 1), fs);
    const auto amount = ListNumber(entry.substr(eq + 1, entry.size() - eq - 1 - unit->bytes), fs);
    if (!begin || !end || !amount) continue;
    TimeBegin.push_back(*begin);
    TimeEnd.push_back(*end);
    TimeValue.push_back(*amount);
    TimeUnit.push_back(unit->unit);
  }
}

bool TDiscountItem::IsTarget(std::int32_t id, bool isCategory) const {
  return (isCategory ? Categories : Goods).Contains(std::to_string(id));
}

bool TDiscountItem::HasPeriod(bool enabled, double begin, double end) const {
  const std::size_t count = std::min({PeriodBegin.size(), PeriodEnd.size(), PeriodEnabled.size()});
  for (std::size_t i = 0; i < count; ++i) {
    if (SameDiscountValue(PeriodBegin[i], begin) && SameDiscountValue(PeriodEnd[i], end) && PeriodEnabled[i] == enabled)
      return true;
  }
  return false;
}

bool TDiscountItem::IsActive(double moment) const {
  if (!Enabled) return false;
  if (!AllDay) {
    const double time = TimeOf(moment);
    if (time < BTime || time > ETime) return false;
  }
  if (!AllWeek && (WeekDays & (1u << WeekDayIndex(moment))) == 0) return false;
  return InPeriods(moment);
}

bool TDiscountItem::InPeriods(double moment) const {
  const std::size_t count = std::min({PeriodBegin.size(), PeriodEnd.size(), PeriodEnabled.size()});
  if (PeriodBegin.empty() && PeriodEnd.empty() && PeriodEnabled.empty()) return true;
  for (std::size_t i = 0; i < count; ++i) {
    if (PeriodEnabled[i] && PeriodBegin[i] <= moment && moment <= PeriodEnd[i]) return true;
  }
  return false;
}

int TDiscountItem::WeekDayIndex(double moment) { return DayOfTheWeek(moment) - 1; }

double TDiscountItem::GetDiscount(double* banBegin, double* banEnd, double amount, double quantity) const {
  double result = 0;
  auto report = [&](double begin, double end) {
    if (banBegin) *banBegin = begin;
    if (banEnd) *banEnd = end;
  };
  report(0, 0);

  // Threshold pass: the highest threshold that the amount reaches decides.
  double bestThreshold = -1;
  const std::size_t thresholds = std::min({ThresholdSum.size(), ThresholdValue.size(), ThresholdUnit.size()});
  for (std::size_t i = 0; i < thresholds; ++i) {
    const double sum = ThresholdSum[i];
    if (!(amount >= sum && sum > bestThreshold)) continue;
    bestThreshold = sum;
    double v = ThresholdValue[i];
    if (ThresholdUnit[i] == kUnitPercent) {
      v = v / 100 * amount;
    } else if (quantity > 0) {
      // An absolute amount grows with the purchase sum over the threshold. A
      // threshold of 0 has nothing to scale by: the amount is taken as it is.
      const double scaled = sum != 0 ? amount / sum * v : v;
      if (std::isfinite(scaled)) v = scaled;
    }
    result = std::isfinite(v) ? v : 0;
  }

  // Time pass against the clock's time of day. The last second of the day
  // counts as 23:59:59.000, so that an interval ending at 23:59:59 covers it.
  const double now = std::min(TimeOf(Now()), kLastSecondOfDay);
  const std::size_t times = std::min({TimeBegin.size(), TimeEnd.size(), TimeValue.size(), TimeUnit.size()});
  for (std::size_t i = 0; i < times; ++i) {
    if (!(TimeBegin[i] <= now && now <= TimeEnd[i])) continue;
    double v = TimeValue[i];
    if (TimeUnit[i] == kUnitPercent) v = v / 100 * amount;
    if (!std::isfinite(v) || !(v > result)) continue;
    result = v;
    // Only the interval of the winning entry is reported.
    if (result == SaleBanAmount)
      report(TimeBegin[i], TimeEnd[i]);
    else
      report(0, 0);
  }
  return result;
}

// ---------------------------------------------------------------------------
// TDiscountList

TDiscountList::~TDiscountList() { Clear(); }

std::int32_t TDiscountList::Add(std::unique_ptr<TDiscountItem> card) {
  items_.push_back(std::move(card));
  return static_cast<std::int32_t>(items_.size() - 1);
}

void TDiscountList::Clear() {
  for (auto& card : items_) {
    try {
      card.reset();
    } catch (...) {
      Beep(500, 100);  // one card that cannot be freed must not keep the others
    }
  }
  items_.clear();
}

std::int32_t TDiscountList::Count() const { return static_cast<std::int32_t>(items_.size()); }

TDiscountItem* TDiscountList::GetItem(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size())
    throw EListError("Индекс списка за пределами допустимого диапазона (" + std::to_string(index) + ")");
  return items_[static_cast<std::size_t>(index)].get();
}

TDiscountItem* TDiscountList::FindByName(std::string_view name) const {
  const std::string wanted = Trim(name);
  for (const auto& card : items_)
    if (SameText(Trim(card->DiscountName), wanted)) return card.get();
  return nullptr;
}

std::int32_t TDiscountList::NewID() {
  TModuleState& m = Module();
  std::unordered_set<std::int32_t> held;
  for (const auto& card : items_) held.insert(card->ID);
  return AllocateIdentifier(m.DiscountIDCounter, m.LastDiscountID, "новой карты скидок",
                            [&held](std::int32_t id) { return held.count(id) > 0; });
}

TDiscountItem* TDiscountList::FindCheckCard(std::int32_t payID, double amount, double moment) const {
  double best = 0;
  TDiscountItem* chosen = nullptr;
  for (const auto& card : items_) {
    if (card->PayID != payID || card->DiscountTarget != 0 || !card->IsActive(moment)) continue;
    const double d = card->GetDiscount(nullptr, nullptr, amount, 1);
    if (d > best) {
      best = d;
      chosen = card.get();
    }
  }
  return chosen;
}

TDiscountItem* TDiscountList::FindGoodsCard(std::int32_t categoryID, std::int32_t goodsID, double zPrice, double price,
                                            std::int32_t payID, double moment, double quantity) const {
  const bool floorAtPurchase = Module().RSumCanNotBeLowThenZSum;
  // The target test (IsTarget) with the decimal texts made once, not per card.
  const std::string categoryText = std::to_string(categoryID);
  const std::string goodsText = std::to_string(goodsID);
  double best = 0;
  TDiscountItem* chosen = nullptr;
  for (const auto& card : items_) {
    if (card->PayID != payID || card->DiscountTarget != 1 || !card->IsActive(moment)) continue;
    if (!card->Categories.Contains(categoryText) && !card->Goods.Contains(goodsText)) continue;
    double d = card->GetDiscount(nullptr, nullptr, price * quantity, quantity);
    if (floorAtPurchase && d != SaleBanAmount && zPrice * quantity > price * quantity - d) d = 0;
    if (d > best) {
      best = d;
      chosen = card.get();
    }
  }
  return chosen;
}

double TDiscountList::GoodsGroupDiscount(const TDiscountInData& sale, double moment,
                                         const TDiscountItem** winner) const {
  if (winner) *winner = nullptr;
  const std::int32_t lines = DynArrayLength(sale.GoodsIDs);
  if (DynArrayLength(sale.CategoryIDs) < lines || DynArrayLength(sale.Prices) < lines ||
      DynArrayLength(sale.Quantities) < lines)
    throw EInvalidSale("Продажа: последовательности строк чека короче списка товаров");

  // The target test (IsTarget) with the decimal texts made once, not per card.
  std::vector<std::string> categoryTexts, goodsTexts;
  categoryTexts.reserve(static_cast<std::size_t>(lines));
  goodsTexts.reserve(static_cast<std::size_t>(lines));
  for (std::int32_t j = 0; j < lines; ++j) {
    categoryTexts.push_back(std::to_string(sale.CategoryIDs[j]));
    goodsTexts.push_back(std::to_string(sale.GoodsIDs[j]));
  }

  // Money in ten-thousandths, as a 64-bit count.
  constexpr double kLargestCount = 9223372036854774784.0;  // the largest double below 2^63
  std::int64_t best = 0;
  for (const auto& card : items_) {
    if (card->PayID != sale.PayID || card->DiscountTarget != 1 || !card->IsActive(moment)) continue;
    double sum = 0;
    for (std::size_t j = 0; j < categoryTexts.size(); ++j) {
      if (card->Categories.Contains(categoryTexts[j]) || card->Goods.Contains(goodsTexts[j]))
        sum += sale.Prices[j] * sale.Quantities[j];
    }
    const double d = sum > 0 ? card->GetDiscount(nullptr, nullptr, sum, 1) : 0;
    const double scaled = d * 10000;
    if (scaled > static_cast<double>(best)) {
      best = static_cast<std::int64_t>(std::nearbyint(std::min(scaled, kLargestCount)));  // halves to even
      if (winner) *winner = card.get();
    }
  }
  return static_cast<double>(best) / 10000;
}

// ---------------------------------------------------------------------------
// Loading

namespace {

void ReadMasterColumns(TDataSet& master, TDiscountItem& card) {
  // Each column only when it holds a value; a null keeps the card's default.
  auto read = [&master](const char* name, auto&& assign) {
    TField& field = master.FieldByName(name);
    if (!field.IsNull()) assign(field);
  };
  read("td_DiscountName", [&](TField& f) { card.SetDiscountName(f.AsString()); });
  read("PayID", [&](TField& f) { card.PayID = f.AsInteger(); });
  read("td_BTime", [&](TField& f) { card.BTime = f.AsFloat(); });
  read("td_ETime", [&](TField& f) { card.ETime = f.AsFloat(); });
  read("td_AllDay", [&](TField& f) { card.AllDay = f.AsInteger() != 0; });
  read("td_Enabled", [&](TField& f) { card.Enabled = f.AsInteger() != 0; });
  read("td_WeekDays", [&](TField& f) { card.WeekDays = static_cast<std::uint8_t>(f.AsInteger() & 0xFF); });
  read("td_AllWeek", [&](TField& f) { card.AllWeek = f.AsInteger() != 0; });
  read("td_Threshold", [&](TField& f) { card.DecodeThresholdList(f.AsString()); });
  read("td_DiscountTarget", [&](TField& f) {
    card.DiscountTarget = static_cast<std::int16_t>(static_cast<std::uint16_t>(f.AsInteger() & 0xFFFF));
  });
  read("td_Rules",
       [&](TField& f) { card.Rules = static_cast<std::int16_t>(static_cast<std::uint16_t>(f.AsInteger() & 0xFFFF)); });
  read("td_TimeDscList", [&](TField& f) { card.DecodeTimeList(f.AsString()); });
}

// Stored values the calculation cannot take are refused at loading, naming
// the place: an infinite time would match every moment, a percentage above
// 100 would sell for nothing.
void CheckStored(bool good, const char* table, const std::string& row, const char* column, const std::string& what) {
  if (!good) throw EDatabaseError(std::string(table) + ": запись " + row + ", поле " + column + ": " + what);
}

void CheckStored(bool good, const char* table, std::int32_t cardID, const char* column, const std::string& what) {
  if (!good) CheckStored(false, table, "td_ID=" + std::to_string(cardID), column, what);
}

void CheckAmounts(const TDiscountItem& card, const char* column, const TDynDoubleArray& values,
                  const TDynCharArray& units, bool banAllowed) {
  for (std::size_t i = 0; i < values.size() && i < units.size(); ++i) {
    const double v = values[i];
    if (banAllowed && v == SaleBanAmount) continue;
    CheckStored(std::isfinite(v), "SelvoDiscountDS", card.ID, column, "скидка не является конечным числом");
    if (units[i] == kUnitPercent) {
      CheckStored(v >= 0 && v <= 100, "SelvoDiscountDS", card.ID, column,
                  "скидка " + FloatToStr(v, ModuleFormatSettings()) + " % вне пределов от 0 до 100");
    }
  }
}

void CheckMasterColumns(const TDiscountItem& card) {
  CheckStored(std::isfinite(card.BTime), "SelvoDiscountDS", card.ID, "td_BTime", "время не является конечным числом");
  CheckStored(std::isfinite(card.ETime), "SelvoDiscountDS", card.ID, "td_ETime", "время не является конечным числом");
  for (double sum : card.ThresholdSum)
    CheckStored(std::isfinite(sum), "SelvoDiscountDS", card.ID, "td_Threshold", "порог не является конечным числом");
  CheckAmounts(card, "td_Threshold", card.ThresholdValue, card.ThresholdUnit, false);
  CheckAmounts(card, "td_TimeDscList", card.TimeValue, card.TimeUnit, true);
}

// The detail datasets present the rows of the master's current card; one that
// stands on another card's row means the host's link is broken.
void CheckDetailLink(TDataSet& detail, std::int32_t cardID) {
  if (!detail.IsEmpty() && detail.FieldByName("td_ID").AsInteger() != cardID)
    throw EDatabaseError("Нарушилась связь таблиц Master -> Detail");
}

void ReadTargets(TDataSet& goods, TDiscountItem& card) {
  CheckDetailLink(goods, card.ID);
  for (goods.First(); !goods.Eof(); goods.Next()) {
    if (goods.FieldByName("dg_ID").IsNull()) continue;
    const bool isCategory = goods.FieldByName("td_IsCategory").AsInteger() == 1;
    std::string target = std::to_string(goods.FieldByName("ID_Target").AsInteger());
    (isCategory ? card.Categories : card.Goods).Add(std::move(target));
  }
}

void ReadPeriods(TDataSet& periods, TDiscountItem& card) {
  CheckDetailLink(periods, card.ID);
  for (periods.First(); !periods.Eof(); periods.Next()) {
    if (periods.FieldByName("ex_ID").IsNull()) continue;
    // All three values first, so that a failing one leaves the card's
    // sequences of one length.
    const double begin = periods.FieldByName("ex_BDateTime").AsDateTime();
    const double end = periods.FieldByName("ex_EDateTime").AsDateTime();
    const bool enabled = periods.FieldByName("ex_Enabled").AsInteger() == 1;
    if (!std::isfinite(begin) || !std::isfinite(end)) {
      CheckStored(false, "ExclusionsDS", "ex_ID=" + periods.FieldByName("ex_ID").AsString(),
                  std::isfinite(begin) ? "ex_EDateTime" : "ex_BDateTime", "дата не является конечным числом");
    }
    card.PeriodBegin.push_back(begin);
    card.PeriodEnd.push_back(end);
    card.PeriodEnabled.push_back(enabled);
  }
}

void OpenIfClosed(TDataSet& ds) {
  if (!ds.Active()) ds.Open();
}

}  // namespace

void FillDiscountList() {
  constexpr const char* kContext = "procedure FillDiscountList -> ";
  try {
    TDiscountList& list = DiscountList();
    list.Clear();
    TDataSet& master = SelvoDiscountDataSet();
    OpenIfClosed(master);
    TDataSet& goods = DiscountGoodsDataSet();
    OpenIfClosed(goods);
    TDataSet& periods = ExclusionsDataSet();
    OpenIfClosed(periods);

    for (master.First(); !master.Eof(); master.Next()) {
      TField& id = master.FieldByName("td_ID");
      if (id.IsNull()) continue;
      auto card = std::make_unique<TDiscountItem>();
      card->ID = id.AsInteger();
      ReadMasterColumns(master, *card);
      CheckMasterColumns(*card);
      // A card whose goods rows fail is dropped; one whose periods fail stays
      // with the periods read so far.
      ReadTargets(goods, *card);
      TDiscountItem& stored = *list.GetItem(list.Add(std::move(card)));
      ReadPeriods(periods, stored);
    }
  } catch (Exception& e) {
    e.SetMessage(kContext + e.Message());
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw Exception(kContext + std::string(e.what()));
  }
}

}  // namespace selvo
