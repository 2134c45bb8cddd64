// What the payment type dialog (payments/EditPaymentFrm.h) shows and stores,
// without any widget: the values of its controls and which of them are shown,
// filled from a "Payment" dataset row and Selvo.ini; the checks of a
// confirmation; and the writing of a confirmed payment type back into the
// dataset row and Selvo.ini.
//
// Selvo.ini keys of a payment type are formed from its name at that moment
// ("<name>_Koshel" in "Terminals", "<name>_PrintSumma" in "SELVOVIDOPL"), so a
// renamed payment type starts with fresh keys and its old ones stay.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "selvo/SelvoPaymentsTypes.h"

namespace selvo {

class TCustomIniFile;

inline constexpr const char* kTerminalsSection = "Terminals";
inline constexpr const char* kPrintOptionsSection = "SELVOVIDOPL";
inline constexpr const char* kStationSection = "VAR";

inline constexpr const char* kNewPaymentName = "Новый вид оплаты";
// The rounding multiples offered, in kopecks.
inline constexpr int kItogPrecValues[7] = {1, 5, 10, 50, 100, 500, 1000};

// Ranges of the number fields.
inline constexpr double kMaxDiscount = 100;
inline constexpr int kDiscountDecimals = 1;
inline constexpr double kMaxItogPrecLimit = 1000000;
inline constexpr int kItogPrecLimitDecimals = 2;
inline constexpr int kTerminalCount = 10;  // devices "1" to "10"
inline constexpr int kMaxKoshel = 255;
inline constexpr int kMaxAddVOIndex = 99;

// The confirmation's messages.
inline constexpr const char* kNoNameMessage = "Не указано имя вида оплаты!";
// A payment type's settings in Selvo.ini are kept under keys made from its
// name, so a name that a settings line cannot hold as a key is refused.
inline constexpr const char* kNameNotForSettingsMessage =
    "Имя вида оплаты не может содержать знак \"=\" или перевод строки и начинаться со знаков \"[\" или \";\"!";
inline constexpr const char* kNegativeIndexMessage =
    "Индекс дополнительного вида оплаты ГСМ нельзя делать меньше нуля!";
inline constexpr const char* kNameInUseMessage = "Данный вид оплаты уже используется!";
inline constexpr const char* kTerminalDiscountMessage = "Нельзя задавать скидку для платежного терминала!";
inline constexpr const char* kFixBonusMessage =
    "Фиксация бонусов возможна только при расчете суммы средствами терминала!";

// The dialog's content: the value of every control and what is shown or
// enabled. Positions are those of the lists (cbCheck, rgType, cbTermNumber,
// rgTermCalcType); -1 is no selection.
struct TPaymentEdit {
  std::int32_t index = -1;  // position in the payment list; -1 when adding

  std::string name = kNewPaymentName;  // as typed, not trimmed
  int type = 0;                        // 0 cash, 1 cashless
  int check = 0;                       // receipt kind 0..6
  double discount = 0;
  bool enabled = true;
  int itogPrec = 1;  // kopecks, one of kItogPrecValues
  double itogPrecLimit = 5.0;
  std::optional<std::int32_t> baseGsmCode;  // the chosen base type of the fuel side
  int addVOIndex = 0;
  std::string customCheck;  // the goods receipt template being edited
  int termNumber = 0;       // device number minus one
  int termKoshel = 0;
  int termCalcType = 1;  // 0 the terminal computes, 1 the program does
  bool termFixBonus = false;
  bool useDscCardValue = false;
  bool printSumma = false;
  bool printSkidka = false;

  bool gsmEnabled = false;          // cbBaseGsmVO, seAddVOIndex
  bool customCheckEnabled = false;  // btnCustomCheck
  bool nameEnabled = true;          // edName and rgType
  bool terminalVisible = false;     // gbTerminalProp
  bool useDscCardValueVisible = true;
  bool itogVisible = false;  // GroupBox9
  bool printSummaVisible = true;

  bool Editing() const { return index >= 0; }
};

// "<name><suffix>", the key of a payment type's setting in Selvo.ini.
std::string PaymentIniKey(const std::string& name, const char* suffix);

// The position of a base type of the fuel side in kGsmBaseKinds; -1 for a
// code that is none of them.
int BaseGsmKindIndex(std::int32_t code);
// The base code a built-in payment type must be linked to; none for a name
// that is not built-in or a built-in one linked to any ("безналичные").
std::optional<std::int32_t> RequiredBaseGsmCode(const std::string& name);
// "ЛНР", "платежный терминал" or "ЛБР" (letter case ignored): the built-in
// types with terminal parameters.
bool IsTerminalPaymentName(const std::string& name);
// "ЛНР", "дисконтная карта" or "ЛБР": the option "Брать скидку с
// дисконтной карты" is hidden for them.
bool HidesUseDscCardValue(const std::string& name);
// Whether the terminal group is shown after a base type was chosen: for a
// name that is not built-in, exactly for base codes 1, 6 and 12; a built-in
// name keeps `visible`.
bool TerminalGroupAfterBaseSelect(const std::string& name, std::optional<std::int32_t> code, bool visible);
// cbPrintSumma is shown for the cashless receipt kinds (above 1).
inline bool PrintSummaShown(int check) { return check > 1; }
// The hint of cbBaseGsmVO: "Базовый вид оплаты: " and the chosen base type.
std::string BaseGsmHint(std::optional<std::int32_t> code);
// The position in kItogPrecValues of a rounding multiple; 0 when it is none.
int ItogPrecIndex(std::int32_t value);

// Fills the values of the current "Payment" row: name, type, receipt kind,
// discount, enabled and, where the dataset has them, the fuel-side link, the
// rounding and the receipt template (the default one when the row's is
// blank). Sets nothing that depends on the name.
void LoadPaymentRow(TDataSet& ds, TPaymentEdit& edit);

// Reads the terminal parameters (when the terminal group is shown) and the
// printing options of edit.name. Saved terminal values outside their ranges
// read as the first device, purse 0 and the program's calculation; while a
// payment type has none saved, the station-wide "VAR" values serve, by the
// same ranges.
void ReadPaymentIniSettings(TCustomIniFile& ini, TPaymentEdit& edit);
// Writes them under the keys of edit.name: the terminal parameters when the
// group is shown ("_Modified" last), "_UseDscCardValue" when its box is
// shown, "_PrintSumma" and "_PrintSkidka" always.
void WritePaymentIniSettings(TCustomIniFile& ini, const TPaymentEdit& edit);

// The dialog's content for adding (index < 0) or for the payment type at that
// position of the module's payment list, from the module's flags, the
// dataset and Selvo.ini. When editing, the dataset is left on the payment
// type's row. Raises EListError for a position outside the list and
// EDatabaseError when the dataset has no row of the payment type's ID.
TPaymentEdit OpenPaymentEdit(TDataSet& ds, std::int32_t index);

// The checks of a confirmation, in order; each failing one replaces the
// message of an earlier one, so the answer is the last failing check's
// message, or none when all pass.
std::optional<std::string> CheckPaymentEdit(const TPaymentEdit& edit);

// Stores a confirmed payment type: puts its row into edit mode (or appends
// one with a new ID from the payment list), assigns the fields and leaves the
// row unposted for the caller's FillPaymentsList to store; then writes the
// Selvo.ini settings of its name. Raises EDatabaseError when the edited row
// is no longer there; the dataset's conversion errors pass through.
void StorePaymentEdit(TDataSet& ds, const TPaymentEdit& edit);

}  // namespace selvo
