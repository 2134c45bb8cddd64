// What a station's till service tells its head office: the settings version
// it answers with, written to the station's own database (host/shopdb/
// ShopChain), from where the station's publication carries it back. Written
// when the version changes and every few seconds besides, so that the head
// office also sees when the station was last heard from.
//
// It runs on a thread of its own with a connection of its own, and never
// holds up a sale: a database that is away is tried again at the next
// round. A database that is no station (or a file) is asked again now and
// then, since a station may join while its services run.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace selvo::host {

class TShopConnection;
class TTillService;

class TChainReport {
 public:
  // How often the version is looked at, and written at the latest.
  static constexpr int kLookEveryMs = 200;
  static constexpr int kWriteEveryMs = 5000;
  // How often a database that is no station is asked again.
  static constexpr int kAskMembershipEveryMs = 5000;
  // How long a database that failed is left alone.
  static constexpr int kRetryAfterMs = 2000;

  // `service`: how the service is named among the station's (its computer
  // and where it listens).
  TChainReport(std::string database, std::string service);
  ~TChainReport();
  TChainReport(const TChainReport&) = delete;
  TChainReport& operator=(const TChainReport&) = delete;

  // Starts telling what `till` answers with; it must outlive Stop.
  void Start(const TTillService& till);
  void Stop();

 private:
  void Run();
  bool Pause(int ms);

  const std::string database_;
  const std::string service_;
  const TTillService* till_ = nullptr;
  std::unique_ptr<TShopConnection> connection_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace selvo::host
