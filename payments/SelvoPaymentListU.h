// Payment type records and the one payment list with its loading from the
// host's "Payment" dataset. The host sees the list through TPaymentList
// (selvo/SelvoPaymentList.h); the module's own operations are here.
#pragma once

#include <cstdint>
#include <string>

#include "selvo/SelvoPaymentsTypes.h"

namespace selvo {

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

// True when the payment type at that position of the module's payment list
// is not a built-in one (its name is not among PaymentKindNames, letter case
// ignored).
bool IsRenamablePayment(std::int32_t index);

}  // namespace selvo
