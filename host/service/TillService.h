// The till side of the host as a long-running service: the module loaded
// once, its lists filled from one load of the shop, and every call into it
// made on one thread of its own (the module keeps shared state). Settings
// are loaded anew, whole, when the shop's watch says that another computer
// saved. The database is read on a loader thread of its own, so a locked
// table or a server that stops answering never holds a sale up; only the
// rows already in memory are handed to the module's thread, which fills its
// lists from them between two sales. A load that fails keeps the settings
// held, so sales go on through a database outage. Every answer names the
// stored settings version that computed it.
//
// The HTTP side (host/service/HttpFront) calls in from its own threads.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "host/session/ModuleLoader.h"
#include "host/session/SaleCalculation.h"
#include "host/session/SaleJson.h"
#include "host/shopdb/ShopDataModule.h"

namespace selvo::host {

using TWallClock = std::chrono::system_clock;

// One payment type as the service lists it.
struct TServicePayment {
  std::int32_t id = 0;
  std::string name;
  std::int32_t type = 0;
  std::int32_t check = 0;
  double discount = 0;
  bool enabled = false;
};

// What /health tells.
struct TServiceHealth {
  // The stored version of the settings held: the same number on every
  // till for the same save (0 for a shop that keeps no history).
  std::uint64_t version = 0;
  std::string versionMoment;  // when it was saved, and by whom
  std::string versionAuthor;
  TWallClock::time_point loadedAt;
  bool reachable = true;                  // the database, as last seen
  TWallClock::time_point reachableSince;  // or unreachable since
  std::string lastReloadError;            // empty when the last load succeeded
  // A load of new settings under way since then (the database may be
  // locked or not answering); unset when none is.
  std::optional<TWallClock::time_point> loadingSince;
  // The module's lists could not be filled again from the rows held either:
  // no sale is computed until a load succeeds.
  bool unusable = false;
  std::uint64_t reloads = 0;  // loads after the first one that succeeded
  std::uint64_t failedReloads = 0;
};

// The module holds no settings it can sell with (its lists could not be
// filled again after a failed load); the service answers 503.
class EServiceUnusable : public Exception {
  using Exception::Exception;
};

class TTillService {
 public:
  // Loads the module and the shop (EDatabaseError, EModuleLoadError when
  // either cannot be had: a service without settings has nothing to sell
  // with). Load messages go to `log`, one line each.
  TTillService(std::string database, const TModuleLocation& location, std::ostream& log);
  // Finishes the calls queued, then stops the module's thread.
  ~TTillService();
  TTillService(const TTillService&) = delete;
  TTillService& operator=(const TTillService&) = delete;

  struct TCalcReply {
    TSaleAnswer answer;
    std::uint64_t version = 0;
  };
  // Computes a sale on the module's thread with the settings held; asks for
  // a load when the change check says the shop changed (the SQLite watch
  // asks the file), without waiting for it. EServiceUnusable when the
  // module holds no usable settings.
  TCalcReply Calc(const TSale& sale, bool explain);
  std::vector<TServicePayment> Payments(std::uint64_t& version);
  TServiceHealth Health() const;

  // From the watch: another computer saved (the load runs on the loader
  // thread, once for any number of requests before it starts). `announced`:
  // the settings version the save said it wrote, for the log (the highest
  // of the requests the load answers).
  void RequestReload(std::optional<std::int64_t> announced = std::nullopt);
  // From the watch: the database can (not) be reached; `why` for the log.
  void SetReachable(bool reachable, const std::string& why);
  // Asked before each sale on the module's thread; true when the shop
  // changed since the last load. It must answer at once.
  void SetChangeCheck(std::function<bool()> changed);
  // One line in the service's log.
  void Log(const std::string& line);

 private:
  template <class Work>
  auto OnModuleThread(Work&& work) -> decltype(work());
  void ModuleThread();
  void LoaderThread();
  // Reads the shop anew (on the loader thread) and hands the rows to the
  // module's thread; keeps the settings held when either fails.
  void Reload(std::optional<std::int64_t> announced);
  // On the module's thread: the module's lists filled from `fresh`, or from
  // the rows held when that fails.
  void Install(std::unique_ptr<TShopDataModule> fresh, std::unique_ptr<TCalcSettings> settings,
               std::optional<std::int64_t> announced);
  void LoadFailed(const std::string& why);
  // The health tells the version of the settings installed (under mutex_).
  void TakeVersion(const TSettingsVersion& stored);

  const std::string database_;
  TModuleLibrary library_;
  const TModuleExports& module_;
  std::ostream& log_;
  std::mutex logMutex_;

  // Owned by the module's thread once it runs (the loader builds new ones
  // and hands them over).
  std::unique_ptr<TShopDataModule> dataModule_;
  std::unique_ptr<TCalcSettings> settings_;
  std::function<bool()> changed_;

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable wake_;
  std::deque<std::function<void()>> calls_;
  std::atomic<int> queued_{0};  // calls_.size(), read without the lock
  std::condition_variable loaderWake_;
  bool reloadWanted_ = false;
  std::optional<std::int64_t> announced_;  // by the requests of the load wanted
  bool stopping_ = false;
  TServiceHealth health_;

  std::thread thread_;
  std::thread loader_;
};

}  // namespace selvo::host
