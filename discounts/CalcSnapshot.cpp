#include "discounts/CalcSnapshot.h"

#include <cmath>
#include <mutex>
#include <utility>

#include "discounts/SelvoDiscountItemsU.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/ProcessLock.h"
#include "state/SelvoModuleU.h"
#include "support/SafeIniFiles.h"

namespace selvo {
namespace {

// The settings file's lock stays open from one sale to the next. Opening it
// for each sale, and removing its lock file again when that sale's object
// went, cost more than the read itself; the lock is still taken for every
// read. Closed when the module unloads, or when the file's name changes.
void KeepSettingsLockOpen(const std::string& fileName) {
  static std::mutex guard;
  static std::string keptFor;
  static std::unique_ptr<TProcessLock> keeper;
  const std::lock_guard<std::mutex> hold(guard);
  if (keeper && keptFor == fileName) return;
  keeper = std::make_unique<TProcessLock>(TSafeIniFile::LockName(fileName));
  keptFor = fileName;
}

std::vector<TPaymentDiscount> ReadPaymentDiscounts(TDataSet& ds, const TFormatSettings& fs) {
  TField& idField = ds.FieldByName("ID");
  TField& discountField = ds.FieldByName("Discount");
  std::vector<TPaymentDiscount> payments;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    const TPaymentDiscount payment{idField.AsInteger(), discountField.AsFloat()};
    // The payment list refuses the same: such a discount would make a free
    // or a dearer sale.
    if (!std::isfinite(payment.percent) || payment.percent < 0 || payment.percent > 100) {
      throw EDatabaseError("Payment: запись ID=" + std::to_string(payment.id) + ", поле Discount: скидка " +
                           FloatToStr(payment.percent, fs) + " % вне пределов от 0 до 100");
    }
    payments.push_back(payment);
  }
  return payments;
}

}  // namespace

TCalcOptions ReadCalcOptions(const std::string& iniFileName) {
  KeepSettingsLockOpen(iniFileName);
  // The read and the object's end under one hold of the lock: each would
  // otherwise take and release it on its own, and every sale would pay twice.
  const TSafeIniFile::THeldLock held(iniFileName);
  TSafeIniFile ini(iniFileName);
  TCalcOptions options;
  options.purchaseFloor = ini.ReadBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", false);
  return options;
}

TCalcSnapshot::TCalcSnapshot(std::vector<TPaymentDiscount> payments, std::shared_ptr<const TDiscountList> cards,
                             TCalcOptions options, TFormatSettings formats)
    : payments_(std::move(payments)), cards_(std::move(cards)), options_(options), formats_(std::move(formats)) {
  cards_->PrepareIndex();
}

const TPaymentDiscount* TCalcSnapshot::FindPayment(std::int32_t id) const {
  for (const TPaymentDiscount& payment : payments_)
    if (payment.id == id) return &payment;
  return nullptr;
}

TCalcSnapshot ModuleCalcSnapshot(const TCalcOptions& options) {
  TSelvoPaymentList& list = PaymentList();
  std::vector<TPaymentDiscount> payments;
  const std::int32_t count = list.Count();
  payments.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    const TPaymentRec& rec = *list.GetItem(i);
    payments.push_back({rec.ID, rec.Discount});
  }
  // An empty owner: the snapshot refers to the module's list without
  // keeping it alive (the module owns it for its whole life).
  std::shared_ptr<const TDiscountList> cards(std::shared_ptr<const TDiscountList>(), &DiscountList());
  return TCalcSnapshot(std::move(payments), std::move(cards), options, ModuleFormatSettings());
}

TCalcSnapshot LoadCalcSnapshot(TDataModule& dataModule, const TCalcOptions& options, const TFormatSettings& formats) {
  std::vector<TPaymentDiscount> payments = ReadPaymentDiscounts(FindDataSet(&dataModule, "Payment"), formats);
  auto cards = std::make_shared<TDiscountList>();
  LoadDiscountList(&dataModule, *cards);
  return TCalcSnapshot(std::move(payments), std::move(cards), options, formats);
}

}  // namespace selvo
