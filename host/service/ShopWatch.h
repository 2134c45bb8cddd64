// Watches the shop database for the saves of other computers and for
// whether it can be reached, and tells the till service:
//
// - on the server, a connection of its own listens for the notification
//   every save sends inside its transaction (delivered only when the save
//   commits); when the connection is lost the service is told the database
//   is unreachable, and connecting again runs here with a growing pause, so
//   no sale ever waits for it; once back, the service loads anew;
// - on an SQLite file, a connection of its own asks the file's data version
//   (which moves when another connection commits) several times a second,
//   and the service asks it again before a sale unless it was asked a few
//   milliseconds ago; a file replaced under its name (a new shop) counts as
//   a change.
//
// A load that failed while the database was reachable is asked for again
// every few seconds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace selvo::host {

class TFileSaveFeed;
class TServerSaveFeed;
class TTillService;

class TShopWatch {
 public:
  // Takes the database's state now, before the service loads: a save
  // committed from here on is seen. Does not fail: a server that cannot be
  // reached is tried again once the watch runs.
  explicit TShopWatch(const std::string& database);
  ~TShopWatch();
  TShopWatch(const TShopWatch&) = delete;
  TShopWatch& operator=(const TShopWatch&) = delete;

  // Starts telling `service`; it must outlive the watch's Stop.
  void Start(TTillService& service);
  void Stop();

  // SQLite: true when another connection committed since the last time it
  // was asked (or seen by the watch's own rounds). Always false on a server.
  bool ChangedSinceLastAsk();
  // The same before a sale, but false without asking when the file was
  // asked a moment ago (any change then was told already).
  bool ChangedBeforeSale();

 private:
  void Run();
  void RunServer();
  void RunFile();
  // Waits up to `ms` or until Stop; false once stopping.
  bool Pause(int ms);
  bool Stopping();

  const bool server_;
  TTillService* service_ = nullptr;

  // One of them, after the database's kind.
  std::unique_ptr<TServerSaveFeed> listener_;
  std::unique_ptr<TFileSaveFeed> file_;
  std::mutex fileMutex_;  // the watch's rounds and the sales ask the file
  std::chrono::steady_clock::time_point lastAsk_{};

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace selvo::host
