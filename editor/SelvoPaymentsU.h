// The settings editor's logic without widgets: the cell texts of its two
// lists, switching a row on and off, deleting with the operator's question,
// the one-transaction save of the four edited datasets, the option kept in
// Selvo.ini and the window placement brought back onto a screen. The window
// (editor/SelvoPaymentsFrm) shows what this unit answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FormatSettings.h"
#include "selvo/SelvoCallbacks.h"
#include "selvo/SelvoDataSets.h"
#include "selvo/SelvoRecords.h"

namespace selvo {

class TDiscountItem;
class TSelvoPaymentList;

// The window's title and the place of its placement in the per-user
// settings: organisation, application and group of QSettings.
inline constexpr const char* kEditorTitle = "Виды оплаты и автоматические скидки";
inline constexpr const char* kPlacementOrganization = "Tarvik";
inline constexpr const char* kPlacementApplication = "Norvan";
inline constexpr const char* kPlacementGroup = "selvopayments";

// The option of the window's check box, in Selvo.ini.
inline constexpr const char* kDiscountSection = "SelvoDiscount";
inline constexpr const char* kRSumKey = "RSumCanNotBeLowThenZSum";

// Columns of the two lists: title and width.
struct TColumn {
  const char* title;
  int width;
};
inline constexpr TColumn kPaymentColumns[6] = {{"№", 30},   {"Наименование", 180}, {"Вид оплаты", 120},
                                               {"Чек", 80}, {"Скидка (%)", 90},    {"Вкл", 60}};
inline constexpr TColumn kDiscountColumns[6] = {
    {"№", 30},           {"Имя вида оплаты", 150}, {"Название карты скидок", 150}, {"Действует на", 100},
    {"Дни недели", 160}, {"Период", 120}};

// " пн, ср" without the blank: the taken days' abbreviations joined by ", ".
// All seven with allWeek; bit 0 Monday .. bit 6 Sunday, bit 7 ignored.
std::string WeekDaysText(std::uint8_t weekDays, bool allWeek);
// " с hh:nn по hh:nn" of the daily window; " с 00:00 по 23:59" when allDay.
std::string PeriodText(bool allDay, double bTime, double eTime);
// Cells of the payment type list: kind by Type (0 and 2 cash, 1 cashless),
// receipt kind by Check; empty for a value without a text.
std::string PaymentTypeText(int type);
std::string CheckKindText(int check);
// The discount with two decimals and fs's decimal separator ("5,00").
std::string DiscountCellText(double discount, const TFormatSettings& fs);

// The six cells of a row of each list.
std::vector<std::string> PaymentRowCells(const TPaymentRec& rec, const TFormatSettings& fs);
// The payment type's name is that of the type with the card's PayID in
// payments; empty when there is none.
std::vector<std::string> DiscountRowCells(const TDiscountItem& card, TSelvoPaymentList& payments);

// One of the four datasets the editor saves, in saving order.
struct TSavedDataSet {
  const char* name;
  const char* failureMessage;  // "%d" is the number of failed entries
};
inline constexpr TSavedDataSet kSavedDataSets[4] = {
    {"Payment", "При сохранении видов оплаты произошло \"%d\" ошибок"},
    {"SelvoDiscountDS", "При сохранении таблицы SelvoDiscount произошло \"%d\" ошибок"},
    {"DiscountGoodsDS", "При сохранении таблицы DiscountGoods произошло \"%d\" ошибок"},
    {"ExclusionsDS", "При сохранении таблицы Exclusions произошло \"%d\" ошибок"},
};

// True when one of the four datasets has unapplied changes (looked up in
// saving order, stopping at the first that has).
bool HasPendingChanges();

// Refused: the host did not start a transaction; EntriesRefused: the
// database refused entries of a dataset; ChangedElsewhere: another computer
// changed or deleted a row this save changes or deletes, after it was
// loaded; CommitRefused: the host did not commit. None of them saved
// anything, and the changes are still pending.
enum class TSaveResult { NothingToSave, Refused, EntriesRefused, ChangedElsewhere, CommitRefused, Saved };
// The save: nothing without pending changes; "START" through transaction
// (an answer false: nothing applied, nothing more sent); each dataset's
// change log applied in order; "COMMIT" when every entry was written. A
// save is whole: when entries were refused, "ROLLBACK" instead, and each
// dataset's count of failed entries is told (caption "Сообщение") once the
// transaction has ended. An answer false to "COMMIT" (the connection
// dropped, the file stayed busy) is no save either: "ROLLBACK" follows, so
// that the host ends what is left of the transaction. After a "ROLLBACK" the
// host's datasets hold the applied entries in their logs again, for the next
// try. A row changed elsewhere (the host's EDatabaseError of kind Conflict)
// sends "ROLLBACK" and is told (caption "Сообщение") once the transaction
// has ended. Any other error while applying or committing sends "ROLLBACK"
// and is raised again. A missing callback raises ENotAvailable before anything is applied.
TSaveResult SaveEditorChanges(TTransactionFunc transaction);

// Switches the row whose keyField equals id: enabledField 1 becomes 0,
// anything else 1, and posts it. False when there is no such row.
bool ToggleEnabled(TDataSet& ds, const char* keyField, std::int32_t id, const char* enabledField);

// What a list deletes: a payment type or a discount card, with its texts.
struct TDeleteTexts {
  TDataSet& (*lookup)();
  const char* keyField;
  const char* question;  // "%s" is the row's name
  const char* caption;
  const char* notFound;
  const char* failure;  // "%s" is the error's message
};
extern const TDeleteTexts kPaymentDelete;
extern const TDeleteTexts kDiscountDelete;

// Asks the operator, locates the row and deletes it, showing the texts of
// `what`. Answers true when the list must be reloaded (the operator agreed
// and the row was there, deleted or not).
bool DeleteEditorRow(const TDeleteTexts& what, std::int32_t id, const std::string& name);

// The window's option in Selvo.ini ("1" / "0"); reading answers false when
// the key is missing.
bool ReadRSumOption();
void WriteRSumOption(bool value);

// A rectangle of the screen in pixels.
struct TScreenRect {
  int x = 0, y = 0, width = 0, height = 0;
};
// The window's stored frame kept when a grip of its title bar (the top 24
// pixels, at least 48 pixels wide) lies on one of the screens; otherwise
// moved into the middle of the first screen and made no larger than it.
TScreenRect PlaceOnScreens(const TScreenRect& window, const std::vector<TScreenRect>& screens);

}  // namespace selvo
