#include "host/service/HttpFront.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

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

bool IsWildcard(const std::string& host) { return host == "0.0.0.0" || host == "::" || host.empty(); }

// Compares without leaving the time it takes to tell how much matched.
bool SameSecret(std::string_view a, std::string_view b) {
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  return differ == 0;
}

TResponse Reply(http::status status, const nlohmann::json& body) {
  TResponse response{status, 11};
  response.set(http::field::content_type, kJson);
  response.set(http::field::cache_control, "no-store");
  response.body() = JsonText(body);
  return response;
}

TResponse Refusal(http::status status, const std::string& error) { return Reply(status, {{"error", error}}); }

}  // namespace

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

  // What the service answers to a request that passed Screen.
  TResponse Answer(const TRequest& request);
  // A refusal for what the header alone shows, before the body is read.
  std::optional<TResponse> Screen(const TRequest& header);
  TResponse Calc(const TRequest& request, bool explain);
  TResponse Payments();
  TResponse Health();
  void Accept();
  void Interrupt();

  TTillService& service;
  TServiceMetrics& metrics;
  TSaleJournal* journal;
  const TFrontOptions options;
  std::string listenHost;
  int port = 0;

  asio::io_context io{kHttpThreads};
  tcp::acceptor acceptor{asio::make_strand(io)};
  asio::steady_timer acceptPause{acceptor.get_executor()};
  std::atomic<bool> stopping{false};
  std::atomic<int> connections{0};
  std::mutex sessionsMutex;
  std::unordered_map<TSession*, std::weak_ptr<TSession>> sessions;
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
    asio::post(stream_.get_executor(), [self = shared_from_this()] {
      if (self->waiting_ && (!self->parser_ || !self->parser_->got_some()) && self->buffer_.size() == 0) self->Close();
    });
  }

 private:
  void ReadNext() {
    if (front_.stopping) return Close();
    parser_.emplace();
    parser_->body_limit(kMaxBodyBytes);
    parser_->header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
    // One deadline for the whole request: trickling does not move it.
    stream_.expires_after(std::chrono::seconds(kRequestSeconds));
    waiting_ = true;
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHeader(ec); });
  }

  void OnHeader(beast::error_code ec) {
    waiting_ = false;
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
    const TRequest& request = parser_->get();
    const bool kept = request.keep_alive();
    TResponse response;
    try {
      response = front_.Answer(request);
    } catch (const std::exception& e) {
      // Nothing a request holds may end the service.
      front_.metrics.Error("internal");
      response = Refusal(http::status::internal_server_error, e.what());
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
    if (ec == beast::error::timeout) {
      if (parser_ && parser_->got_some()) front_.metrics.Error("timeout");
      return Close();
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
    stream_.expires_after(std::chrono::seconds(kRequestSeconds));
    http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec || !self->response_.keep_alive()) return self->Close();
      self->ReadNext();
    });
  }

  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

  THttpFront::TImpl& front_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  TResponse response_;    // kept until it is written
  bool waiting_ = false;  // for the first bytes of a request
};

std::optional<TResponse> THttpFront::TImpl::Screen(const TRequest& header) {
  auto refuse = [&](http::status status, const std::string& error, const char* kind) {
    metrics.Error(kind);
    return std::optional<TResponse>(Refusal(status, error));
  };
  // A web page the till's browser shows may send requests here: the
  // browser names the page's origin, and a name that leads here by DNS
  // alone is not one of the service's.
  const auto origin = header.find(http::field::origin);
  if (origin != header.end() && std::find(options.allowedOrigins.begin(), options.allowedOrigins.end(),
                                          origin->value()) == options.allowedOrigins.end())
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
  const std::string_view target = header.target();
  const std::string_view path = target.substr(0, target.find('?'));
  if (!options.token.empty() && path != "/health" &&
      !SameSecret(header[http::field::authorization], "Bearer " + options.token)) {
    std::optional<TResponse> refusal = refuse(http::status::unauthorized, "нужен ключ доступа службы", "unauthorized");
    refusal->set(http::field::www_authenticate, "Bearer");
    return refusal;
  }
  const bool post = header.method() == http::verb::post;
  if (path == "/calc") {
    if (!post) return refuse(http::status::method_not_allowed, "продажа передаётся методом POST", "bad_request");
    const std::string type = Lower(std::string(header[http::field::content_type]));
    const std::string media = type.substr(0, type.find(';'));
    if (media.find_first_not_of(' ') == std::string::npos ||
        media.substr(media.find_first_not_of(' '), media.find_last_not_of(' ') - media.find_first_not_of(' ') + 1) !=
            "application/json")
      return refuse(http::status::unsupported_media_type, "продажа передаётся как application/json", "bad_request");
    return std::nullopt;
  }
  if (path == "/payments" || path == "/health" || path == "/metrics") {
    if (header.method() != http::verb::get)
      return refuse(http::status::method_not_allowed, "этот адрес отвечает на GET", "bad_request");
    return std::nullopt;
  }
  return refuse(http::status::not_found, "нет такого адреса", "not_found");
}

TResponse THttpFront::TImpl::Answer(const TRequest& request) {
  const std::string_view target = request.target();
  const std::string_view path = target.substr(0, target.find('?'));
  if (path == "/calc") {
    const std::string_view query = target.size() > path.size() ? target.substr(path.size() + 1) : "";
    bool explain = false;
    for (std::size_t at = 0; at <= query.size();) {
      const std::size_t end = std::min(query.find('&', at), query.size());
      if (query.substr(at, end - at) == "explain=1") explain = true;
      at = end + 1;
    }
    return Calc(request, explain);
  }
  if (path == "/payments") return Payments();
  if (path == "/health") return Health();
  TResponse response{http::status::ok, 11};
  response.set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
  response.body() = metrics.Text(service.Health(), journal ? std::optional(journal->Health()) : std::nullopt);
  return response;
}

TResponse THttpFront::TImpl::Calc(const TRequest& request, bool explain) {
  const auto started = std::chrono::steady_clock::now();
  TSale sale;
  nlohmann::json saleJson;
  try {
    sale = ParseSale(request.body());
    // The text is known to nest shallowly: ParseSale refused it otherwise.
    if (journal) saleJson = nlohmann::json::parse(request.body());
  } catch (const ESaleFormat& e) {
    metrics.Error("bad_request");
    return Refusal(http::status::bad_request, e.Message());
  }
  // The moment the sale is computed at is fixed here, so that the journal
  // holds it and a replay computes the same sale.
  if (!sale.moment) sale.moment = Now();
  TTillService::TCalcReply reply;
  try {
    reply = service.Calc(sale, explain);
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
  metrics.SaleComputed(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  nlohmann::json body = {{"sum", reply.answer.sum},
                         {"discount_percent", reply.answer.discountPercent},
                         {"sale_bans", reply.answer.saleBans},
                         {"settings_version", reply.version}};
  if (explain) body["explain"] = reply.answer.explanation;
  if (!reply.answer.warning.empty()) body["warning"] = reply.answer.warning;
  if (journal) {
    const nlohmann::json entry = {{"sale", std::move(saleJson)},
                                  {"moment", MomentText(*sale.moment)},
                                  {"answer", body},
                                  {"settings_version", reply.version},
                                  {"at", UtcText(TWallClock::now())}};
    if (!journal->Append(entry)) metrics.Error("journal");
  }
  return Reply(http::status::ok, body);
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

TResponse THttpFront::TImpl::Health() {
  const TServiceHealth h = service.Health();
  const bool slowLoad = h.loadingSince && TWallClock::now() - *h.loadingSince >= kSlowLoad;
  bool ok = h.reachable && h.lastReloadError.empty() && !slowLoad && !h.unusable;
  nlohmann::json body = {{"settings_version", h.version},
                         {"loaded_at", UtcText(h.loadedAt)},
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
    if (connections >= kMaxConnections) {
      metrics.Error("too_many_connections");
      beast::error_code ignored;
      socket.close(ignored);
    } else {
      std::make_shared<TSession>(*this, std::move(socket))->Start();
    }
    Accept();
  });
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
    : impl_(std::make_unique<TImpl>(service, metrics, journal, std::move(options))) {}

THttpFront::~THttpFront() = default;

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
  impl_->Accept();
  std::vector<std::thread> more;
  for (int i = 1; i < kHttpThreads; ++i) more.emplace_back([this] { impl_->io.run(); });
  impl_->io.run();
  for (std::thread& t : more) t.join();
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
