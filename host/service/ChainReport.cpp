#include "host/service/ChainReport.h"

#include <chrono>
#include <cstdint>

#include "host/service/TillService.h"
#include "host/shopdb/ServerAddress.h"
#include "host/shopdb/ShopChain.h"
#include "host/shopdb/ShopConnection.h"

namespace selvo::host {

TChainReport::TChainReport(std::string database, std::string service)
    : database_(std::move(database)), service_(std::move(service)) {}

TChainReport::~TChainReport() { Stop(); }

void TChainReport::Start(const TTillService& till) {
  // Only a server's database can be a station.
  if (!IsServerAddress(database_)) return;
  till_ = &till;
  thread_ = std::thread([this] { Run(); });
}

void TChainReport::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool TChainReport::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void TChainReport::Run() {
  using Clock = std::chrono::steady_clock;
  std::int64_t written = -1;  // none yet
  Clock::time_point writtenAt{};
  // Not asked before then: after a failure, or at a database that is no station.
  Clock::time_point quietUntil{};
  while (Pause(kLookEveryMs)) {
    const auto now = Clock::now();
    if (now < quietUntil) continue;
    const std::int64_t version = static_cast<std::int64_t>(till_->Health().version);
    if (written == version && now - writtenAt < std::chrono::milliseconds(kWriteEveryMs)) continue;
    try {
      if (!connection_) connection_ = OpenShopConnection(database_);
      if (!ReportServiceVersion(*connection_, service_, version)) {
        written = -1;
        quietUntil = now + std::chrono::milliseconds(kAskMembershipEveryMs);
        continue;
      }
      written = version;
      writtenAt = now;
    } catch (const std::exception&) {
      // Away for now (or dropped the connection): opened anew later.
      connection_.reset();
      written = -1;
      quietUntil = now + std::chrono::milliseconds(kRetryAfterMs);
    }
  }
}

}  // namespace selvo::host
