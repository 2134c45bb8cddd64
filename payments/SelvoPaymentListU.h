// Payment type records and the one payment list with its loading from the
// host's "Payment" dataset. The host sees the list through TPaymentList
// (interface/SelvoPaymentList.h); the module's own operations are here.
#pragma once

#include <cstdint>
#include <string>

#include "interface/SelvoPaymentsTypes.h"

namespace selvo {

// Receipt kinds (TPaymentRec::Check), long and short texts, 0..6.
inline constexpr const char* kCheckKindLongTexts[7] = {"<нет>",         "наличный",      "безналичный 1",
                                                       "безналичный 2", "безналичный 3", "безналичный 4",
                                                       "безналичный 5"};
inline constexpr const char* kCheckKindShortTexts[7] = {"нет", "НАЛ", "Б/Н 1", "Б/Н 2", "Б/Н 3", "Б/Н 4", "Б/Н 5"};

// Base payment types of the fuel side (GsmVO modulo 100).
struct TGsmBaseKind {
  std::int32_t code;
  const char* text;
};
inline constexpr TGsmBaseKind kGsmBaseKinds[8] = {{0, "Наличные"},   {1, "Платежный терминал"}, {3, "Безналичные"},
                                                  {4, "Ведомость +"}, {6, "ЛНР"},               {8, "Договорной"},
                                                  {10, "Дисконтные карты"}, {12, "ЛБР"}};

// The receipt template used when a payment type has none (379 characters).
const std::string& DefaultCustomCheck();

// Name of a record as UTF-8, and assignment of a UTF-8 name (cut to 20
// characters, stored in Windows-1251).
std::string PaymentRecName(const TPaymentRec& rec);
void SetPaymentRecName(TPaymentRec& rec, const std::string& utf8Name);
// The record's CustomCheck as UTF-8; assignment releases the old text.
std::string PaymentRecCustomCheck(const TPaymentRec& rec);
void SetPaymentRecCustomCheck(TPaymentRec& rec, const std::string& utf8Text);

// The module's payment list: the host's five operations and the module's own.
class TSelvoPaymentList final : public TPaymentList {
 public:
  TSelvoPaymentList() = default;

  // Position of the type with that identifier; -1 when there is none.
  std::int32_t IndexOfID(std::int32_t id);
  TPaymentRec* FindByID(std::int32_t id);
  // A fresh identifier for a new type: above LastPaymentID and held by no
  // type of the list. Each call consumes one; raises EListError when none is
  // left.
  std::int32_t NewID();
  // The exchange file (payments/SelvoPaymentExchangeU).
  void ImportFromFile(const std::string& fileName);
  void ExportToFile(const std::string& fileName);
};

// Reloads the module's payment list from the "Payment" dataset.
void FillPaymentsList();

}  // namespace selvo
