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
//   and the service asks it again before each sale; a file replaced under
//   its name (a new shop) counts as a change.
//
// A load that failed while the database was reachable is asked for again
// every few seconds.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include <sys/types.h>

struct pg_conn;
struct sqlite3;

namespace selvo::host {

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

 private:
  void Run();
  void RunServer();
  void RunFile();
  bool ConnectListener(std::string& why);
  // The listener's last message, first line, without passwords.
  std::string ListenerMessage() const;
  // The file's own connection, opened anew, and which file it is.
  void OpenFile();
  bool FileReplaced() const;
  // Waits up to `ms` or until Stop; false once stopping.
  bool Pause(int ms);

  const std::string database_;
  const bool server_;
  TTillService* service_ = nullptr;

  pg_conn* listener_ = nullptr;
  sqlite3* file_ = nullptr;
  std::pair<dev_t, ino_t> fileIdentity_{};
  std::mutex fileMutex_;
  long long dataVersion_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace selvo::host
