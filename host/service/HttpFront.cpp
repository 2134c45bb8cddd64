#include "host/service/HttpFront.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>
#include <unordered_map>
#include <variant>

#include "host/journal/SaleId.h"
#include "host/service/OpenApiDocument.h"
#include "platform/Clock.h"
#include "platform/DateUtils.h"

namespace selvo::host {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
// Connections the kernel keeps waiting to be accepted.
constexpr int kListenBacklog = 1024;
// A failed accept (no descriptor left) is tried again after this pause
// instead of at once and again.
constexpr auto kAcceptRetry = std::chrono::milliseconds(50);
// A load of the settings that waits this long for the database makes the
// service degraded: the database is locked or does not answer.
constexpr auto kSlowLoad = std::chrono::seconds(2);
// After a refusal that ends the connection: how long, and how much, of what
// the client still sends is read and dropped before it is closed.
constexpr auto kLinger = std::chrono::seconds(2);
// How often the connections' deadlines are looked at: one timer for all of
// them, since a timer of each connection's own was set and cancelled at
// every read and write, and that cost every request two system calls.
constexpr auto kDeadlineSweep = std::chrono::milliseconds(250);
// The serving thread shows it is back in the io context this often; a
// thread that stands by joins in once it has not been for kStandbyAfter.
constexpr auto kBeat = std::chrono::milliseconds(10);
constexpr auto kStandbyAfter = std::chrono::milliseconds(30);
constexpr std::size_t kMostLingered = 1 << 20;
// Descriptors kept for the service's own files and database connections
// when the connections are bounded by the process's limit.
constexpr rlim_t kDescriptorsKept = 64;

using TSteady = std::chrono::steady_clock;
using TRequest = http::request<http::string_body>;
using TResponse = http::response<http::string_body>;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "name", "name:port", "[v6]", "[v6]:port" -> the name, lower case.
std::string HostName(std::string_view header) {
  std::string host(header);
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    return Lower(host.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  }
  return Lower(host.substr(0, host.find(':')));
}

// The path of a target in origin form ("/calc?explain=1") or in absolute
// form ("http://127.0.0.1:8750/calc").
std::string_view PathOf(std::string_view target) {
  if (const std::size_t scheme = target.find("://"); scheme != std::string_view::npos && target.front() != '/') {
    const std::size_t path = target.find('/', scheme + 3);
    target = path == std::string_view::npos ? std::string_view("/") : target.substr(path);
  }
  return target.substr(0, target.find('?'));
}

// The addresses the service answers, each with the one method it takes.
struct TRoute {
  std::string_view path;
  http::verb method;
};
constexpr TRoute kRoutes[] = {{"/calc", http::verb::post},
                              {"/payments", http::verb::get},
                              {"/health", http::verb::get},
                              {"/metrics", http::verb::get},
                              {"/openapi.json", http::verb::get}};

const TRoute* RouteOf(std::string_view path) {
  for (const TRoute& route : kRoutes)
    if (route.path == path) return &route;
  return nullptr;
}

// ?explain=1 among the target's parameters.
bool ExplainAsked(std::string_view target) {
  const std::size_t mark = target.find('?');
  const std::string_view query = mark == std::string_view::npos ? "" : target.substr(mark + 1);
  for (std::size_t at = 0; at <= query.size();) {
    const std::size_t end = std::min(query.find('&', at), query.size());
    if (query.substr(at, end - at) == "explain=1") return true;
    at = end + 1;
  }
  return false;
}

bool IsWildcard(const std::string& host) { return host == "0.0.0.0" || host == "::" || host.empty(); }

// Compares without leaving the time it takes to tell how much matched.
bool SameSecret(std::string_view a, std::string_view b) {
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  return differ == 0;
}

TResponse ReplyText(http::status status, std::string body) {
  TResponse response{status, 11};
  response.set(http::field::content_type, kJson);
  response.set(http::field::cache_control, "no-store");
  response.body() = std::move(body);
  return response;
}

TResponse Reply(http::status status, const nlohmann::json& body) { return ReplyText(status, JsonText(body)); }

template <class T>
void AppendJson(std::string& out, const T& value) {
  out += JsonText(nlohmann::json(value));
}

TResponse Refusal(http::status status, const std::string& error) { return Reply(status, {{"error", error}}); }

}  // namespace

std::string SaleAnswerText(const TSaleAnswer& answer, std::uint64_t version, const std::string& saleId, bool explain) {
  std::string out;
  out.reserve(160);
  out += "{\"discount_percent\":";
  AppendJson(out, answer.discountPercent);
  if (explain) {
    out += ",\"explain\":";
    AppendJson(out, answer.explanation);
  }
  out += ",\"sale_bans\":[";
  for (std::size_t i = 0; i < answer.saleBans.size(); ++i) {
    if (i > 0) out += ',';
    AppendJson(out, answer.saleBans[i]);
  }
  out += "],\"";
  out += kSaleIdField;
  out += "\":";
  AppendJson(out, saleId);
  out += ",\"settings_version\":" + std::to_string(version) + ",\"sum\":";
  AppendJson(out, answer.sum);
  if (!answer.warning.empty()) {
    out += ",\"warning\":";
    AppendJson(out, answer.warning);
  }
  out += '}';
  return out;
}

bool IsLoopbackAddress(const std::string& host) {
  if (Lower(host) == "localhost") return true;
  boost::system::error_code ec;
  const asio::ip::address address = asio::ip::make_address(host, ec);
  return !ec && address.is_loopback();
}

std::string MomentText(double moment) {
  const TDateParts d = DecodeDate(moment);
  const TTimeParts t = DecodeTime(moment);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", d.year, d.month, d.day, t.hour, t.minute,
                t.second, t.msec);
  return text;
}

std::string UtcText(TWallClock::time_point at) {
  const std::time_t seconds = TWallClock::to_time_t(at);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

class TSession;

struct THttpFront::TImpl {
  TImpl(TTillService& till, TServiceMetrics& counters, TSaleJournal* sales, TFrontOptions front)
      : service(till), metrics(counters), journal(sales), options(std::move(front)) {}

  // What the service answers to a request that passed Screen, but a sale.
  TResponse Answer(const TRequest& request);
  // A refusal for what the header alone shows, before the body is read.
  std::optional<TResponse> Screen(const TRequest& header);
  // The sale of a POST /calc with the moment it is computed at fixed, or
  // the refusal of a body that is none.
  std::variant<TSale, TResponse> ReadSale(const TRequest& request);
  // The answer to the sale of `request` once the service computed it.
  TResponse SaleAnswer(TTillService::TCalcOutcome&& outcome, const TRequest& request, double moment, bool explain);
  TResponse Payments();
  TResponse Health(bool authorized);
  // The interface described (docs/openapi.json as built in).
  TResponse Document();
  bool AllowedOrigin(std::string_view origin) const;
  // The request carries the key, or none is asked.
  bool Authorized(const TRequest& header) const;
  void Accept();
  // Closes the connections past their deadlines, every kDeadlineSweep for
  // as long as the service runs or has connections.
  void SweepDeadlines();
  // The serving thread's beat, every kBeat while the timers run.
  void Beat();
  // A standby thread's life: it serves beside the serving thread while that
  // one is held up (see Run), and waits otherwise.
  void StandBy();
  bool ServingThreadHeldUp() const;
  // Runs the io context on this thread, by `run` (run, run_one_for), until
  // it returns normally; a handler that throws (out of memory, say) ends
  // its connection, never the service.
  template <typename TRun>
  void Serve(TRun run);
  // Closes a connection that waits for a request to make room for a new
  // one; false when every connection is busy.
  bool EvictOneWaiting();
  void Interrupt();

  TTillService& service;
  TServiceMetrics& metrics;
  TSaleJournal* journal;
  const TFrontOptions options;
  std::string listenHost;
  int port = 0;

  // Declared before the io context, which may destroy the last sessions
  // when it goes.
  std::atomic<bool> stopping{false};
  std::atomic<int> connections{0};
  int connectionLimit = kMaxConnections;
  std::mutex sessionsMutex;
  std::unordered_map<TSession*, std::weak_ptr<TSession>> sessions;

  asio::io_context io{kHttpThreads};
  tcp::acceptor acceptor{asio::make_strand(io)};
  asio::steady_timer acceptPause{acceptor.get_executor()};
  asio::steady_timer sweep{asio::make_strand(io)};
  asio::steady_timer beat{io};
  std::thread::id servingThread;
  std::atomic<TSteady::rep> lastBeat{0};
};

// One connection: requests read one after the other (a pipelined one waits
// in the buffer), each answered before the next is read.
class TSession : public std::enable_shared_from_this<TSession> {
 public:
  TSession(THttpFront::TImpl& front, tcp::socket socket) : front_(front), stream_(std::move(socket)) {
    ++front_.connections;
  }
  ~TSession() {
    --front_.connections;
    std::lock_guard<std::mutex> lock(front_.sessionsMutex);
    front_.sessions.erase(this);
  }

  void Start() {
    {
      std::lock_guard<std::mutex> lock(front_.sessionsMutex);
      front_.sessions.emplace(this, weak_from_this());
    }
    boost::system::error_code ignored;
    stream_.socket().set_option(tcp::no_delay(true), ignored);
    asio::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->ReadNext(); });
  }

  // On stop: a connection waiting for a request it has not begun to send
  // is closed now; one in the middle of a request is answered first.
  void Interrupt() {
    asio::post(stream_.get_executor(), [weak = weak_from_this()] {
      const auto self = weak.lock();
      beast::error_code ec;
      if (self && self->waiting_ && (!self->parser_ || !self->parser_->got_some()) && self->buffer_.size() == 0 &&
          self->stream_.socket().available(ec) == 0)
        self->Close();
    });
  }

  // Waiting for a request (an idle or trickling client): the first to go
  // when the connections run out.
  bool Waiting() const { return waitingForRequest_; }
  void Evict() {
    asio::post(stream_.get_executor(), [weak = weak_from_this()] {
      if (const auto self = weak.lock(); self && self->waiting_) self->Close();
    });
  }

  // Closes the connection if its deadline has passed by `now`, and counts a
  // request that had begun to come as timed out.
  void CloseIfLate(TSteady::time_point now) {
    if (!Late(now)) return;
    asio::post(stream_.get_executor(), [weak = weak_from_this()] {
      const auto self = weak.lock();
      if (!self || !self->Late(TSteady::now())) return;
      if (self->deadlineFor_ == TDeadline::Request && self->parser_ && self->parser_->got_some())
        self->front_.metrics.Error("timeout");
      self->Close();
    });
  }

 private:
  enum class TDeadline { Request, Answer, Linger };
  void SetDeadline(TDeadline what, TSteady::duration within) {
    deadlineFor_ = what;
    deadline_.store((TSteady::now() + within).time_since_epoch().count(), std::memory_order_relaxed);
  }
  void ClearDeadline() { deadline_.store(0, std::memory_order_relaxed); }
  bool Late(TSteady::time_point now) const {
    const TSteady::rep due = deadline_.load(std::memory_order_relaxed);
    return due != 0 && due <= now.time_since_epoch().count();
  }

  void ReadNext() {
    if (front_.stopping) return Close();
    parser_.emplace();
    parser_->body_limit(kMaxBodyBytes);
    parser_->header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
    // One deadline for the whole request: trickling does not move it.
    SetDeadline(TDeadline::Request, std::chrono::seconds(kRequestSeconds));
    waiting_ = waitingForRequest_ = true;
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHeader(ec); });
  }

  void OnHeader(beast::error_code ec) {
    waiting_ = waitingForRequest_ = false;
    if (ec) return Failed(ec);
    const TRequest& header = parser_->get();
    if (std::optional<TResponse> refusal = front_.Screen(header)) return Write(std::move(*refusal), false);
    if (parser_->is_done()) return Handle();
    if (beast::iequals(header[http::field::expect], "100-continue")) {
      auto going = std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
      return http::async_write(stream_, *going, [self = shared_from_this(), going](beast::error_code e, std::size_t) {
        if (e) return self->Close();
        self->ReadBody();
      });
    }
    ReadBody();
  }

  void ReadBody() {
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->Failed(ec);
      self->Handle();
    });
  }

  void Handle() {
    // A sale that waits for the module is no client's delay.
    ClearDeadline();
    const TRequest& request = parser_->get();
    const bool kept = request.keep_alive();
    if (PathOf(request.target()) == "/calc") return HandleSale(kept);
    TResponse response;
    try {
      response = front_.Answer(request);
    } catch (const std::exception& e) {
      // Nothing a request holds may end the service.
      front_.metrics.Error("internal");
      response = Refusal(http::status::internal_server_error, e.what());
    }
    Answered(std::move(response), kept);
  }

  // A sale is computed on this thread when the module is free; one that
  // waits for it leaves this thread to other connections, and its answer
  // comes back to this connection's strand.
  void HandleSale(bool kept) {
    const TRequest& request = parser_->get();
    const bool explain = ExplainAsked(request.target());
    std::variant<TSale, TResponse> read = front_.ReadSale(request);
    if (TResponse* refusal = std::get_if<TResponse>(&read)) return Answered(std::move(*refusal), kept);
    TSale& sale = std::get<TSale>(read);
    const double moment = *sale.moment;
    // Keeps the io context running while the sale waits in the service.
    auto strand = asio::prefer(stream_.get_executor(), asio::execution::outstanding_work.tracked);
    auto done = [self = shared_from_this(), strand, kept, explain, moment](TTillService::TCalcOutcome&& outcome,
                                                                           bool here) {
      if (here) return self->SaleComputed(std::move(outcome), kept, explain, moment);
      asio::post(strand, [self, kept, explain, moment, outcome = std::move(outcome)]() mutable {
        self->SaleComputed(std::move(outcome), kept, explain, moment);
      });
    };
    try {
      front_.service.Calc(std::move(sale), explain, std::move(done));
    } catch (const EServiceUnusable& e) {
      front_.metrics.Error("module");  // too many sales wait for the module
      Answered(Refusal(http::status::service_unavailable, e.Message()), kept);
    } catch (const std::exception& e) {
      front_.metrics.Error("module");  // the service is stopping
      Answered(Refusal(http::status::internal_server_error, e.what()), kept);
    }
  }

  void SaleComputed(TTillService::TCalcOutcome&& outcome, bool kept, bool explain, double moment) {
    TResponse response;
    try {
      response = front_.SaleAnswer(std::move(outcome), parser_->get(), moment, explain);
    } catch (const std::exception& e) {
      front_.metrics.Error("internal");
      response = Refusal(http::status::internal_server_error, e.what());
    }
    Answered(std::move(response), kept);
  }

  void Answered(TResponse response, bool kept) {
    // Screen let it pass: its origin, if any, is allowed to read it.
    const TRequest& request = parser_->get();
    if (const auto origin = request.find(http::field::origin); origin != request.end()) {
      response.set(http::field::access_control_allow_origin, origin->value());
      response.set(http::field::vary, "Origin");
    }
    Write(std::move(response), kept);
  }

  // A request that could not be read: answered when there is something to
  // say, then the connection is closed.
  void Failed(beast::error_code ec) {
    if (ec == http::error::body_limit) {
      front_.metrics.Error("too_large");
      return Write(Refusal(http::status::payload_too_large, "тело запроса длиннее 256 КБ"), false);
    }
    if (ec == http::error::header_limit) {
      front_.metrics.Error("too_large");
      return Write(Refusal(http::status::request_header_fields_too_large, "заголовки запроса длиннее 8 КБ"), false);
    }
    if (ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message) {
      front_.metrics.Error("bad_request");
      return Write(Refusal(http::status::bad_request, "запрос не разобран: " + ec.message()), false);
    }
    Close();
  }

  void Write(TResponse response, bool kept) {
    response_ = std::move(response);
    response_.keep_alive(kept && !front_.stopping);
    response_.prepare_payload();
    // The answer to HEAD is its header alone, with the Content-Length of
    // the body it would have had.
    if (parser_ && parser_->is_header_done() && parser_->get().method() == http::verb::head) response_.body().clear();
    SetDeadline(TDeadline::Answer, std::chrono::seconds(kRequestSeconds));
    http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->Close();
      if (!self->response_.keep_alive()) return self->Linger();
      self->ReadNext();
    });
  }

  // After the last answer: the sending side is closed and what the client
  // still sends (the rest of a refused body) is read and dropped for a
  // little while, so that closing does not reset the connection before the
  // client has read the answer.
  void Linger() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    SetDeadline(TDeadline::Linger, kLinger);
    Drain(0);
  }
  void Drain(std::size_t dropped) {
    if (dropped > kMostLingered) return Close();
    buffer_.clear();
    stream_.async_read_some(buffer_.prepare(16 * 1024),
                            [self = shared_from_this(), dropped](beast::error_code ec, std::size_t got) {
                              if (ec) return self->Close();
                              self->Drain(dropped + got);
                            });
  }

  void Close() {
    ClearDeadline();
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

  THttpFront::TImpl& front_;
  beast::tcp_stream stream_;
  // Bounded: a chunk's size line and the trailer are read whole into it,
  // and the parser sets no limit of its own on them.
  beast::flat_buffer buffer_{kMaxHeaderBytes + 64 * 1024};
  std::optional<http::request_parser<http::string_body>> parser_;
  TResponse response_;                     // kept until it is written
  std::atomic<TSteady::rep> deadline_{0};  // 0: none; read by the sweep
  TDeadline deadlineFor_ = TDeadline::Request;
  bool waiting_ = false;                        // for the first bytes of a request
  std::atomic<bool> waitingForRequest_{false};  // the same, for other threads
};

std::optional<TResponse> THttpFront::TImpl::Screen(const TRequest& header) {
  auto refuse = [&](http::status status, const std::string& error, const char* kind) {
    metrics.Error(kind);
    return std::optional<TResponse>(Refusal(status, error));
  };
  // Framing the parser would read otherwise than a proxy in front might:
  // no Host in HTTP/1.1, two of them, or a body coded in any way but chunked.
  if (header.version() >= 11 && header.count(http::field::host) != 1)
    return refuse(http::status::bad_request, "в запросе HTTP/1.1 должен быть один заголовок Host", "bad_request");
  if (header.count(http::field::transfer_encoding) > 0 &&
      !(header.count(http::field::transfer_encoding) == 1 &&
        beast::iequals(header[http::field::transfer_encoding], "chunked")))
    return refuse(http::status::bad_request, "тело запроса передаётся целиком или частями (chunked)", "bad_request");
  // A web page the till's browser shows may send requests here: the
  // browser names the page's origin, and a name that leads here by DNS
  // alone is not one of the service's.
  const auto origin = header.find(http::field::origin);
  if (origin != header.end() && !AllowedOrigin(origin->value()))
    return refuse(http::status::forbidden, "запросы со страниц в браузере не принимаются", "forbidden");
  const auto hostHeader = header.find(http::field::host);
  if (hostHeader != header.end() && !(IsWildcard(listenHost) && options.allowedHosts.empty())) {
    const std::string name = HostName(hostHeader->value());
    const bool known =
        IsLoopbackAddress(name) || name == Lower(listenHost) ||
        std::find(options.allowedHosts.begin(), options.allowedHosts.end(), name) != options.allowedHosts.end();
    if (!known)
      return refuse(http::status::forbidden, "имя узла " + InputExcerpt(name) + " не принадлежит службе", "forbidden");
  }
  const std::string_view path = PathOf(header.target());
  const TRoute* route = RouteOf(path);
  const bool calc = route && route->method == http::verb::post;
  // The browser asks before a page of an allowed origin may post JSON.
  if (header.method() == http::verb::options && origin != header.end() && route) {
    TResponse preflight{http::status::no_content, 11};
    preflight.set(http::field::access_control_allow_methods, http::to_string(route->method));
    preflight.set(http::field::access_control_allow_headers, "Content-Type, Authorization");
    preflight.set(http::field::access_control_max_age, "600");
    preflight.set(http::field::access_control_allow_origin, origin->value());
    preflight.set(http::field::vary, "Origin");
    return preflight;
  }
  if (!options.token.empty() && path != "/health" && !Authorized(header)) {
    std::optional<TResponse> refusal = refuse(http::status::unauthorized, "нужен ключ доступа службы", "unauthorized");
    refusal->set(http::field::www_authenticate, "Bearer");
    return refusal;
  }
  if (!route) return refuse(http::status::not_found, "нет такого адреса", "not_found");
  if (header.method() != route->method) {
    std::optional<TResponse> refusal =
        refuse(http::status::method_not_allowed,
               calc ? "продажа передаётся методом POST" : "этот адрес отвечает на GET", "bad_request");
    refusal->set(http::field::allow, http::to_string(route->method));
    return refusal;
  }
  if (calc) {
    std::string media = Lower(std::string(header[http::field::content_type]));
    media.erase(std::min(media.find(';'), media.size()));
    media.erase(0, std::min(media.find_first_not_of(' '), media.size()));
    media.erase(media.find_last_not_of(' ') + 1);
    if (media != "application/json")
      return refuse(http::status::unsupported_media_type, "продажа передаётся как application/json", "bad_request");
  }
  return std::nullopt;
}

bool THttpFront::TImpl::AllowedOrigin(std::string_view origin) const {
  return std::find(options.allowedOrigins.begin(), options.allowedOrigins.end(), origin) !=
         options.allowedOrigins.end();
}

bool THttpFront::TImpl::Authorized(const TRequest& header) const {
  if (options.token.empty()) return true;
  const std::string_view given = header[http::field::authorization];
  constexpr std::string_view kScheme = "Bearer ";
  return given.size() > kScheme.size() && beast::iequals(given.substr(0, kScheme.size()), kScheme) &&
         SameSecret(given.substr(kScheme.size()), options.token);
}

TResponse THttpFront::TImpl::Answer(const TRequest& request) {
  const std::string_view target = request.target();
  const std::string_view path = PathOf(target);
  if (path == "/payments") return Payments();
  if (path == "/health") return Health(Authorized(request));
  if (path == "/openapi.json") return Document();
  TResponse response{http::status::ok, 11};
  response.set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
  response.body() = metrics.Text(service.Health(), journal ? std::optional(journal->Health()) : std::nullopt);
  return response;
}

std::variant<TSale, TResponse> THttpFront::TImpl::ReadSale(const TRequest& request) {
  TSale sale;
  try {
    sale = ParseSaleFast(request.body());
  } catch (const ESaleFormat& e) {
    metrics.Error("bad_request");
    return Refusal(http::status::bad_request, e.Message());
  }
  // The moment the sale is computed at is fixed here, so that the journal
  // holds it and a replay computes the same sale.
  if (!sale.moment) sale.moment = Now();
  return sale;
}

TResponse THttpFront::TImpl::SaleAnswer(TTillService::TCalcOutcome&& outcome, const TRequest& request, double moment,
                                        bool explain) {
  metrics.SaleWaited(outcome.waitSeconds);
  try {
    if (outcome.error) std::rethrow_exception(outcome.error);
  } catch (const ESaleFormat& e) {
    metrics.Error("sale");
    return Refusal(http::status::unprocessable_entity, e.Message());
  } catch (const EServiceUnusable& e) {
    metrics.Error("module");
    return Refusal(http::status::service_unavailable, e.Message());
  } catch (const std::exception& e) {
    metrics.Error("module");
    return Refusal(http::status::internal_server_error, e.what());
  }
  const TTillService::TCalcReply& reply = *outcome.reply;
  std::string saleId;
  try {
    saleId = NewSaleId();
  } catch (const std::exception& e) {
    metrics.Error("sale_id");
    return Refusal(http::status::internal_server_error, e.what());
  }
  metrics.SaleComputed(outcome.calcSeconds);
  std::string answer = SaleAnswerText(reply.answer, reply.version, saleId, explain);
  if (!journal) return ReplyText(http::status::ok, std::move(answer));
  // The body was read as a sale: it nests shallowly and parses.
  nlohmann::json entry = {{"sale", nlohmann::json::parse(request.body())},
                          {"moment", MomentText(moment)},
                          {"answer", nlohmann::json::parse(answer)},
                          {"settings_version", reply.version},
                          {kSaleIdField, saleId},
                          {"at", UtcText(TWallClock::now())}};
  if (!journal->Append(entry)) metrics.Error("journal");
  return ReplyText(http::status::ok, std::move(answer));
}

TResponse THttpFront::TImpl::Payments() {
  std::uint64_t version = 0;
  nlohmann::json list = nlohmann::json::array();
  try {
    for (const TServicePayment& p : service.Payments(version))
      list.push_back({{"id", p.id},
                      {"name", p.name},
                      {"type", p.type},
                      {"check", p.check},
                      {"discount", p.discount},
                      {"enabled", p.enabled}});
  } catch (const std::exception& e) {
    metrics.Error("module");
    return Refusal(http::status::internal_server_error, e.what());
  }
  return Reply(http::status::ok, {{"payments", list}, {"settings_version", version}});
}

TResponse THttpFront::TImpl::Document() {
  TResponse response{http::status::ok, 11};
  response.set(http::field::content_type, "application/json");
  response.set(http::field::cache_control, "no-store");
  response.body() = OpenApiDocument();
  return response;
}

TResponse THttpFront::TImpl::Health(bool authorized) {
  const TServiceHealth h = service.Health();
  const bool slowLoad = h.loadingSince && TWallClock::now() - *h.loadingSince >= kSlowLoad;
  bool ok = h.reachable && h.lastReloadError.empty() && !slowLoad && !h.unusable;
  nlohmann::json body = {{"settings_version", h.version},
                         {"settings_saved_at", h.versionMoment},
                         {"settings_saved_by", h.versionAuthor},
                         {"loaded_at", UtcText(h.loadedAt)},
                         // Loads after the first: a load need not bring a new version.
                         {"reloads", h.reloads},
                         {"database", {{"reachable", h.reachable}, {"since", UtcText(h.reachableSince)}}}};
  if (!h.lastReloadError.empty()) body["last_reload_error"] = h.lastReloadError;
  if (slowLoad) body["loading_since"] = UtcText(*h.loadingSince);
  if (h.unusable) body["settings_unusable"] = true;
  if (journal) {
    const TJournalHealth j = journal->Health();
    body["journal"] = {{"writing", j.writing}, {"since", UtcText(j.since)}};
    if (!j.writing) body["journal"]["error"] = j.error;
    ok = ok && j.writing;
  }
  // Without the key only whether the service is well is told: the reasons
  // name files and servers.
  if (!authorized) body = {{"settings_version", h.version}};
  body["status"] = ok ? "ok" : "degraded";
  return Reply(http::status::ok, body);
}

void THttpFront::TImpl::Accept() {
  acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
    if (!acceptor.is_open()) return;
    if (ec) {
      // Out of descriptors, for one: tried again after a pause, so that the
      // connections held can end meanwhile.
      acceptPause.expires_after(kAcceptRetry);
      acceptPause.async_wait([this](beast::error_code) { Accept(); });
      return;
    }
    if (connections >= connectionLimit && !EvictOneWaiting()) {
      metrics.Error("too_many_connections");
      beast::error_code ignored;
      socket.close(ignored);
    } else {
      std::make_shared<TSession>(*this, std::move(socket))->Start();
    }
    Accept();
  });
}

void THttpFront::TImpl::SweepDeadlines() {
  sweep.expires_after(kDeadlineSweep);
  sweep.async_wait([this](beast::error_code ec) {
    if (ec) return;
    // Armed again first: a sweep that throws (out of memory) must not end
    // the sweeping. The io context runs out of work once the service stops
    // and its last connection has gone.
    if (!stopping || connections > 0) SweepDeadlines();
    std::vector<std::shared_ptr<TSession>> open;
    {
      std::lock_guard<std::mutex> lock(sessionsMutex);
      open.reserve(sessions.size());
      for (auto& [raw, weak] : sessions)
        if (auto session = weak.lock()) open.push_back(std::move(session));
    }
    const auto now = TSteady::now();
    for (auto& session : open) session->CloseIfLate(now);
  });
}

void THttpFront::TImpl::Beat() {
  beat.expires_after(kBeat);
  beat.async_wait([this](beast::error_code ec) {
    if (ec) return;
    if (std::this_thread::get_id() == servingThread)
      lastBeat.store(TSteady::now().time_since_epoch().count(), std::memory_order_relaxed);
    if (!stopping || connections > 0) Beat();
  });
}

bool THttpFront::TImpl::ServingThreadHeldUp() const {
  const TSteady::time_point last{TSteady::duration(lastBeat.load(std::memory_order_relaxed))};
  return TSteady::now() - last > kStandbyAfter;
}

template <typename TRun>
void THttpFront::TImpl::Serve(TRun run) {
  for (;;) {
    try {
      run();
      return;
    } catch (const std::exception& e) {
      metrics.Error("internal");
      service.Log(std::string("ошибка при ответе на запрос: ") + e.what());
    }
  }
}

void THttpFront::TImpl::StandBy() {
  while (!io.stopped()) {
    std::this_thread::sleep_for(kBeat);
    while (ServingThreadHeldUp() && !io.stopped()) Serve([this] { io.run_one_for(kBeat); });
  }
}

bool THttpFront::TImpl::EvictOneWaiting() {
  std::shared_ptr<TSession> victim;
  {
    std::lock_guard<std::mutex> lock(sessionsMutex);
    for (auto& [raw, weak] : sessions)
      if (auto session = weak.lock(); session && session->Waiting()) {
        victim = std::move(session);
        break;
      }
  }
  if (!victim) return false;
  metrics.Error("evicted");
  victim->Evict();
  return true;
}

void THttpFront::TImpl::Interrupt() {
  std::vector<std::shared_ptr<TSession>> open;
  {
    std::lock_guard<std::mutex> lock(sessionsMutex);
    for (auto& [raw, weak] : sessions)
      if (auto session = weak.lock()) open.push_back(std::move(session));
  }
  for (auto& session : open) session->Interrupt();
}

THttpFront::THttpFront(TTillService& service, TServiceMetrics& metrics, TSaleJournal* journal, TFrontOptions options)
    : impl_(std::make_unique<TImpl>(service, metrics, journal, std::move(options))) {
  // The sales that wait for the module are made on these threads, a slice
  // of them per job, once the call that held it is done.
  service.SetHandOver([impl = impl_.get()](std::function<void()> job) { asio::post(impl->io, std::move(job)); });
}

THttpFront::~THttpFront() { impl_->service.SetHandOver(nullptr); }

int THttpFront::Port() const { return impl_->port; }

bool THttpFront::Bind(const std::string& host, int port, std::string& why) {
  why = "не удалось занять адрес " + host + ":" + std::to_string(port);
  const std::string name = host.size() > 1 && host.front() == '[' && host.back() == ']'
                               ? host.substr(1, host.size() - 2)
                               : (Lower(host) == "localhost" ? "127.0.0.1" : host);
  beast::error_code ec;
  const asio::ip::address address = asio::ip::make_address(name, ec);
  if (ec) {
    why += ": ожидается IP-адрес";
    return false;
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  tcp::acceptor& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(kListenBacklog, ec);
  if (ec) {
    why += ": " + ec.message();
    beast::error_code ignored;
    acceptor.close(ignored);
    return false;
  }
  impl_->listenHost = name;
  impl_->port = acceptor.local_endpoint().port();
  return true;
}

void THttpFront::Run() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    impl_->connectionLimit = static_cast<int>(std::clamp<rlim_t>(
        limit.rlim_cur > kDescriptorsKept ? limit.rlim_cur - kDescriptorsKept : 1, 1, kMaxConnections));
  impl_->Accept();
  impl_->SweepDeadlines();
  // One thread serves; the others stand by. Threads that share an io
  // context hand each step of a request to one another, and that costs a
  // till's every sale more than a second thread gains it. A standby thread
  // joins in while the serving one is held up in a handler (a sale that
  // waits in the module for its settings file), so that no other
  // connection waits behind that one.
  impl_->servingThread = std::this_thread::get_id();
  impl_->lastBeat = TSteady::now().time_since_epoch().count();
  impl_->Beat();
  auto serve = [impl = impl_.get()] { impl->Serve([impl] { impl->io.run(); }); };
  std::vector<std::thread> standby;
  for (int i = 1; i < kHttpThreads; ++i) standby.emplace_back([impl = impl_.get()] { impl->StandBy(); });
  serve();
  for (std::thread& t : standby) t.join();
  // A load that let the module go after the last answer may have handed
  // calls over since: from now on the holder makes them, and what was
  // handed over is made here.
  impl_->service.SetHandOver(nullptr);
  impl_->io.restart();
  serve();
}

void THttpFront::Stop() {
  if (impl_->stopping.exchange(true)) return;
  asio::post(impl_->acceptor.get_executor(), [impl = impl_.get()] {
    beast::error_code ignored;
    impl->acceptor.close(ignored);
    impl->acceptPause.cancel();
  });
  impl_->Interrupt();
}

}  // namespace selvo::host
