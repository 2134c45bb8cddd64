// The till service's HTTP side (HTTP/1.1, JSON):
//   POST /calc       the sale JSON `calc` takes (Content-Type
//                    application/json); the answer of `calc --json` (with
//                    "explain" when asked with ?explain=1) and the settings
//                    version that computed it
//   GET  /payments   the payment types the module holds
//   GET  /health     the settings version and when it was loaded, whether
//                    the database can be reached and the journal written,
//                    and since when
//   GET  /metrics    the counters in the Prometheus text format
//   GET  /openapi.json  this interface described in OpenAPI 3.1
//                    (docs/openapi.json, compiled in)
//
// Connections are served by one thread, with another that stands by for
// when it is held up in a handler, and neither waits for a client:
// a client that sends slowly or not at all costs a socket, not a thread,
// and is closed once it has not delivered a whole request within
// kRequestSeconds of connecting or of its previous answer, however it
// trickles. Requests one connection sends ahead (pipelined) are answered
// in order. A body over kMaxBodyBytes (also a chunked one) is refused with
// 413, headers over kMaxHeaderBytes with 431.
//
// Browsers: a request that carries an Origin header is refused unless that
// origin is allowed, and one whose Host is not a name of this service (the
// loopback names, the address listened on, or a name allowed) is refused,
// so that a web page open on the till can neither post sales nor read the
// answers. With a token, every request but /health must carry
// "Authorization: Bearer TOKEN".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/journal/SaleJournal.h"
#include "host/service/ServiceMetrics.h"
#include "host/service/TillService.h"

namespace selvo::host {

inline constexpr int kDefaultServicePort = 8750;
inline constexpr std::size_t kMaxBodyBytes = 256 * 1024;
inline constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
inline constexpr int kRequestSeconds = 10;
// Connections held at once; one more is closed as soon as it is accepted.
inline constexpr int kMaxConnections = 4096;
// Threads that read, compute and answer: one serves, the others stand by.
inline constexpr int kHttpThreads = 2;

// The body of the answer to a sale: JSON as JsonText writes the document of
// its fields (its keys in order, its numbers and escapes), without making
// the document, which was a good part of a sale's time in the service.
std::string SaleAnswerText(const TSaleAnswer& answer, std::uint64_t version, const std::string& saleId, bool explain);

struct TFrontOptions {
  std::string token;                        // empty: no Authorization asked
  std::vector<std::string> allowedOrigins;  // exact Origin values
  std::vector<std::string> allowedHosts;    // further Host names (without port)
};

class THttpFront {
 public:
  // journal may be null.
  THttpFront(TTillService& service, TServiceMetrics& metrics, TSaleJournal* journal, TFrontOptions options);
  ~THttpFront();
  THttpFront(const THttpFront&) = delete;
  THttpFront& operator=(const THttpFront&) = delete;

  // Binds the address (port 0: any free one); false when it cannot (the
  // reason in `why`).
  bool Bind(const std::string& host, int port, std::string& why);
  int Port() const;
  // Answers until Stop; the answers in flight are finished before it returns.
  void Run();
  // May be called from any thread, also before Run, and more than once.
  void Stop();

  struct TImpl;

 private:
  std::unique_ptr<TImpl> impl_;
};

// True for an address only this computer reaches (127.0.0.0/8, ::1,
// "localhost").
bool IsLoopbackAddress(const std::string& host);

// A moment as sales write it: "2026-12-08T12:30:00.250" (local, day-based).
std::string MomentText(double moment);
// A wall-clock time as UTC, "2026-12-08T09:30:00Z".
std::string UtcText(TWallClock::time_point at);

}  // namespace selvo::host
