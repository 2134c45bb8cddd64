#include "payments/SelvoPaymentListU.h"

#include <cmath>
#include <cstdio>

#include "interface/SelvoModuleU.h"
#include "platform/Beep.h"
#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"

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
  std::string bytes = Utf8ToCp1251(Utf8Left(utf8Name, 20));
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

std::int32_t TPaymentList::IndexOfID(std::int32_t id) {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i]->ID == id) return static_cast<std::int32_t>(i);
  return -1;
}

TPaymentRec* TPaymentList::FindByID(std::int32_t id) {
  const std::int32_t index = IndexOfID(id);
  return index < 0 ? nullptr : items_[static_cast<std::size_t>(index)];
}

std::int32_t TPaymentList::NewID() {
  TModuleState& m = Module();
  // The counter moves on by one also when the last record lies below it (an
  // identifier was handed out and not stored, or the last record was
  // deleted): going back to the last record's identifier could hand out one
  // that a record already holds.
  ++m.PaymentIDCounter;
  if (m.PaymentIDCounter < m.LastPaymentID + 1) m.PaymentIDCounter = m.LastPaymentID + 1;
  while (IndexOfID(m.PaymentIDCounter) >= 0) ++m.PaymentIDCounter;
  return m.PaymentIDCounter;
}

// ---------------------------------------------------------------------------
// Loading

void FillPaymentsList() {
  TModuleState& m = Module();
  if (!m.DataModule) throw EDatabaseError("Виды оплаты: ссылка на модуль данных не загружена!");
  TPaymentList& list = PaymentList();
  list.Clear();
  TDataSet& ds = PaymentDataSet();
  ds.First();
  while (!ds.Eof()) {
    TPaymentRec rec{};
    rec.ID = ds.FieldByName("ID").AsInteger();
    SetPaymentRecName(rec, ds.FieldByName("Name").AsString());
    rec.Type = static_cast<std::uint8_t>(ds.FieldByName("Type").AsInteger() & 0xFF);
    rec.Check = static_cast<std::uint8_t>(ds.FieldByName("Check").AsInteger() & 0xFF);
    rec.Discount = ds.FieldByName("Discount").AsFloat();
    // A stored discount the editor would not let through (infinite, above
    // 100 % or below 0) would make a free or a dearer sale: refused here.
    if (!std::isfinite(rec.Discount) || rec.Discount < 0 || rec.Discount > 100) {
      throw EDatabaseError("Payment: запись ID=" + std::to_string(rec.ID) + ", поле Discount: скидка " +
                           FloatToStr(rec.Discount, ModuleFormatSettings()) + " % вне пределов от 0 до 100");
    }
    rec.Enabled = ds.FieldByName("Enabled").AsInteger() == 1;

    TField* itogPrec = ds.FindField("CheckItogPrec");
    m.HasCheckItogPrecField = itogPrec != nullptr;
    rec.CheckItogPrec = 1;
    rec.CheckPrecLimit = 0;
    if (itogPrec) {
      rec.CheckItogPrec = itogPrec->AsInteger();
      rec.CheckPrecLimit = ds.FieldByName("CheckPrecLimit").AsFloat();
      if (!std::isfinite(rec.CheckPrecLimit)) {
        throw EDatabaseError("Payment: запись ID=" + std::to_string(rec.ID) +
                             ", поле CheckPrecLimit: сумма не является конечным числом");
      }
    }

    TField* gsmVO = ds.FindField("GsmVO");
    m.HasGsmVOField = gsmVO != nullptr;
    rec.GsmVO = gsmVO ? gsmVO->AsInteger() : 0;

    TField* customCheck = ds.FindField("CUSTOMCHECK");
    m.HasCustomCheckField = customCheck != nullptr;
    std::string check;
    rec.PrintCustomCheck = 0;
    if (customCheck) {
      check = customCheck->AsString();
      rec.PrintCustomCheck = static_cast<std::uint8_t>(ds.FieldByName("PRINTCUSTOMCHECK").AsInteger() & 0xFF);
    }
    if (Trim(check).empty()) check = DefaultCustomCheck();
    SetPaymentRecCustomCheck(rec, check);

    list.Add(&rec);
    ReleaseCustomCheck(rec);  // the list holds its own reference
    ds.Next();
  }
}

}  // namespace selvo
