#include "payments/SelvoPaymentListU.h"

#include <cmath>
#include <cstdio>

#include "platform/Beep.h"
#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"
#include "state/IdentifierAllocator.h"
#include "state/SelvoModuleU.h"

namespace selvo {
namespace {

// The record is packed: its text field is released through a copy of the
// pointer, never through a reference to the unaligned field.
void ReleaseCustomCheck(TPaymentRec& rec) {
  AnsiTextRelease(rec.CustomCheck);
  rec.CustomCheck = nullptr;
}

void FreeRecord(TPaymentRec* rec) {
  ReleaseCustomCheck(*rec);
  delete rec;
}

// Whether Trim would leave nothing of the text (blanks and control characters only).
bool IsBlankText(const std::string& text) {
  for (unsigned char c : text)
    if (c > ' ') return false;
  return true;
}

}  // namespace

const std::string& DefaultCustomCheck() {
  static const std::string kTemplate = [] {
    const std::string hyphens(36, '-');
    const char* lines[] = {
        "       <#OrgName> <#AZS>",
        "         СПАСИБО ЗА ПОКУПКУ",
        "",
        "",
        "#Delim1#  ТОВАРНЫЙ ЧЕК: <#DateTime>",
        "Док.: <#BNSchet(10)> Оплата: <#Payment(11)>",
        nullptr,  // first hyphen line
        nullptr,  // second hyphen line
        "@ИТОГО:  <#Itog(10.2)>р.",
        "",
        "КАССИР ____________ <#Kassir(16)>",
        "",
        "",
        "",
    };
    std::string text;
    for (int i = 0; i < 14; ++i) {
      if (i) text += "\r\n";
      if (i == 6)
        text += hyphens + "#Delim2#<#Line( 2.0)>.<#Tovar(33)>";
      else if (i == 7)
        text += " <#Kod(13)> <#Count(5.1)>x<#Price(7.2 )><#Summa(8.2)>#Delim3#" + hyphens;
      else
        text += lines[i];
    }
    return text;
  }();
  return kTemplate;
}

std::string PaymentRecName(const TPaymentRec& rec) {
  const std::size_t len = rec.Name[0] > 20 ? 20 : rec.Name[0];
  return Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(rec.Name + 1), len));
}

void SetPaymentRecName(TPaymentRec& rec, const std::string& utf8Name) {
  // One byte per character in the code page: the first 20 bytes are the
  // first 20 characters.
  std::string bytes = Utf8ToCp1251(utf8Name);
  if (bytes.size() > 20) bytes.resize(20);
  std::memset(rec.Name, 0, sizeof rec.Name);
  rec.Name[0] = static_cast<std::uint8_t>(bytes.size());
  std::memcpy(rec.Name + 1, bytes.data(), bytes.size());
}

std::string PaymentRecCustomCheck(const TPaymentRec& rec) { return Cp1251ToUtf8(AnsiTextBytes(rec.CustomCheck)); }

void SetPaymentRecCustomCheck(TPaymentRec& rec, const std::string& utf8Text) {
  TAnsiText text = AnsiTextNew(Utf8ToCp1251(utf8Text));
  ReleaseCustomCheck(rec);
  rec.CustomCheck = text;
}

// ---------------------------------------------------------------------------
// TPaymentList

TPaymentList::TPaymentList() = default;

TPaymentList::~TPaymentList() { Clear(); }

void TPaymentList::Clear() {
  for (TPaymentRec* rec : items_) {
    try {
      FreeRecord(rec);
    } catch (...) {
      Beep(500, 100);  // a record that cannot be freed must not stop the others
    }
  }
  items_.clear();
}

TPaymentRec* TPaymentList::GetItem(std::int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) {
    throw EListError("Индекс списка за пределами допустимого диапазона (" + std::to_string(index) + ")");
  }
  return items_[static_cast<std::size_t>(index)];
}

std::int32_t TPaymentList::Count() { return static_cast<std::int32_t>(items_.size()); }

void TPaymentList::Add(const TPaymentRec* record) {
  auto* copy = new TPaymentRec(*record);
  DynArrayAddRef(copy->CustomCheck);
  items_.push_back(copy);
}

TPaymentRec* TPaymentList::FindByName(const char* name) {
  // Windows-1251 bytes, as the record's Name holds them: compared byte for
  // byte with Cyrillic and Latin letters folded.
  const std::string_view wanted = name ? name : "";
  for (TPaymentRec* rec : items_) {
    const std::size_t len = rec->Name[0] > 20 ? 20 : rec->Name[0];
    if (len != wanted.size()) continue;
    bool same = true;
    for (std::size_t i = 0; same && i < len; ++i)
      same = LowerCp1251(rec->Name[i + 1]) == LowerCp1251(static_cast<unsigned char>(wanted[i]));
    if (same) return rec;
  }
  return nullptr;
}

std::int32_t TSelvoPaymentList::IndexOfID(std::int32_t id) {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i]->ID == id) return static_cast<std::int32_t>(i);
  return -1;
}

TPaymentRec* TSelvoPaymentList::FindByID(std::int32_t id) {
  const std::int32_t index = IndexOfID(id);
  return index < 0 ? nullptr : items_[static_cast<std::size_t>(index)];
}

std::int32_t TSelvoPaymentList::NewID() {
  TModuleState& m = Module();
  return AllocateIdentifier(m.PaymentIDCounter, m.LastPaymentID, "нового вида оплаты",
                            [this](std::int32_t id) { return IndexOfID(id) >= 0; });
}

// ---------------------------------------------------------------------------
// Loading

void FillPaymentsList() {
  TModuleState& m = Module();
  if (!m.DataModule) throw EDatabaseError("Виды оплаты: ссылка на модуль данных не загружена!");
  TSelvoPaymentList& list = PaymentList();
  list.Clear();
  TDataSet& ds = PaymentDataSet();
  // The list is loaded again after every row an import posts, so a load
  // must cost little per row: fields are looked up once (they stay the
  // dataset's for every row), and a receipt template is converted once for
  // the rows that share it (most hold the default one).
  TField& idField = ds.FieldByName("ID");
  TField& nameField = ds.FieldByName("Name");
  TField& typeField = ds.FieldByName("Type");
  TField& checkField = ds.FieldByName("Check");
  TField& discountField = ds.FieldByName("Discount");
  TField& enabledField = ds.FieldByName("Enabled");
  TField* itogPrec = ds.FindField("CheckItogPrec");
  TField* precLimit = itogPrec ? &ds.FieldByName("CheckPrecLimit") : nullptr;
  TField* gsmVO = ds.FindField("GsmVO");
  TField* customCheck = ds.FindField("CUSTOMCHECK");
  TField* printCustomCheck = customCheck ? &ds.FieldByName("PRINTCUSTOMCHECK") : nullptr;
  m.HasCheckItogPrecField = itogPrec != nullptr;
  m.HasGsmVOField = gsmVO != nullptr;
  m.HasCustomCheckField = customCheck != nullptr;

  TAnsiText lastText = nullptr;  // the converted template of lastCheck, one reference held here
  std::string lastCheck;
  struct TTextHolder {
    TAnsiText& text;
    ~TTextHolder() { AnsiTextRelease(text); }
  } holder{lastText};

  ds.First();
  while (!ds.Eof()) {
    TPaymentRec rec{};
    rec.ID = idField.AsInteger();
    SetPaymentRecName(rec, nameField.AsString());
    rec.Type = static_cast<std::uint8_t>(typeField.AsInteger() & 0xFF);
    rec.Check = static_cast<std::uint8_t>(checkField.AsInteger() & 0xFF);
    rec.Discount = discountField.AsFloat();
    // A stored discount the editor would not let through (infinite, above
    // 100 % or below 0) would make a free or a dearer sale: refused here.
    if (!std::isfinite(rec.Discount) || rec.Discount < 0 || rec.Discount > 100) {
      throw EDatabaseError("Payment: запись ID=" + std::to_string(rec.ID) + ", поле Discount: скидка " +
                           FloatToStr(rec.Discount, ModuleFormatSettings()) + " % вне пределов от 0 до 100");
    }
    rec.Enabled = enabledField.AsInteger() == 1;

    rec.CheckItogPrec = 1;
    rec.CheckPrecLimit = 0;
    if (itogPrec) {
      rec.CheckItogPrec = itogPrec->AsInteger();
      rec.CheckPrecLimit = precLimit->AsFloat();
      if (!std::isfinite(rec.CheckPrecLimit)) {
        throw EDatabaseError("Payment: запись ID=" + std::to_string(rec.ID) +
                             ", поле CheckPrecLimit: сумма не является конечным числом");
      }
    }
    rec.GsmVO = gsmVO ? gsmVO->AsInteger() : 0;

    std::string stored;
    rec.PrintCustomCheck = 0;
    if (customCheck) {
      stored = customCheck->AsString();
      rec.PrintCustomCheck = static_cast<std::uint8_t>(printCustomCheck->AsInteger() & 0xFF);
    }
    const std::string& check = IsBlankText(stored) ? DefaultCustomCheck() : stored;
    if (!lastText || check != lastCheck) {
      SetPaymentRecCustomCheck(rec, check);
      AnsiTextRelease(lastText);
      lastText = rec.CustomCheck;
      DynArrayAddRef(lastText);
      lastCheck = check;
    } else {
      rec.CustomCheck = lastText;
      DynArrayAddRef(rec.CustomCheck);
    }

    list.Add(&rec);
    ReleaseCustomCheck(rec);  // the list holds its own reference
    ds.Next();
  }
}

bool IsRenamablePayment(std::int32_t index) {
  return !IsBuiltInPaymentName(PaymentRecName(*PaymentList().GetItem(index)));
}

}  // namespace selvo
