#include "discounts/CalcSnapshot.h"

#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <utility>

#include "discounts/SelvoDiscountItemsU.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/FileIO.h"
#include "platform/IniProfile.h"
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

// The options last read from a settled settings file, with the file's
// stamp from before that read. While the file keeps that stamp a sale asks
// stat() alone instead of reading the file under its lock; a file written a
// moment ago is read again at every sale until it settles, and one on a
// file system shared over the network always is.
constexpr auto kSettingsSettleTime = std::chrono::seconds(2);

struct TKeptOptions {
  std::mutex guard;
  std::string fileName;
  TFileStamp stamp;
  TCalcOptions options;
  bool valid = false;
};

TKeptOptions& KeptOptions() {
  static TKeptOptions kept;
  return kept;
}

std::optional<TCalcOptions> OptionsKeptFor(const std::string& fileName, const TFileStamp& stamp) {
  TKeptOptions& kept = KeptOptions();
  const std::lock_guard<std::mutex> hold(kept.guard);
  if (kept.valid && kept.fileName == fileName && kept.stamp == stamp) return kept.options;
  return std::nullopt;
}

void KeepOptions(const std::string& fileName, const std::optional<TFileStamp>& stamp, const TCalcOptions& options) {
  TKeptOptions& kept = KeptOptions();
  const std::lock_guard<std::mutex> hold(kept.guard);
  kept.valid = stamp.has_value();
  if (!stamp) return;
  kept.fileName = fileName;
  kept.stamp = *stamp;
  kept.options = options;
}

// The file's stamp while the files are the ini service: another service (a
// test's) keeps no stamps to go by.
std::optional<TFileStamp> SettingsStamp(const std::string& fileName) {
  if (&IniProfile() != &FileIniProfile()) return std::nullopt;
  TFileStamp stamp;
  if (StampFile(fileName, stamp) != 0) return std::nullopt;
  return stamp;
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
  if (const auto seen = SettingsStamp(iniFileName))
    if (const auto kept = OptionsKeptFor(iniFileName, *seen)) return *kept;
  KeepSettingsLockOpen(iniFileName);
  // The read and the object's end under one hold of the lock: each would
  // otherwise take and release it on its own, and every sale would pay twice.
  const TSafeIniFile::THeldLock held(iniFileName);
  // Stamped before the read: a file replaced in between is read new and
  // kept with the old stamp, so the next sale reads it again.
  std::optional<TFileStamp> stamp = SettingsStamp(iniFileName);
  if (stamp && !(FileStampSettled(*stamp, kSettingsSettleTime) && OnLocalFileSystem(iniFileName))) stamp.reset();
  TSafeIniFile ini(iniFileName);
  TCalcOptions options;
  options.purchaseFloor = ini.ReadBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", false);
  KeepOptions(iniFileName, stamp, options);
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
