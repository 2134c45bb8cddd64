#include "host/service/ShopWatch.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

#include "host/service/TillService.h"
#include "host/shopdb/ServerAddress.h"
#include "host/shopdb/ShopChangeFeed.h"

namespace selvo::host {
namespace {

// How often the file's data version is asked between sales (and the
// listener waits for the server between two looks at the clock), and how
// the pause between two tries to reach the server grows.
constexpr int kFileRoundMs = 100;
constexpr int kFirstRetryMs = 250;
constexpr int kLongestRetryMs = 5000;
constexpr int kFailedLoadRetryMs = 2000;
// A sale asks the file again only when it was last asked longer ago than
// this: an ask costs a stat and a read of the file's header under its lock,
// as much as a fifth of a sale, and a busy till sells many times a
// millisecond; a save still reaches the next sale within this much.
constexpr auto kSaleAskInterval = std::chrono::milliseconds(5);

}  // namespace

TShopWatch::TShopWatch(const std::string& database) : server_(IsServerAddress(database)) {
  if (server_) {
    listener_ = std::make_unique<TServerSaveFeed>(database);
    std::string why;
    listener_->Connect(why);
    return;
  }
  file_ = std::make_unique<TFileSaveFeed>(database);
}

TShopWatch::~TShopWatch() { Stop(); }

void TShopWatch::Start(TTillService& service) {
  service_ = &service;
  if (!server_) service.SetChangeCheck([this] { return ChangedBeforeSale(); });
  thread_ = std::thread([this] { Run(); });
}

void TShopWatch::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool TShopWatch::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

bool TShopWatch::Stopping() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

bool TShopWatch::ChangedBeforeSale() {
  if (server_) return false;
  {
    std::lock_guard<std::mutex> lock(fileMutex_);
    if (std::chrono::steady_clock::now() - lastAsk_ < kSaleAskInterval) return false;
  }
  return ChangedSinceLastAsk();
}

bool TShopWatch::ChangedSinceLastAsk() {
  if (server_) return false;
  std::lock_guard<std::mutex> lock(fileMutex_);
  lastAsk_ = std::chrono::steady_clock::now();
  // A new shop takes the file's name as a whole file (init --force): the
  // connection to the old one would never see a change.
  if (!file_->IsOpen() || file_->Replaced()) return file_->Reopen();
  // A file locked for a moment is asked again at the next round.
  return file_->CommittedSinceSeen();
}

void TShopWatch::Run() {
  if (server_)
    RunServer();
  else
    RunFile();
}

void TShopWatch::RunFile() {
  for (int round = 1; Pause(kFileRoundMs); ++round) {
    if (ChangedSinceLastAsk() ||
        (round % (kFailedLoadRetryMs / kFileRoundMs) == 0 && !service_->Health().lastReloadError.empty()))
      service_->RequestReload();
  }
}

void TShopWatch::RunServer() {
  using std::chrono::steady_clock;
  int retryMs = kFirstRetryMs;
  auto lastRetry = steady_clock::now();
  while (true) {
    if (!listener_->Connected()) {
      std::string why;
      if (!listener_->Connect(why)) {
        service_->SetReachable(false, why);
        if (!Pause(retryMs)) return;
        retryMs = std::min(retryMs * 2, kLongestRetryMs);
        continue;
      }
      // Back: what was saved meanwhile was never announced here.
      retryMs = kFirstRetryMs;
      service_->SetReachable(true, "");
      service_->RequestReload();
    }
    // Of the saves heard in one wait the highest version is asked for
    // (saves run one after another); any of them may announce none.
    bool saved = false;
    std::optional<std::int64_t> announced;
    std::string why;
    const bool connected = listener_->Wait(
        kFileRoundMs,
        [&](std::string_view payload) {
          saved = true;
          if (const auto version = AnnouncedVersion(payload)) announced = std::max(announced.value_or(0), *version);
        },
        why);
    if (Stopping()) return;
    if (saved) service_->RequestReload(announced);
    if (!connected) {
      service_->SetReachable(false, why);
      continue;
    }
    const auto now = steady_clock::now();
    if (now - lastRetry >= std::chrono::milliseconds(kFailedLoadRetryMs)) {
      lastRetry = now;
      if (!service_->Health().lastReloadError.empty()) service_->RequestReload();
    }
  }
}

}  // namespace selvo::host
