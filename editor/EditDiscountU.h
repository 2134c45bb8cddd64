// What the discount card dialog (editor/EditDiscountFrm.h) checks and stores,
// without any widget: the checks of a confirmation with their texts, the
// writing of a card into "SelvoDiscountDS" and its detail datasets
// "DiscountGoodsDS" (targets) and "ExclusionsDS" (periods), the marking and
// reading back of the goods choice in "KeyTovar" and "Goods", and the
// holiday periods.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "discounts/SelvoDiscountItemsU.h"
#include "editor/TimeThresholdListsU.h"
#include "platform/FormTexts.h"

namespace selvo {

// Faults of a confirmation, in the order they are checked.
inline constexpr const char* kNoCardNameFault = "Не указано имя карты скидок";
inline constexpr const char* kDuplicateCardNameFault = "Уже есть карта скидок с таким же названием";
inline constexpr const char* kDailyWindowFault =
    "Время окончания периода суточного действия скидки должно превышать время начала";
inline constexpr const char* kTimeListFaults[5] = {
    "", "Список \"временных\" скидок содержит незаполненные поля",
    "Список \"временных\" скидок содержит недопустимые временные интервалы",
    "Список \"временных\" скидок содержит перекрывающиеся временные интервалы",
    "Список \"временных\" скидок содержит отрицательные значения скидки"};
inline constexpr const char* kTimeListTooLongFault =
    "Список \"временных\" скидок превысил допустимый размер. Необходимо удалить хотябы одну запись";
inline constexpr const char* kThresholdFaults[4] = {
    "", "Список \"пороговых\" скидок содержит незаполненные поля",
    "Список \"пороговых\" скидок содержит одинаковые записи",
    "Список \"пороговых\" скидок содержит отрицательные значения суммы или скидки"};
inline constexpr const char* kThresholdTooLongFault =
    "Список \"пороговых\" скидок превысил допустимый размер. Необходимо удалить хотябы одну запись";
inline constexpr const char* kPeriodFaults[4] = {
    "", "Список периодов действия скидки содержит незаполненные поля",
    "Список периодов действия скидки содержит перекрывающиеся интервалы",
    "Список периодов действия скидки содержит недопустимые временные интервалы"};
inline constexpr const char* kNoPaymentSelected = "Не выбран вид оплаты карты скидок";

inline constexpr const char* kCheckCaption = "Ошибка при проверке целостности карты скидок";
inline constexpr const char* kCardNotFound = "Не удалось найти карту скидок в таблице базы данных SelvoDiscount";
inline constexpr const char* kNoGoodsSelectCallback = "CallBack функция GoodsSelectFormShow не задана";
inline constexpr const char* kSaleBanOnlyForGoods =
    "\"Скидка\" запрета продажи может быть настроена ТОЛЬКО для выбранных товаров или категорий!";
inline constexpr const char* kLoadingGoodsText = "Загрузка данных";

inline constexpr const char* kSaveOperation = "procedure TEditDiscountForm.SaveDataToBase";
inline constexpr const char* kChooseTargetOperation = "procedure TEditDiscountForm.btnChooseTargetClick";
inline constexpr const char* kReadChoiceOperation = "procedure GetChechedCategoryAndGoodsLists";

// Targets of a card (cbDscTarget's items).
inline constexpr int kTargetReceipt = 0;
inline constexpr int kTargetGoods = 1;

// The dialog's controls as a confirmation reads them.
struct TCardControls {
  std::optional<std::int32_t> payID;  // the selected payment type; none when nothing is selected
  std::string name;                   // as typed
  int target = kTargetReceipt;
  bool allDay = true;
  double beginTime = 0;  // the pickers (their time of day counts)
  double endTime = kLastSecondOfDay;
  bool allWeek = true;
  std::uint8_t weekDays = 0;
  bool enabled = true;
};

// The controls showing a card.
TCardControls CardControls(const TDiscountItem& card);

// The three lists as the dialog's frames hold them.
struct TCardLists {
  const TTimeThresholdCells& times;
  const TTimeThresholdCells& thresholds;
  const TTimeThresholdCells& periods;
};

// Copies the controls and lists into the card step by step and answers the
// faults found, in step order (empty: the card is sound). `list` is the
// discount list a duplicate name is looked for in; `card` may be one of its
// cards. A time cell that is no time raises EConvertError, and no payment
// type selected raises EListError; the card then holds what was copied
// before.
std::vector<std::string> CheckCard(const TCardControls& controls, const TCardLists& lists, TDiscountItem& card,
                                   const TDiscountList& list);

// The faults as one message, one per line.
std::string JoinFaults(const std::vector<std::string>& faults);

// The datasets a card is written into; targets and periods are details of
// cards (they present only the rows of the card on which `cards` stands).
struct TCardDataSets {
  TDataSet& cards;
  TDataSet& targets;
  TDataSet& periods;
};

// Writes a checked card: changing an existing row (located by td_ID; EDatabaseError
// kCardNotFound when it is not there) or appending one with a new identifier
// from `list` (stored into the card as well). Target and period rows the card
// no longer holds are deleted, missing ones appended with identifiers from
// NextDscGoodsID / NextExclusionsID; rows that stay are not touched. On any
// error the card row's unposted edit is cancelled (so that it cannot be
// posted later by accident) and the error passes on; detail rows already
// written stay.
void SaveCard(TDiscountItem& card, bool changing, TDiscountList& list, const TCardDataSets& ds);

// Marks the card's choice: KeyTovar.CheckField 1 for its categories and 0
// for the others; for each category not chosen whole, Goods.Kolvo 1 for its
// goods and 0 for the others. A row is posted only when its mark changes.
void MarkGoodsChoice(const TDiscountItem& card, TDataSet& keyTovar, TDataSet& goods);

// Reads the operator's choice back: the categories whose CheckField is 1,
// and the goods marked (Kolvo > 0) among those Goods presents while KeyTovar
// stands on a category not chosen whole. The lists are replaced only when
// reading succeeds. Errors carry kReadChoiceOperation in front.
void GetChechedCategoryAndGoodsLists(TDataSet& keyTovar, TDataSet& goods, THashedTextList& categories,
                                     THashedTextList& goodsList);

// The goods choice of a card, whole: the host's callback must be set (else
// the error kNoGoodsSelectCallback); Goods and KeyTovar are reopened, the
// card's choice marked between openProgress and closeProgress (closed also
// when marking fails), the callback called, and on its answer 1 the choice
// read back into the card. Answers whether the card's lists were replaced.
// Every error carries kChooseTargetOperation in front.
bool ChooseCardTargets(TDiscountItem& card, TDataSet& keyTovar, TDataSet& goods, std::int32_t (*selectGoods)(),
                       const std::function<void()>& openProgress, const std::function<void()>& closeProgress);

// The eight holiday periods of a year, each from 00:00:00 of its first day
// to 23:59:59 of its last: 1-5 January, 7 January, 23 February, 8 March,
// 1 May, 9 May, 12 June, 4 November.
std::vector<std::pair<double, double>> HolidayPeriods(int year);
// Appends, in effect, each holiday period of the year whose begin and end
// (SameDiscountValue) the card does not hold already, flag aside. Answers the
// number added.
int AddHolidayPeriods(TDiscountItem& card, int year);

}  // namespace selvo
