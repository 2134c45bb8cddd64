#include "host/service/TillService.h"

#include <algorithm>
#include <utility>

#include "host/session/HostSession.h"
#include "selvo/SelvoPaymentList.h"

namespace selvo::host {
namespace {

// The module reads its lists from this data module: a till needs neither
// the last identifiers nor a transaction, so attaching reads nothing from
// the database and works during an outage too.
void AttachForSales(const TModuleExports& module, TShopDataModule& dataModule) {
  SetCallbackDataModule(&dataModule);
  module.SetDataModule(&dataModule);
  module.SetGoodsSelectFormShow(&HeadlessGoodsSelect);
}

void FillLists(const TModuleExports& module) {
  module.FillPaymentsList();
  module.FillDiscountList();
}

}  // namespace

TTillService::TTillService(std::string database, const TModuleLocation& location, std::ostream& log)
    : database_(std::move(database)),
      library_(FindModuleFile(location.fileName, location.buildDir)),
      module_(library_.Exports()),
      log_(log) {
  dataModule_ = std::make_unique<TShopDataModule>(database_);
  settings_ = std::make_unique<TCalcSettings>(LoadCalcSettings(*dataModule_));
  AttachForSales(module_, *dataModule_);
  FillLists(module_);
  TakeVersion(dataModule_->Version());
  health_.loadedAt = health_.reachableSince = TWallClock::now();
  heldVersion_ = paymentsVersion_ = health_.version;
  payments_ = ListPayments();
  Log("настройки загружены (версия " + std::to_string(health_.version) + ") из " + dataModule_->Describe());
  loader_ = std::thread([this] { LoaderThread(); });
}

TTillService::~TTillService() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  loaderWake_.notify_all();
  // A load under way ends within the database's own wait for an answer.
  loader_.join();
  {
    // A call still running (its caller's thread outlived the front) ends
    // with the calls queued behind it.
    std::unique_lock<std::mutex> lock(mutex_);
    moduleFree_.wait(lock, [this] { return !moduleHeld_; });
  }
  module_.SetDataModule(nullptr);
  SetCallbackDataModule(nullptr);
}

void TTillService::Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMutex_);
  log_ << "selvo-host serve: " << line << std::endl;
}

void TTillService::SetHandOver(std::function<void(std::function<void()>)> post) {
  std::lock_guard<std::mutex> lock(mutex_);
  handOver_ = std::move(post);
}

template <class MakeCall>
bool TTillService::HoldOrQueue(MakeCall&& queued) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) throw EDatabaseError("служба останавливается");
  if (moduleHeld_) {
    if (calls_.size() >= kMaxCallsWaiting)
      throw EServiceUnusable("модуль занят: " + std::to_string(calls_.size()) + " продаж уже ждут расчёта");
    calls_.push_back(queued());
    return false;
  }
  moduleHeld_ = true;
  return true;
}

void TTillService::LetGoOrHandOver() {
  std::function<void(std::function<void()>)> post;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (calls_.empty()) {
      moduleHeld_ = false;
      moduleFree_.notify_all();
      return;
    }
    post = handOver_;
  }
  if (post) {
    try {
      return post([this] { RunSlice(); });
    } catch (const std::exception& e) {
      Log(std::string("расчёт ждущих продаж не передан, они рассчитываются здесь: ") + e.what());
    }
  }
  RunSlice();
}

void TTillService::RunSlice() {
  for (int made = 0; made < kCallsPerSlice; ++made) {
    std::function<void()> next;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (calls_.empty()) break;
      next = std::move(calls_.front());
      calls_.pop_front();
    }
    try {
      next();
    } catch (const std::exception& e) {
      Log(std::string("продажа из очереди не рассчитана: ") + e.what());
    } catch (...) {
      Log("продажа из очереди не рассчитана: непредвиденная ошибка");
    }
  }
  LetGoOrHandOver();
}

template <class Work>
auto TTillService::WithModule(Work&& work) -> decltype(work()) {
  using TResult = decltype(work());
  // Shared: a queued call may still be returning from the task when the
  // caller, woken by its result, has gone.
  auto task = std::make_shared<std::packaged_task<TResult()>>(std::forward<Work>(work));
  std::future<TResult> done = task->get_future();
  if (HoldOrQueue([&task]() -> std::function<void()> { return [task] { (*task)(); }; })) {
    (*task)();  // a packaged task keeps what the work raised for done.get()
    LetGoOrHandOver();
  }
  return done.get();
}

void TTillService::LoaderThread() {
  for (;;) {
    std::optional<std::int64_t> announced;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      loaderWake_.wait(lock, [this] { return stopping_ || reloadWanted_; });
      if (stopping_) return;
      reloadWanted_ = false;
      announced = std::exchange(announced_, std::nullopt);
      health_.loadingSince = TWallClock::now();
    }
    Reload(announced);
    std::lock_guard<std::mutex> lock(mutex_);
    health_.loadingSince.reset();
  }
}

void TTillService::Reload(std::optional<std::int64_t> announced) {
  std::unique_ptr<TShopDataModule> fresh;
  std::unique_ptr<TCalcSettings> settings;
  try {
    fresh = std::make_unique<TShopDataModule>(database_);  // every table from one snapshot
    // The host's copy of the lists is read from the rows by the module's own
    // loaders: rows it refuses never reach the module's lists.
    settings = std::make_unique<TCalcSettings>(LoadCalcSettings(*fresh));
  } catch (const std::exception& e) {
    return LoadFailed(e.what());
  }
  try {
    WithModule([&] { Install(std::move(fresh), std::move(settings), announced); });
  } catch (const std::exception& e) {
    LoadFailed(e.what());  // also: the service is stopping
  }
}

void TTillService::Install(std::unique_ptr<TShopDataModule> fresh, std::unique_ptr<TCalcSettings> settings,
                           std::optional<std::int64_t> announced) {
  try {
    AttachForSales(module_, *fresh);
    FillLists(module_);
  } catch (const std::exception& e) {
    const std::string why = e.what();
    // The lists are filled again from the rows they came from, which are
    // in memory; a list that cannot be is never sold from.
    AttachForSales(module_, *dataModule_);
    try {
      FillLists(module_);
      heldUnusable_ = false;
      std::lock_guard<std::mutex> lock(mutex_);
      health_.unusable = false;
    } catch (const std::exception& again) {
      heldUnusable_ = true;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        health_.unusable = true;
      }
      Log("настройки, загруженные раньше, не восстановлены, продажи не рассчитываются до следующей загрузки: " +
          std::string(again.what()));
    }
    throw EDatabaseError(why);
  }
  dataModule_ = std::move(fresh);
  settings_ = std::move(settings);
  heldUnusable_ = false;
  std::vector<TServicePayment> payments = ListPayments();
  std::uint64_t version = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    TakeVersion(dataModule_->Version());
    version = heldVersion_ = paymentsVersion_ = health_.version;
    payments_ = std::move(payments);
    health_.loadedAt = TWallClock::now();
    health_.lastReloadError.clear();
    health_.unusable = false;
    ++health_.reloads;
  }
  Log("настройки загружены заново (версия " + std::to_string(version) +
      (announced ? ", объявлена версия " + std::to_string(*announced) : std::string()) + ")");
}

void TTillService::TakeVersion(const TSettingsVersion& stored) {
  health_.version = static_cast<std::uint64_t>(std::max<std::int64_t>(stored.number, 0));
  health_.versionMoment = stored.moment;
  health_.versionAuthor = stored.author;
}

void TTillService::LoadFailed(const std::string& why) {
  std::uint64_t version = 0;
  bool unusable = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    health_.lastReloadError = why;
    ++health_.failedReloads;
    version = health_.version;
    unusable = health_.unusable;
  }
  if (!unusable)
    Log("новые настройки не загружены, продажи идут по версии " + std::to_string(version) + ": " + why);
  else
    Log("новые настройки не загружены: " + why);
}

TTillService::TCalcOutcome TTillService::Compute(const TSale& sale, bool explain, TClock::time_point asked) {
  TCalcOutcome outcome;
  outcome.waitSeconds = std::chrono::duration<double>(TClock::now() - asked).count();
  try {
    if (changed_ && changed_()) RequestReload();
    if (heldUnusable_) throw EServiceUnusable("настройки не загружены: продажи не рассчитываются");
    TCalcReply reply;
    const auto started = TClock::now();
    reply.answer = CalculateSale(module_, *settings_, sale, explain);
    outcome.calcSeconds = std::chrono::duration<double>(TClock::now() - started).count();
    reply.version = heldVersion_;
    outcome.reply = std::move(reply);
  } catch (...) {
    outcome.error = std::current_exception();
  }
  return outcome;
}

void TTillService::Calc(TSale sale, bool explain, TCalcDone done) {
  const auto asked = TClock::now();
  const auto queued = [&]() -> std::function<void()> {
    auto held = std::make_shared<const TSale>(std::move(sale));
    return [this, held, explain, asked, done = std::move(done)] { done(Compute(*held, explain, asked), false); };
  };
  if (!HoldOrQueue(queued)) return;
  TCalcOutcome outcome = Compute(sale, explain, asked);
  // The calls that came meanwhile go on elsewhere: this sale's answer
  // leaves now.
  LetGoOrHandOver();
  done(std::move(outcome), true);
}

std::vector<TServicePayment> TTillService::ListPayments() const {
  std::vector<TServicePayment> payments;
  TPaymentList& list = *module_.GetPaymentList();
  for (std::int32_t i = 0; i < list.Count(); ++i) {
    const TPaymentRec rec = *list.GetItem(i);
    payments.push_back({rec.ID, PaymentRecordName(rec), rec.Type, rec.Check, rec.Discount, rec.Enabled});
  }
  return payments;
}

std::vector<TServicePayment> TTillService::Payments(std::uint64_t& version) {
  std::lock_guard<std::mutex> lock(mutex_);
  version = paymentsVersion_;
  return payments_;
}

TServiceHealth TTillService::Health() const {
  std::lock_guard<std::mutex> lock(mutex_);
  TServiceHealth health = health_;
  health.callsWaiting = calls_.size();
  return health;
}

void TTillService::RequestReload(std::optional<std::int64_t> announced) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reloadWanted_ = true;
    if (announced) announced_ = std::max(announced_.value_or(0), *announced);
  }
  loaderWake_.notify_one();
}

void TTillService::SetReachable(bool reachable, const std::string& why) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (health_.reachable == reachable) return;
    health_.reachable = reachable;
    health_.reachableSince = TWallClock::now();
  }
  Log(reachable ? "база данных снова доступна"
                : "база данных недоступна, продажи идут по загруженным настройкам: " + why);
}

void TTillService::SetChangeCheck(std::function<bool()> changed) {
  WithModule([&] { changed_ = std::move(changed); });
}

}  // namespace selvo::host
