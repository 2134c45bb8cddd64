// What one discount calculation reads, fixed in one value: the payment types'
// own percentages, the discount cards with their selection index, the options
// of the settings file and the formats of the sale-ban texts. The calculation
// (CalculateDiscount in discounts/SelvoCalcDiscountUnit.h) takes a snapshot,
// a sale and the moment that stands for "now", and reads nothing else, so
// that the till's sale, a sale of the past and a check of the settings each
// bring their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/FormatSettings.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo {

class TDiscountList;

// The options of the settings file that the calculation reads, section
// "SelvoDiscount".
struct TCalcOptions {
  // "RSumCanNotBeLowThenZSum": no discounted sum may fall below the purchase
  // value of what is sold.
  bool purchaseFloor = false;
};

// Reads the options from the settings file (Selvo.ini) under one hold of its
// lock; a missing file or key gives the defaults. The file's lock stays open
// in this process from one read to the next, and the options of a file that
// has not changed since it was last read are taken as read then (see the
// source). Any thread.
TCalcOptions ReadCalcOptions(const std::string& iniFileName);

// A payment type as the calculation sees it.
struct TPaymentDiscount {
  std::int32_t id;
  double percent;  // the type's own discount, 0 to 100
};

// Immutable once made: every access is const, and the snapshot never changes
// what it refers to. Several threads may calculate over one snapshot at the
// same time (the discount list lends each selection scratch space of its own).
// Copies share the cards.
class TCalcSnapshot {
 public:
  // `cards` must not be null. Its selection index is brought up to date here
  // (TDiscountList::PrepareIndex), so that calculations only read the list;
  // the list must not change for as long as the snapshot is used.
  TCalcSnapshot(std::vector<TPaymentDiscount> payments, std::shared_ptr<const TDiscountList> cards,
                TCalcOptions options, TFormatSettings formats);

  // The first payment type with that identifier, in the order given; nullptr
  // when there is none.
  const TPaymentDiscount* FindPayment(std::int32_t id) const;
  const std::vector<TPaymentDiscount>& Payments() const { return payments_; }
  // For selections (TCardSelection) and Count only: GetItem marks the index
  // stale, and the next selection would then rebuild it.
  const TDiscountList& Cards() const { return *cards_; }
  const TCalcOptions& Options() const { return options_; }
  // The formats of the quantities, prices and times in the sale-ban texts.
  const TFormatSettings& Formats() const { return formats_; }

 private:
  std::vector<TPaymentDiscount> payments_;
  std::shared_ptr<const TDiscountList> cards_;
  TCalcOptions options_;
  TFormatSettings formats_;
};

// The loaded module's lists as they are now, with the given options and the
// module's format settings. The payment types are copied (a handful of
// numbers); the discount list is referred to, neither copied nor owned, so
// the snapshot is made for one sale and is good only while the module's list
// is neither reloaded nor changed. ModuleLoad must have run.
TCalcSnapshot ModuleCalcSnapshot(const TCalcOptions& options);

// A snapshot that owns its lists, loaded from the data module's "Payment"
// dataset (ID and Discount, refused as the payment list refuses them) and its
// three discount datasets (as FillDiscountList loads them, see
// LoadDiscountList). Touches no module state; errors are raised as the
// datasets and the loading rules raise them.
TCalcSnapshot LoadCalcSnapshot(TDataModule& dataModule, const TCalcOptions& options, const TFormatSettings& formats);

}  // namespace selvo
