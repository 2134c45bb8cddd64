// The till service's HTTP side (HTTP/1.1, JSON), on a local address:
//   POST /calc       the sale JSON `calc` takes; the answer of `calc --json`
//                    (with "explain" when asked with ?explain=1) and the
//                    settings version that computed it
//   GET  /payments   the payment types the module holds
//   GET  /health     the settings version and when it was loaded, whether
//                    the database can be reached and since when
//   GET  /metrics    the counters in the Prometheus text format
// A body over kMaxBodyBytes is refused (413), a body that is not a sale gets
// 400 naming the fault, a client that stops sending is cut after the read
// timeout, and idle connections wait in the kernel until they send.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>

#include "host/journal/SaleJournal.h"
#include "host/service/ServiceMetrics.h"
#include "host/service/TillService.h"

namespace httplib {
class Server;
}

namespace selvo::host {

inline constexpr int kDefaultServicePort = 8750;
inline constexpr std::size_t kMaxBodyBytes = 256 * 1024;
inline constexpr int kReadTimeoutSeconds = 2;
inline constexpr int kHttpThreads = 64;
// Requests one connection may carry before it is closed (a till sends its
// sales over one connection).
inline constexpr int kKeepAliveRequests = 1000;

class THttpFront {
 public:
  // journal may be null.
  THttpFront(TTillService& service, TServiceMetrics& metrics, TSaleJournal* journal);
  ~THttpFront();
  THttpFront(const THttpFront&) = delete;
  THttpFront& operator=(const THttpFront&) = delete;

  // Binds the address (port 0: any free one); false when it cannot (the
  // reason in `why`).
  bool Bind(const std::string& host, int port, std::string& why);
  int Port() const { return port_; }
  // Answers until Stop; the answers in flight are finished before it returns.
  void Run();
  void Stop();

 private:
  void Routes();

  TTillService& service_;
  TServiceMetrics& metrics_;
  TSaleJournal* journal_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  int listener_ = -1;  // the listening socket, once bound
};

// A moment as sales write it: "2026-12-08T12:30:00" (local, day-based).
std::string MomentText(double moment);
// A wall-clock time as UTC, "2026-12-08T09:30:00Z".
std::string UtcText(TWallClock::time_point at);

}  // namespace selvo::host
