// The till side of the host as a long-running service: the module loaded
// once, its lists filled from one load of the shop, and one call into it at
// a time (the module keeps shared state). A call is made on the thread that
// asks when the module is free, so a sale costs no hand-over to another
// thread; one that finds it busy is queued, and the calls queued are made,
// a slice at a time, on the front's threads once the holder is done. Settings
// are loaded anew, whole, when the shop's watch says that another computer
// saved. The database is read on a loader thread of its own, so a locked
// table or a server that stops answering never holds a sale up; only the
// rows already in memory are handed to the module's thread, which fills its
// lists from them between two sales. A load that fails keeps the settings
// held, so sales go on through a database outage. Every answer names the
// stored settings version that computed it.
//
// The HTTP side (host/service/HttpFront) calls in from its own threads; a
// sale queued behind another never holds its thread up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
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
  // Calls waiting for the module now (sales, a load's hand-over).
  std::uint64_t callsWaiting = 0;
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
  // What became of a sale: the reply, or what it raised (ESaleFormat for a
  // payment type the shop lacks, EServiceUnusable when the module holds no
  // usable settings, anything the module raised), and where its time went.
  struct TCalcOutcome {
    std::optional<TCalcReply> reply;
    std::exception_ptr error;
    double waitSeconds = 0;  // from Calc until the module was free for it
    double calcSeconds = 0;  // the calculation alone (set with a reply)
  };
  // `here`: called on Calc's own thread, before Calc returns (the module
  // let go or the calls waiting handed over); otherwise on a thread that
  // makes the calls waiting.
  using TCalcDone = std::function<void(TCalcOutcome&& outcome, bool here)>;
  // Computes a sale with the settings held and hands the outcome to `done`
  // (exactly once; it must not throw). Asks for a load when the change
  // check says the shop changed (the SQLite watch asks the file), without
  // waiting for it. EDatabaseError, and `done` is not called, when the
  // service is stopping.
  void Calc(TSale sale, bool explain, TCalcDone done);
  // The payment types of the settings installed, as the module listed them
  // when they were installed: the list is not asked of the module, so a
  // module held up (its settings file locked) holds no one up here.
  std::vector<TServicePayment> Payments(std::uint64_t& version);
  TServiceHealth Health() const;

  // From the watch: another computer saved (the load runs on the loader
  // thread, once for any number of requests before it starts). `announced`:
  // the settings version the save said it wrote, for the log (the highest
  // of the requests the load answers).
  void RequestReload(std::optional<std::int64_t> announced = std::nullopt);
  // From the watch: the database can (not) be reached; `why` for the log.
  void SetReachable(bool reachable, const std::string& why);
  // Asked before each sale, with the module held; true when the shop
  // changed since the last load. It must answer at once.
  void SetChangeCheck(std::function<bool()> changed);
  // One line in the service's log.
  void Log(const std::string& line);
  // Where the calls that wait for the module are made once the call that
  // held it is done: `post` runs a job on the front's threads, a slice of
  // calls at a time, so that neither a sale's own thread (whose answer
  // would wait) nor the loader (whose next load would) makes the calls of
  // others. Without it (none set, or set empty) the holder makes them.
  void SetHandOver(std::function<void(std::function<void()>)> post);
  // More sales than this waiting for the module are refused at once
  // (EServiceUnusable): what waits holds its request in memory.
  static constexpr std::size_t kMaxCallsWaiting = 256;

 private:
  using TClock = std::chrono::steady_clock;
  // Runs `work` with the module held and returns its result (or raises what
  // it raised), waiting while another call holds the module.
  template <class Work>
  auto WithModule(Work&& work) -> decltype(work());
  // True when this thread now holds the module; otherwise the call that
  // `queued` makes went to the holder's queue (made only then, since most
  // sales find the module free). Raises while stopping.
  template <class MakeCall>
  bool HoldOrQueue(MakeCall&& queued);
  // With the module held, its holder done: lets the module go when no call
  // waits, otherwise hands the calls waiting over (SetHandOver), or makes
  // them here when there is nowhere to hand them.
  void LetGoOrHandOver();
  // Makes up to kCallsPerSlice of the calls waiting, then lets go or hands
  // over again. A call that raises is dropped: the module is never left held.
  void RunSlice();
  static constexpr int kCallsPerSlice = 16;
  // With the module held: the payment types its lists hold now.
  std::vector<TServicePayment> ListPayments() const;
  // With the module held: the sale computed, asked for at `asked`.
  TCalcOutcome Compute(const TSale& sale, bool explain, TClock::time_point asked);
  void LoaderThread();
  // Reads the shop anew (on the loader thread) and hands the rows to the
  // module's thread; keeps the settings held when either fails.
  void Reload(std::optional<std::int64_t> announced);
  // With the module held: its lists filled from `fresh`, or from the rows
  // held when that fails.
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

  // Used by the call that holds the module (the loader builds new ones and
  // hands them over); the version and state those settings answer with.
  std::unique_ptr<TShopDataModule> dataModule_;
  std::unique_ptr<TCalcSettings> settings_;
  std::function<bool()> changed_;
  std::uint64_t heldVersion_ = 0;
  bool heldUnusable_ = false;

  mutable std::mutex mutex_;  // guards what follows
  bool moduleHeld_ = false;
  std::deque<std::function<void()>> calls_;  // waiting for the module
  std::condition_variable moduleFree_;
  std::function<void(std::function<void()>)> handOver_;
  std::vector<TServicePayment> payments_;  // of the settings installed
  std::uint64_t paymentsVersion_ = 0;
  std::condition_variable loaderWake_;
  bool reloadWanted_ = false;
  std::optional<std::int64_t> announced_;  // by the requests of the load wanted
  bool stopping_ = false;
  TServiceHealth health_;

  std::thread loader_;
};

}  // namespace selvo::host
