#include "host/service/TillService.h"

#include <utility>

#include "host/session/HostSession.h"
#include "selvo/SelvoPaymentList.h"

namespace selvo::host {
namespace {

// How long the module's thread and a caller stay awake for the other
// before they sleep: a wake-up costs tens of microseconds, a sale less.
constexpr std::chrono::microseconds kAwakeWait{50};

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
  health_.version = 1;
  health_.loadedAt = health_.reachableSince = TWallClock::now();
  Log("настройки загружены (версия 1) из " + dataModule_->Describe());
  thread_ = std::thread([this] { ModuleThread(); });
}

TTillService::~TTillService() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  module_.SetDataModule(nullptr);
  SetCallbackDataModule(nullptr);
}

void TTillService::Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMutex_);
  log_ << "selvo-host serve: " << line << std::endl;
}

template <class Work>
auto TTillService::OnModuleThread(Work&& work) -> decltype(work()) {
  using TResult = decltype(work());
  auto task = std::make_shared<std::packaged_task<TResult()>>(std::forward<Work>(work));
  std::future<TResult> done = task->get_future();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) throw EDatabaseError("служба останавливается");
    calls_.emplace_back([task] { (*task)(); });
    ++queued_;
  }
  wake_.notify_one();
  // A sale takes some microseconds: waiting for it awake a little saves
  // this thread's wake-up, which costs as much again.
  const auto until = std::chrono::steady_clock::now() + kAwakeWait;
  while (done.wait_for(std::chrono::seconds(0)) != std::future_status::ready &&
         std::chrono::steady_clock::now() < until) {
  }
  return done.get();
}

void TTillService::ModuleThread() {
  bool reloadedLast = false;
  for (;;) {
    std::function<void()> call;
    bool reload = false;
    // The next sale of a busy till comes soon: it is waited for awake a
    // little before the thread sleeps.
    const auto until = std::chrono::steady_clock::now() + kAwakeWait;
    while (queued_ == 0 && std::chrono::steady_clock::now() < until) {
    }
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || reloadWanted_ || !calls_.empty(); });
      // A load comes before the next sale, so that a save known to have
      // committed is not answered from the settings before it; but one sale
      // goes between two loads, so that saves in quick succession never
      // hold the tills up.
      if (reloadWanted_ && (!reloadedLast || calls_.empty())) {
        reloadWanted_ = false;
        reload = true;
      } else if (!calls_.empty()) {
        call = std::move(calls_.front());
        calls_.pop_front();
        --queued_;
      } else {
        return;  // stopping, and nothing is left to answer
      }
    }
    reloadedLast = reload;
    if (reload)
      Reload();
    else
      call();
  }
}

void TTillService::Reload() {
  std::unique_ptr<TShopDataModule> fresh;
  std::unique_ptr<TCalcSettings> settings;
  try {
    fresh = std::make_unique<TShopDataModule>(database_);  // every table from one snapshot
    settings = std::make_unique<TCalcSettings>(LoadCalcSettings(*fresh));
    AttachForSales(module_, *fresh);
    FillLists(module_);
  } catch (const std::exception& e) {
    // The settings held stay whole: the module fills its lists again from
    // the rows they came from, which are in memory.
    const std::string why = std::string(e.what());
    if (fresh) {
      AttachForSales(module_, *dataModule_);
      try {
        FillLists(module_);
      } catch (const std::exception& again) {
        Log("настройки, загруженные раньше, не восстановлены: " + std::string(again.what()));
      }
    }
    std::uint64_t version = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      health_.lastReloadError = why;
      ++health_.failedReloads;
      version = health_.version;
    }
    Log("новые настройки не загружены, продажи идут по версии " + std::to_string(version) + ": " + why);
    return;
  }
  dataModule_ = std::move(fresh);
  settings_ = std::move(settings);
  std::uint64_t version = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    version = ++health_.version;
    health_.loadedAt = TWallClock::now();
    health_.lastReloadError.clear();
    ++health_.reloads;
  }
  Log("настройки загружены заново (версия " + std::to_string(version) + ")");
}

TTillService::TCalcReply TTillService::Calc(const TSale& sale, bool explain) {
  return OnModuleThread([&] {
    if (changed_ && changed_()) Reload();
    TCalcReply reply;
    reply.answer = CalculateSale(module_, *settings_, sale, explain);
    std::lock_guard<std::mutex> lock(mutex_);
    reply.version = health_.version;
    return reply;
  });
}

std::vector<TServicePayment> TTillService::Payments(std::uint64_t& version) {
  return OnModuleThread([&] {
    std::vector<TServicePayment> payments;
    TPaymentList& list = *module_.GetPaymentList();
    for (std::int32_t i = 0; i < list.Count(); ++i) {
      const TPaymentRec rec = *list.GetItem(i);
      payments.push_back({rec.ID, PaymentRecordName(rec), rec.Type, rec.Check, rec.Discount, rec.Enabled});
    }
    std::lock_guard<std::mutex> lock(mutex_);
    version = health_.version;
    return payments;
  });
}

TServiceHealth TTillService::Health() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return health_;
}

void TTillService::RequestReload() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reloadWanted_ = true;
  }
  wake_.notify_one();
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
  OnModuleThread([&] { changed_ = std::move(changed); });
}

}  // namespace selvo::host
