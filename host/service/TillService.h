// The till side of the host as a long-running service: the module loaded
// once, its lists filled from one load of the shop, and every call into it
// made on one thread of its own (the module keeps shared state). Settings
// are loaded anew, whole, when the shop's watch says that another computer
// saved; a load that fails keeps the settings held, so sales go on through a
// database outage. Every answer names the settings version that computed it.
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
  std::uint64_t version = 0;  // of the settings held
  TWallClock::time_point loadedAt;
  bool reachable = true;                  // the database, as last seen
  TWallClock::time_point reachableSince;  // or unreachable since
  std::string lastReloadError;            // empty when the last load succeeded
  std::uint64_t reloads = 0;              // loads after the first one that succeeded
  std::uint64_t failedReloads = 0;
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
  // Computes a sale on the module's thread with the settings held; first
  // loads them anew when a change is known (`changed` answers true on the
  // module's thread before each sale: the SQLite watch asks the file).
  TCalcReply Calc(const TSale& sale, bool explain);
  std::vector<TServicePayment> Payments(std::uint64_t& version);
  TServiceHealth Health() const;

  // From the watch: another computer saved (the load runs on the module's
  // thread, once for any number of requests before it starts).
  void RequestReload();
  // From the watch: the database can (not) be reached; `why` for the log.
  void SetReachable(bool reachable, const std::string& why);
  // Asked before each sale on the module's thread; true when the shop
  // changed since the last load.
  void SetChangeCheck(std::function<bool()> changed);

 private:
  template <class Work>
  auto OnModuleThread(Work&& work) -> decltype(work());
  void ModuleThread();
  // Loads the shop anew and fills the module's lists; keeps the settings
  // held when that fails.
  void Reload();
  void Log(const std::string& line);

  const std::string database_;
  TModuleLibrary library_;
  const TModuleExports& module_;
  std::ostream& log_;
  std::mutex logMutex_;

  // Owned by the module's thread once it runs.
  std::unique_ptr<TShopDataModule> dataModule_;
  std::unique_ptr<TCalcSettings> settings_;
  std::function<bool()> changed_;

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable wake_;
  std::deque<std::function<void()>> calls_;
  std::atomic<int> queued_{0};  // calls_.size(), read without the lock
  bool reloadWanted_ = false;
  bool stopping_ = false;
  TServiceHealth health_;

  std::thread thread_;
};

}  // namespace selvo::host
