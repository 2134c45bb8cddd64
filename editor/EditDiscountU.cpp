#include "editor/EditDiscountU.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_set>

#include "platform/DateUtils.h"
#include "platform/TextCodec.h"
#include "state/SelvoModuleU.h"

namespace selvo {
namespace {

double TimeOfDay(double value) { return value - std::floor(value); }

// The identifier a target entry names; its text must be a decimal integer.
std::int32_t TargetID(const std::string& entry) {
  std::int32_t value = 0;
  const std::string text = Trim(entry);
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size())
    throw EConvertError("'" + entry + "' не является допустимым целым числом");
  return value;
}

// The identifiers of a target list that read as integers. An entry that
// does not is matched by no row (no row's identifier has that text).
std::unordered_set<std::int32_t> TargetIDs(const THashedTextList& list) {
  std::unordered_set<std::int32_t> ids;
  ids.reserve(list.Count());
  for (const std::string& entry : list) {
    std::int32_t value = 0;
    auto [ptr, ec] = std::from_chars(entry.data(), entry.data() + entry.size(), value);
    if (!entry.empty() && ec == std::errc() && ptr == entry.data() + entry.size() && std::to_string(value) == entry)
      ids.insert(value);
  }
  return ids;
}

void SetMark(TDataSet& ds, TField& field, double value) {
  ds.Edit();
  field.SetAsFloat(value);
  ds.Post();
}

void SaveTargetRows(const TDiscountItem& card, TDataSet& targets) {
  for (int recNo = targets.RecordCount(); recNo >= 1; --recNo) {
    targets.SetRecNo(recNo);
    const std::int32_t id = targets.FieldByName("ID_Target").AsInteger();
    const bool isCategory = targets.FieldByName("td_IsCategory").AsInteger() != 0;
    if (!card.IsTarget(id, isCategory)) targets.Delete();
  }
  auto addMissing = [&](const THashedTextList& list, std::int64_t isCategory) {
    for (const std::string& entry : list) {
      const std::int32_t id = TargetID(entry);
      if (targets.Locate("ID_Target;Td_IsCategory", {TVariant(std::int64_t{id}), TVariant(isCategory)}, loNone))
        continue;
      targets.Append();
      targets.FieldByName("dg_ID").SetAsInteger(NextDscGoodsID());
      targets.FieldByName("td_ID").SetAsInteger(card.ID);
      targets.FieldByName("Td_IsCategory").SetAsInteger(static_cast<std::int32_t>(isCategory));
      targets.FieldByName("ID_Target").SetAsInteger(id);
      targets.Post();
    }
  };
  addMissing(card.Categories, 1);
  addMissing(card.Goods, 0);
}

void SavePeriodRows(const TDiscountItem& card, TDataSet& periods) {
  for (int recNo = periods.RecordCount(); recNo >= 1; --recNo) {
    periods.SetRecNo(recNo);
    const double begin = periods.FieldByName("ex_BDateTime").AsDateTime();
    const double end = periods.FieldByName("ex_EDateTime").AsDateTime();
    const bool enabled = periods.FieldByName("ex_Enabled").AsInteger() != 0;
    if (!card.HasPeriod(enabled, begin, end)) periods.Delete();
  }
  const std::size_t count = std::min({card.PeriodBegin.size(), card.PeriodEnd.size(), card.PeriodEnabled.size()});
  for (std::size_t i = 0; i < count; ++i) {
    const std::int64_t enabled = card.PeriodEnabled[i] ? 1 : 0;
    if (periods.Locate("ex_BDateTime;ex_EDateTime;ex_Enabled",
                       {TVariant(card.PeriodBegin[i]), TVariant(card.PeriodEnd[i]), TVariant(enabled)}, loNone))
      continue;
    periods.Append();
    periods.FieldByName("ex_ID").SetAsInteger(NextExclusionsID());
    periods.FieldByName("td_ID").SetAsInteger(card.ID);
    periods.FieldByName("ex_BDateTime").SetAsDateTime(card.PeriodBegin[i]);
    periods.FieldByName("ex_EDateTime").SetAsDateTime(card.PeriodEnd[i]);
    periods.FieldByName("ex_Enabled").SetAsInteger(static_cast<std::int32_t>(enabled));
    periods.Post();
  }
}

}  // namespace

TCardControls CardControls(const TDiscountItem& card) {
  TCardControls c;
  c.payID = card.PayID;
  c.name = card.DiscountName;
  c.target = card.DiscountTarget;
  c.allDay = card.AllDay;
  c.beginTime = card.BTime;
  c.endTime = card.ETime;
  c.allWeek = card.AllWeek;
  c.weekDays = card.WeekDays;
  c.enabled = card.Enabled;
  return c;
}

std::vector<std::string> CheckCard(const TCardControls& controls, const TCardLists& lists, TDiscountItem& card,
                                   const TDiscountList& list) {
  std::vector<std::string> faults;
  // 1. Payment type.
  if (!controls.payID) throw EListError(kNoPaymentSelected);
  card.PayID = *controls.payID;
  // 2. Name: unique among the cards, letter case and surrounding blanks aside.
  const std::string name = Trim(controls.name);
  if (name.empty()) {
    faults.push_back(kNoCardNameFault);
  } else {
    const TDiscountItem* same = list.FindByName(name);
    if (same && same != &card) faults.push_back(kDuplicateCardNameFault);
    card.SetDiscountName(name);
  }
  // 3. Target and the all-day flag.
  card.DiscountTarget = static_cast<std::int16_t>(controls.target);
  card.AllDay = controls.allDay;
  // 4. The daily window, checked whether or not it is in use.
  const double begin = TimeOfDay(controls.beginTime);
  const double end = TimeOfDay(controls.endTime);
  if (begin >= end) faults.push_back(kDailyWindowFault);
  card.BTime = begin;
  card.ETime = end;
  // 5. Week days.
  card.AllWeek = controls.allWeek;
  card.WeekDays = controls.weekDays;
  // 6, 7. Time discounts within the daily window in use.
  const double lower = card.AllDay ? 0.0 : card.BTime;
  const double upper = card.AllDay ? kLastSecondOfDay : card.ETime;
  if (int code = lists.times.CheckTimeList(lower, upper); code > 0 && code <= 4)
    faults.push_back(kTimeListFaults[code]);
  lists.times.StoreTimeList(card.TimeBegin, card.TimeEnd, card.TimeUnit, card.TimeValue);
  if (card.EncodeTimeList() == kListTooLongText) faults.push_back(kTimeListTooLongFault);
  // 8, 9. Thresholds.
  if (int code = lists.thresholds.CheckThresholdList(); code > 0 && code <= 3) faults.push_back(kThresholdFaults[code]);
  lists.thresholds.StoreThresholdList(card.ThresholdSum, card.ThresholdValue, card.ThresholdUnit);
  if (card.EncodeThresholdList() == kListTooLongText) faults.push_back(kThresholdTooLongFault);
  // 10, 11. Periods.
  if (int code = lists.periods.CheckPeriodList(); code > 0 && code <= 3) faults.push_back(kPeriodFaults[code]);
  lists.periods.StorePeriodList(card.PeriodBegin, card.PeriodEnd, card.PeriodEnabled);
  // 12. On or off.
  card.Enabled = controls.enabled;
  return faults;
}

std::string JoinFaults(const std::vector<std::string>& faults) {
  std::string text;
  for (const std::string& fault : faults) text += (text.empty() ? "" : "\r\n") + fault;
  return text;
}

void SaveCard(TDiscountItem& card, bool changing, TDiscountList& list, const TCardDataSets& ds) {
  try {
    if (changing) {
      if (!ds.cards.Locate("td_ID", {TVariant(std::int64_t{card.ID})}, loNone)) throw EDatabaseError(kCardNotFound);
      ds.cards.Edit();
    } else {
      ds.cards.Append();
      card.ID = list.NewID();
      ds.cards.FieldByName("td_ID").SetAsInteger(card.ID);
    }
    ds.cards.FieldByName("PayID").SetAsInteger(card.PayID);
    ds.cards.FieldByName("td_DiscountName").SetAsString(card.DiscountName);
    ds.cards.FieldByName("td_BTime").SetAsFloat(card.BTime);
    ds.cards.FieldByName("td_ETime").SetAsFloat(card.ETime);
    ds.cards.FieldByName("td_AllDay").SetAsInteger(card.AllDay ? 1 : 0);
    ds.cards.FieldByName("Td_Threshold").SetAsString(card.EncodeThresholdList());
    ds.cards.FieldByName("Td_TimeDscList").SetAsString(card.EncodeTimeList());
    ds.cards.FieldByName("td_Enabled").SetAsInteger(card.Enabled ? 1 : 0);
    ds.cards.FieldByName("td_WeekDays").SetAsInteger(card.WeekDays);
    ds.cards.FieldByName("td_AllWeek").SetAsInteger(card.AllWeek ? 1 : 0);
    ds.cards.FieldByName("td_DiscountTarget").SetAsInteger(static_cast<std::uint8_t>(card.DiscountTarget));

    SaveTargetRows(card, ds.targets);
    SavePeriodRows(card, ds.periods);

    if (ds.cards.Modified())
      ds.cards.Post();
    else
      ds.cards.Cancel();
  } catch (...) {
    // A card row left half-edited would be posted by the next move of the
    // dataset, with nobody having confirmed it.
    const TDataSetState state = ds.cards.State();
    if (state == TDataSetState::dsEdit || state == TDataSetState::dsInsert) ds.cards.Cancel();
    throw;
  }
}

void MarkGoodsChoice(const TDiscountItem& card, TDataSet& keyTovar, TDataSet& goods) {
  const std::unordered_set<std::int32_t> categories = TargetIDs(card.Categories);
  const std::unordered_set<std::int32_t> articles = TargetIDs(card.Goods);
  TField& categoryID = keyTovar.FieldByName("ID_Category");
  TField& checkField = keyTovar.FieldByName("CheckField");
  TField& goodsID = goods.FieldByName("ID_Goods");
  TField& kolvo = goods.FieldByName("Kolvo");
  for (keyTovar.First(); !keyTovar.Eof(); keyTovar.Next()) {
    if (categoryID.IsNull() || Trim(categoryID.AsString()).empty()) continue;
    if (categories.count(categoryID.AsInteger())) {
      if (checkField.IsNull() || checkField.AsInteger() == 0) SetMark(keyTovar, checkField, 1);
      continue;
    }
    if (checkField.IsNull() || checkField.AsInteger() == 1) SetMark(keyTovar, checkField, 0);
    for (goods.First(); !goods.Eof(); goods.Next()) {
      if (goodsID.IsNull()) continue;
      if (articles.count(goodsID.AsInteger())) {
        if (kolvo.IsNull() || kolvo.AsFloat() != 1) SetMark(goods, kolvo, 1);
      } else if (kolvo.IsNull() || kolvo.AsFloat() != 0) {
        SetMark(goods, kolvo, 0);
      }
    }
  }
}

void GetChechedCategoryAndGoodsLists(TDataSet& keyTovar, TDataSet& goods, THashedTextList& categories,
                                     THashedTextList& goodsList) {
  WithOperationName(kReadChoiceOperation, [&] {
    THashedTextList chosenCategories, chosenGoods;
    TField& categoryID = keyTovar.FieldByName("ID_Category");
    TField& checkField = keyTovar.FieldByName("CheckField");
    TField& goodsID = goods.FieldByName("ID_Goods");
    TField& kolvo = goods.FieldByName("Kolvo");
    for (keyTovar.First(); !keyTovar.Eof(); keyTovar.Next()) {
      if (checkField.AsInteger() == 1) {
        if (!categoryID.IsNull()) chosenCategories.Add(std::to_string(categoryID.AsInteger()));
        continue;
      }
      for (goods.First(); !goods.Eof(); goods.Next())
        if (!goodsID.IsNull() && kolvo.AsFloat() > 0) chosenGoods.Add(std::to_string(goodsID.AsInteger()));
    }
    categories = std::move(chosenCategories);
    goodsList = std::move(chosenGoods);
  });
}

bool ChooseCardTargets(TDiscountItem& card, TDataSet& keyTovar, TDataSet& goods, std::int32_t (*selectGoods)(),
                       const std::function<void()>& openProgress, const std::function<void()>& closeProgress) {
  return WithOperationName(kChooseTargetOperation, [&] {
    if (!selectGoods) throw ENotAvailable(kNoGoodsSelectCallback);
    goods.Close();
    goods.Open();
    keyTovar.Close();
    keyTovar.Open();
    if (openProgress) openProgress();
    try {
      MarkGoodsChoice(card, keyTovar, goods);
    } catch (...) {
      if (closeProgress) closeProgress();
      throw;
    }
    if (closeProgress) closeProgress();
    if (selectGoods() != 1) return false;
    GetChechedCategoryAndGoodsLists(keyTovar, goods, card.Categories, card.Goods);
    return true;
  });
}

std::vector<std::pair<double, double>> HolidayPeriods(int year) {
  struct TDay {
    int month, first, last;
  };
  static constexpr TDay kHolidays[] = {{1, 1, 5}, {1, 7, 7}, {2, 23, 23}, {3, 8, 8},
                                       {5, 1, 1}, {5, 9, 9}, {6, 12, 12}, {11, 4, 4}};
  std::vector<std::pair<double, double>> periods;
  for (const TDay& d : kHolidays)
    periods.emplace_back(EncodeDate(year, d.month, d.first),
                         ComposeDateTime(EncodeDate(year, d.month, d.last), EncodeTime(23, 59, 59, 0)));
  return periods;
}

int AddHolidayPeriods(TDiscountItem& card, int year) {
  int added = 0;
  for (const auto& [begin, end] : HolidayPeriods(year)) {
    bool held = false;
    const std::size_t count = std::min(card.PeriodBegin.size(), card.PeriodEnd.size());
    for (std::size_t i = 0; i < count && !held; ++i)
      held = SameDiscountValue(card.PeriodBegin[i], begin) && SameDiscountValue(card.PeriodEnd[i], end);
    if (held) continue;
    card.PeriodBegin.push_back(begin);
    card.PeriodEnd.push_back(end);
    card.PeriodEnabled.push_back(true);
    ++added;
  }
  return added;
}

}  // namespace selvo
