#include "editor/SelvoPaymentsU.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "discounts/SelvoDiscountItemsU.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/DateUtils.h"
#include "platform/FormTexts.h"
#include "platform/MessageService.h"
#include "selvo/Errors.h"
#include "state/SelvoModuleU.h"
#include "support/SafeIniFiles.h"

namespace selvo {
namespace {

constexpr const char* kWeekDayNames[7] = {"пн", "вт", "ср", "чт", "пт", "сб", "вс"};
constexpr const char* kPaymentTypeTexts[3] = {"наличные", "безналичные", "наличные"};
constexpr const char* kTargetReceipt = "Сумму чека";
constexpr const char* kTargetGoods = "Выбр. товары";
constexpr const char* kEnabledOn = "вкл";
constexpr const char* kEnabledOff = "выкл";
constexpr const char* kNoTransaction = "Сохранение: хост не передал функцию транзакций";

// The text with the first occurrence of `mark` replaced by `value`; the
// value is taken as it is, so a "%" in a name is no format.
std::string Fill(const char* text, const char* mark, const std::string& value) {
  std::string result = text;
  const std::size_t at = result.find(mark);
  if (at != std::string::npos) result.replace(at, std::char_traits<char>::length(mark), value);
  return result;
}

std::string TwoDigits(int value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

std::string HourMinute(double time) {
  const TTimeParts parts = DecodeTime(time);
  return TwoDigits(parts.hour) + ":" + TwoDigits(parts.minute);
}

}  // namespace

const TDeleteTexts kPaymentDelete = {
    PaymentDataSet,
    "ID",
    "Вы действительно хотите удалить вид оплаты \"%s\"?",
    "Удаление вида оплаты",
    "Не удалось найти указанный вид оплаты в наборе данных!",
    "Ошибка при удалении вида оплаты: %s",
};
const TDeleteTexts kDiscountDelete = {
    SelvoDiscountDataSet,
    "td_ID",
    "Вы действительно хотите удалить скидку \"%s\"?",
    "Удаление скидки",
    "Не удалось найти указанную карту скидок в наборе данных!",
    "Ошибка при удалении скидки: %s",
};

std::string WeekDaysText(std::uint8_t weekDays, bool allWeek) {
  std::string text;
  for (int day = 0; day < 7; ++day) {
    if (!allWeek && !(weekDays & (1u << day))) continue;
    if (!text.empty()) text += ", ";
    text += kWeekDayNames[day];
  }
  return text;
}

std::string PeriodText(bool allDay, double bTime, double eTime) {
  if (allDay) {
    bTime = 0;
    eTime = EncodeTime(23, 59, 0, 0);
  }
  return " с " + HourMinute(bTime) + " по " + HourMinute(eTime);
}

std::string PaymentTypeText(int type) { return type >= 0 && type < 3 ? kPaymentTypeTexts[type] : ""; }

std::string CheckKindText(int check) { return check >= 0 && check < 7 ? kCheckKindShortTexts[check] : ""; }

std::string DiscountCellText(double discount, const TFormatSettings& fs) { return FloatToStrFixed(discount, 2, fs); }

std::vector<std::string> PaymentRowCells(const TPaymentRec& rec, const TFormatSettings& fs) {
  return {std::to_string(rec.ID),
          PaymentRecName(rec),
          PaymentTypeText(rec.Type),
          CheckKindText(rec.Check),
          DiscountCellText(rec.Discount, fs),
          rec.Enabled ? kEnabledOn : kEnabledOff};
}

std::vector<std::string> DiscountRowCells(const TDiscountItem& card, TSelvoPaymentList& payments) {
  const TPaymentRec* payment = payments.FindByID(card.PayID);
  return {std::to_string(card.ID),
          payment ? PaymentRecName(*payment) : std::string(),
          card.DiscountName,
          card.DiscountTarget == 0 ? kTargetReceipt : kTargetGoods,
          WeekDaysText(card.WeekDays, card.AllWeek),
          PeriodText(card.AllDay, card.BTime, card.ETime)};
}

namespace {

TDataSet& SavedDataSet(int index) {
  switch (index) {
    case 0: return PaymentDataSet();
    case 1: return SelvoDiscountDataSet();
    case 2: return DiscountGoodsDataSet();
    default: return ExclusionsDataSet();
  }
}

}  // namespace

bool HasPendingChanges() {
  for (int i = 0; i < 4; ++i)
    if (SavedDataSet(i).ChangeCount() > 0) return true;
  return false;
}

TSaveResult SaveEditorChanges(TTransactionFunc transaction) {
  if (!HasPendingChanges()) return TSaveResult::NothingToSave;
  if (!transaction) throw ENotAvailable(kNoTransaction);
  if (!transaction("START")) return TSaveResult::Refused;
  std::vector<std::string> failures;
  bool committed = false;
  bool changedElsewhere = false;
  try {
    for (int i = 0; i < 4; ++i) {
      TDataSet& ds = SavedDataSet(i);
      if (ds.ChangeCount() <= 0) continue;
      const int failed = ds.ApplyUpdates(-1);
      if (failed > 0) failures.push_back(Fill(kSavedDataSets[i].failureMessage, "%d", std::to_string(failed)));
    }
    // A save is whole: with one entry refused nothing of it is kept, so that
    // no card is left without its targets, nor targets without their card.
    if (failures.empty()) committed = transaction("COMMIT");
  } catch (const EDatabaseError& e) {
    if (e.Kind() != TDatabaseErrorKind::Conflict) {
      transaction("ROLLBACK");
      throw;
    }
    // Another computer's save is never overwritten unseen: this one is out
    // of date as a whole.
    changedElsewhere = true;
    failures = {e.Message()};
  } catch (...) {
    transaction("ROLLBACK");
    throw;
  }
  if (!committed) transaction("ROLLBACK");  // answer ignored: the host may have ended it already
  // Told once the transaction has ended, so that no box waits on screen while
  // the database holds the save's lock.
  for (const std::string& failure : failures)
    ShowMessageBox(failure, kMessageCaption, TMsgIcon::Exclamation, TMsgButtons::OK);
  if (changedElsewhere) return TSaveResult::ChangedElsewhere;
  if (!failures.empty()) return TSaveResult::EntriesRefused;
  return committed ? TSaveResult::Saved : TSaveResult::CommitRefused;
}

bool ToggleEnabled(TDataSet& ds, const char* keyField, std::int32_t id, const char* enabledField) {
  if (!ds.Locate(keyField, {TVariant(std::int64_t{id})}, loNone)) return false;
  ds.Edit();
  TField& field = ds.FieldByName(enabledField);
  field.SetAsInteger(field.AsInteger() == 1 ? 0 : 1);
  ds.Post();
  return true;
}

bool DeleteEditorRow(const TDeleteTexts& what, std::int32_t id, const std::string& name) {
  if (ShowMessageBox(Fill(what.question, "%s", name), what.caption, TMsgIcon::Question, TMsgButtons::OKCancel) !=
      TModalResult::mrOk)
    return false;
  TDataSet* ds = &what.lookup();
  if (!ds->Locate(what.keyField, {TVariant(std::int64_t{id})}, loNone)) {
    ShowMessageBox(what.notFound, kErrorCaption, TMsgIcon::Exclamation, TMsgButtons::OK);
    return false;
  }
  try {
    ds->Delete();
  } catch (const Exception& e) {
    ShowMessageBox(Fill(what.failure, "%s", e.Message()), what.caption, TMsgIcon::Error, TMsgButtons::OK);
  }
  return true;
}

bool ReadRSumOption() {
  TSafeIniFile ini(Module().IniFileName);
  return ini.ReadBool(kDiscountSection, kRSumKey, false);
}

void WriteRSumOption(bool value) {
  TSafeIniFile ini(Module().IniFileName);
  ini.WriteBool(kDiscountSection, kRSumKey, value);
}

TScreenRect PlaceOnScreens(const TScreenRect& window, const std::vector<TScreenRect>& screens) {
  if (screens.empty()) return window;
  constexpr int kGripHeight = 24;
  constexpr int kGripWidth = 48;
  for (const TScreenRect& s : screens) {
    const int left = std::max(window.x, s.x);
    const int right = std::min(window.x + window.width, s.x + s.width);
    const int top = std::max(window.y, s.y);
    const int bottom = std::min(window.y + kGripHeight, s.y + s.height);
    if (right - left >= kGripWidth && bottom > top) return window;
  }
  const TScreenRect& first = screens.front();
  TScreenRect placed = window;
  placed.width = std::min(window.width, first.width);
  placed.height = std::min(window.height, first.height);
  placed.x = first.x + (first.width - placed.width) / 2;
  placed.y = first.y + (first.height - placed.height) / 2;
  return placed;
}

}  // namespace selvo
