// Payment type records and the one payment list (TPaymentList is declared in
// the host-facing header, since the host calls it), and its loading from the
// host's "Payment" dataset.
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

// Reloads the module's payment list from the "Payment" dataset.
void FillPaymentsList();

}  // namespace selvo
