#include "payments/EditPaymentU.h"

#include "payments/SelvoPaymentListU.h"
#include "platform/TextCodec.h"
#include "state/SelvoModuleU.h"
#include "support/SafeIniFiles.h"

namespace selvo {
namespace {

// Positions of the built-in names in PaymentKindNames.
enum : int { kCash, kCashless, kLnr, kTerminal, kDiscountCard, kLbr };
// The base code each built-in type must be linked to; -1: any.
constexpr std::int32_t kRequiredBaseCodes[6] = {0, -1, 6, 1, 10, 12};

// The position of a built-in name, letter case ignored; -1 for another name.
int BuiltInIndex(const std::string& name) {
  const std::vector<std::string>& kinds = Module().PaymentKindNames;
  for (std::size_t i = 0; i < kinds.size(); ++i)
    if (SameText(kinds[i], name)) return static_cast<int>(i);
  return -1;
}

bool InRange(std::int32_t value, std::int32_t low, std::int32_t high) { return value >= low && value <= high; }

std::string LinkMessage(const std::string& name, std::optional<std::int32_t> code) {
  const int kind = code ? BaseGsmKindIndex(*code) : -1;
  const std::string text = kind >= 0 ? kGsmBaseKinds[kind].text : "";
  return "Для вида оплаты \"" + name + "\" ошибочно указан связанный вид оплаты ГСМ \"" + text + "\"";
}

bool LocatePayment(TDataSet& ds, std::int32_t id) { return ds.Locate("ID", {TVariant(std::int64_t{id})}, loNone); }

std::int32_t EditedPaymentID(const TPaymentEdit& edit) { return PaymentList().GetItem(edit.index)->ID; }

// Editing a row other than the payment type's would overwrite another one.
void MoveToPayment(TDataSet& ds, std::int32_t id) {
  if (!LocatePayment(ds, id))
    throw EDatabaseError("Виды оплаты: в наборе данных Payment нет вида оплаты с ID = " + std::to_string(id) + "!");
}

}  // namespace

std::string PaymentIniKey(const std::string& name, const char* suffix) { return name + suffix; }

int BaseGsmKindIndex(std::int32_t code) {
  for (int i = 0; i < 8; ++i)
    if (kGsmBaseKinds[i].code == code) return i;
  return -1;
}

std::optional<std::int32_t> RequiredBaseGsmCode(const std::string& name) {
  const int kind = BuiltInIndex(name);
  if (kind < 0 || kRequiredBaseCodes[kind] < 0) return std::nullopt;
  return kRequiredBaseCodes[kind];
}

bool IsTerminalPaymentName(const std::string& name) {
  const int kind = BuiltInIndex(name);
  return kind == kLnr || kind == kTerminal || kind == kLbr;
}

bool HidesUseDscCardValue(const std::string& name) {
  const int kind = BuiltInIndex(name);
  return kind == kLnr || kind == kDiscountCard || kind == kLbr;
}

bool TerminalGroupAfterBaseSelect(const std::string& name, std::optional<std::int32_t> code, bool visible) {
  if (IsBuiltInPaymentName(name)) return visible;
  return code && (*code == 1 || *code == 6 || *code == 12);
}

std::string BaseGsmHint(std::optional<std::int32_t> code) {
  const int kind = code ? BaseGsmKindIndex(*code) : -1;
  return std::string("Базовый вид оплаты: ") + (kind >= 0 ? kGsmBaseKinds[kind].text : "");
}

int ItogPrecIndex(std::int32_t value) {
  for (int i = 0; i < 7; ++i)
    if (kItogPrecValues[i] == value) return i;
  return 0;
}

void LoadPaymentRow(TDataSet& ds, TPaymentEdit& edit) {
  const TModuleState& m = Module();
  edit.name = ds.FieldByName("Name").AsString();
  edit.type = ds.FieldByName("Type").AsInteger() == 1 ? 1 : 0;
  const std::int32_t check = ds.FieldByName("Check").AsInteger();
  edit.check = InRange(check, 0, 6) ? check : -1;
  edit.discount = ds.FieldByName("Discount").AsFloat();
  edit.enabled = ds.FieldByName("Enabled").AsInteger() == 1;
  if (m.HasGsmVOField) {
    const std::int32_t gsmVO = ds.FieldByName("GsmVO").AsInteger();
    const std::int32_t code = gsmVO % 100;
    edit.baseGsmCode.reset();
    if (BaseGsmKindIndex(code) >= 0) edit.baseGsmCode = code;
    edit.addVOIndex = gsmVO / 100;
  }
  if (m.HasCheckItogPrecField) {
    edit.itogPrec = kItogPrecValues[ItogPrecIndex(ds.FieldByName("CheckItogPrec").AsInteger())];
    edit.itogPrecLimit = ds.FieldByName("CheckPrecLimit").AsFloat();
  }
  if (m.HasCustomCheckField) {
    edit.customCheck = ds.FieldByName("CUSTOMCHECK").AsString();
    if (Trim(edit.customCheck).empty()) edit.customCheck = DefaultCustomCheck();
  }
}

void ReadPaymentIniSettings(TCustomIniFile& ini, TPaymentEdit& edit) {
  const auto key = [&](const char* suffix) { return PaymentIniKey(edit.name, suffix); };
  if (edit.terminalVisible) {
    std::int32_t koshel, calcType;
    if (ini.ReadBool(kTerminalsSection, key("_Modified"), false)) {
      const std::int32_t number = ini.ReadInteger(kTerminalsSection, key("_Number"), 0);
      edit.termNumber = InRange(number, 0, kTerminalCount - 1) ? number : 0;
      koshel = ini.ReadInteger(kTerminalsSection, key("_Koshel"), 0);
      calcType = ini.ReadInteger(kTerminalsSection, key("_ProgramCalc"), 1);
      edit.termFixBonus = ini.ReadBool(kTerminalsSection, key("_FixBonus"), false);
    } else {
      edit.termNumber = 0;
      koshel = ini.ReadInteger(kStationSection, "m_CellNum", 0);
      calcType = ini.ReadInteger(kStationSection, "m_TermCalcType", 1);
      edit.termFixBonus = ini.ReadBool(kStationSection, "m_FixBonus", false);
    }
    // A station value outside the range is taken as a saved one would be,
    // rather than cut to the nearest end of the range.
    edit.termKoshel = InRange(koshel, 0, kMaxKoshel) ? koshel : 0;
    edit.termCalcType = InRange(calcType, 0, 1) ? calcType : 1;
  }
  if (edit.useDscCardValueVisible)
    edit.useDscCardValue = ini.ReadBool(kTerminalsSection, key("_UseDscCardValue"), false);
  edit.printSummaVisible = PrintSummaShown(edit.check);
  edit.printSumma = ini.ReadBool(kPrintOptionsSection, key("_PrintSumma"), true);
  edit.printSkidka = ini.ReadBool(kPrintOptionsSection, key("_PrintSkidka"), false);
}

void WritePaymentIniSettings(TCustomIniFile& ini, const TPaymentEdit& edit) {
  const auto key = [&](const char* suffix) { return PaymentIniKey(edit.name, suffix); };
  if (edit.terminalVisible) {
    ini.WriteInteger(kTerminalsSection, key("_Number"), edit.termNumber < 0 ? 0 : edit.termNumber);
    ini.WriteInteger(kTerminalsSection, key("_Koshel"), edit.termKoshel);
    ini.WriteInteger(kTerminalsSection, key("_ProgramCalc"), edit.termCalcType < 0 ? 0 : edit.termCalcType);
    ini.WriteBool(kTerminalsSection, key("_FixBonus"), edit.termFixBonus);
    ini.WriteBool(kTerminalsSection, key("_Modified"), true);
  }
  if (edit.useDscCardValueVisible) ini.WriteBool(kTerminalsSection, key("_UseDscCardValue"), edit.useDscCardValue);
  ini.WriteBool(kPrintOptionsSection, key("_PrintSumma"), edit.printSumma);
  ini.WriteBool(kPrintOptionsSection, key("_PrintSkidka"), edit.printSkidka);
}

TPaymentEdit OpenPaymentEdit(TDataSet& ds, std::int32_t index) {
  const TModuleState& m = Module();
  TPaymentEdit edit;
  edit.index = index < 0 ? -1 : index;
  edit.gsmEnabled = m.HasGsmVOField;
  edit.customCheckEnabled = m.HasCustomCheckField;
  if (!edit.Editing()) return edit;

  MoveToPayment(ds, EditedPaymentID(edit));
  LoadPaymentRow(ds, edit);
  if (m.HasGsmVOField)
    edit.terminalVisible = TerminalGroupAfterBaseSelect(edit.name, edit.baseGsmCode, edit.terminalVisible);
  edit.nameEnabled = IsRenamablePayment(index);
  if (!edit.terminalVisible && IsTerminalPaymentName(edit.name)) edit.terminalVisible = true;
  if (HidesUseDscCardValue(edit.name)) edit.useDscCardValueVisible = false;
  edit.itogVisible = m.HasCheckItogPrecField;
  TSafeIniFile ini(m.IniFileName);
  ReadPaymentIniSettings(ini, edit);
  return edit;
}

std::optional<std::string> CheckPaymentEdit(const TPaymentEdit& edit) {
  std::optional<std::string> message;
  const std::string trimmed = Trim(edit.name);
  if (trimmed.empty()) message = kNoNameMessage;
  // Such a name would make a settings line that reads back as another key
  // ("=") or as a section header or a comment ("[", ";"), and the lines after
  // a false header would be lost to the section of every other payment type.
  if (!trimmed.empty() &&
      (trimmed.find_first_of("=\r\n") != std::string::npos || trimmed.front() == '[' || trimmed.front() == ';'))
    message = kNameNotForSettingsMessage;
  if (edit.addVOIndex < 0) message = kNegativeIndexMessage;
  // Without a "GsmVO" column there is no link to choose, and none to check.
  if (const std::optional<std::int32_t> required = RequiredBaseGsmCode(edit.name);
      required && edit.gsmEnabled && edit.baseGsmCode != required) {
    message = LinkMessage(edit.name, edit.baseGsmCode);
  }
  TPaymentList& list = PaymentList();
  for (std::int32_t i = 0; i < list.Count(); ++i) {
    if (i != edit.index && SameText(PaymentRecName(*list.GetItem(i)), trimmed)) {
      message = kNameInUseMessage;
      break;
    }
  }
  const TModuleState& m = Module();
  if (!m.CanEditSmartCardDiscount && BuiltInIndex(trimmed) == kTerminal && edit.discount != 0)
    message = kTerminalDiscountMessage;
  if (edit.terminalVisible && edit.termCalcType == 1 && edit.termFixBonus) message = kFixBonusMessage;
  return message;
}

void StorePaymentEdit(TDataSet& ds, const TPaymentEdit& edit) {
  const TModuleState& m = Module();
  if (edit.Editing()) {
    MoveToPayment(ds, EditedPaymentID(edit));
    ds.Edit();
  } else {
    ds.Append();
  }
  try {
    if (!edit.Editing()) ds.FieldByName("ID").SetAsInteger(PaymentList().NewID());
    ds.FieldByName("Name").SetAsString(edit.name);
    ds.FieldByName("Type").SetAsInteger(edit.type < 0 ? 0 : edit.type);
    ds.FieldByName("Check").SetAsInteger(edit.check < 0 ? 0 : edit.check);
    ds.FieldByName("Discount").SetAsFloat(edit.discount);
    ds.FieldByName("Enabled").SetAsInteger(edit.enabled ? 1 : 0);
    if (m.HasCheckItogPrecField) {
      ds.FieldByName("CheckItogPrec").SetAsInteger(edit.itogPrec);
      ds.FieldByName("CheckPrecLimit").SetAsFloat(edit.itogPrecLimit);
    }
    if (m.HasGsmVOField && edit.baseGsmCode)
      ds.FieldByName("GsmVO").SetAsInteger(*edit.baseGsmCode + 100 * edit.addVOIndex);
    if (m.HasCustomCheckField) ds.FieldByName("CUSTOMCHECK").SetAsString(edit.customCheck);
  } catch (...) {
    // A half-assigned row must not be stored by the next reload of the list.
    ds.Cancel();
    throw;
  }
  TSafeIniFile ini(m.IniFileName);
  WritePaymentIniSettings(ini, edit);
}

}  // namespace selvo
