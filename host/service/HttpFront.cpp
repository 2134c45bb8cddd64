#include "host/service/HttpFront.h"

#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/Clock.h"
#include "platform/DateUtils.h"

namespace selvo::host {
namespace {

constexpr const char* kJson = "application/json; charset=utf-8";

// How long an accepted connection that has sent nothing waits in the
// kernel before it reaches a thread: idle connections hold no thread.
constexpr int kDeferAcceptSeconds = 30;
// Connections the kernel keeps waiting for the service (those that have
// not sent anything yet among them); the library itself asks for 5.
constexpr int kListenBacklog = 1024;

void Answer(httplib::Response& response, int status, const nlohmann::json& body) {
  response.status = status;
  response.set_content(JsonText(body), kJson);
}

void Refuse(httplib::Response& response, int status, const std::string& error) {
  Answer(response, status, {{"error", error}});
}

}  // namespace

std::string MomentText(double moment) {
  const TDateParts d = DecodeDate(moment);
  const TTimeParts t = DecodeTime(moment);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", d.year, d.month, d.day, t.hour, t.minute, t.second);
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

THttpFront::THttpFront(TTillService& service, TServiceMetrics& metrics, TSaleJournal* journal)
    : service_(service), metrics_(metrics), journal_(journal), server_(std::make_unique<httplib::Server>()) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kHttpThreads); };
  server_->set_socket_options([this](int sock) {
    httplib::default_socket_options(sock);
    const int defer = kDeferAcceptSeconds;
    setsockopt(sock, IPPROTO_TCP, TCP_DEFER_ACCEPT, &defer, sizeof defer);
    listener_ = sock;
  });
  // The library writes an answer's headers and its body apart: held back
  // until the till acknowledges the headers, the body would wait out the
  // till's delayed acknowledgement (40 ms a sale).
  server_->set_tcp_nodelay(true);
  server_->set_payload_max_length(kMaxBodyBytes);
  server_->set_read_timeout(kReadTimeoutSeconds, 0);
  server_->set_write_timeout(kReadTimeoutSeconds, 0);
  server_->set_keep_alive_timeout(kReadTimeoutSeconds);
  server_->set_keep_alive_max_count(kKeepAliveRequests);
  Routes();
}

THttpFront::~THttpFront() = default;

bool THttpFront::Bind(const std::string& host, int port, std::string& why) {
  port_ = port == 0 ? server_->bind_to_any_port(host.c_str()) : (server_->bind_to_port(host.c_str(), port) ? port : -1);
  // Listening again on a listening socket sets its backlog anew.
  if (port_ > 0 && listen(listener_, kListenBacklog) == 0) return true;
  why = "не удалось занять адрес " + host + ":" + std::to_string(port);
  return false;
}

void THttpFront::Run() { server_->listen_after_bind(); }
void THttpFront::Stop() { server_->stop(); }

void THttpFront::Routes() {
  server_->Post("/calc", [this](const httplib::Request& request, httplib::Response& response) {
    const auto started = std::chrono::steady_clock::now();
    TSale sale;
    try {
      sale = ParseSale(request.body);
    } catch (const ESaleFormat& e) {
      metrics_.Error("bad_request");
      return Refuse(response, 400, e.Message());
    }
    // The moment the sale is computed at is fixed here, so that the
    // journal holds it and a replay computes the same sale.
    if (!sale.moment) sale.moment = Now();
    const bool explain = request.get_param_value("explain") == "1";
    TTillService::TCalcReply reply;
    try {
      reply = service_.Calc(sale, explain);
    } catch (const ESaleFormat& e) {
      metrics_.Error("sale");
      return Refuse(response, 422, e.Message());
    } catch (const std::exception& e) {
      metrics_.Error("module");
      return Refuse(response, 500, e.what());
    }
    metrics_.SaleComputed(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    nlohmann::json body = {{"sum", reply.answer.sum},
                           {"discount_percent", reply.answer.discountPercent},
                           {"sale_bans", reply.answer.saleBans},
                           {"settings_version", reply.version}};
    if (explain) body["explain"] = reply.answer.explanation;
    if (!reply.answer.warning.empty()) body["warning"] = reply.answer.warning;
    if (journal_) {
      const nlohmann::json entry = {{"sale", nlohmann::json::parse(request.body, nullptr, false)},
                                    {"moment", MomentText(*sale.moment)},
                                    {"answer", body},
                                    {"settings_version", reply.version},
                                    {"at", UtcText(TWallClock::now())}};
      if (!journal_->Append(entry)) metrics_.Error("journal");
    }
    Answer(response, 200, body);
  });

  server_->Get("/payments", [this](const httplib::Request&, httplib::Response& response) {
    std::uint64_t version = 0;
    nlohmann::json list = nlohmann::json::array();
    try {
      for (const TServicePayment& p : service_.Payments(version))
        list.push_back({{"id", p.id},
                        {"name", p.name},
                        {"type", p.type},
                        {"check", p.check},
                        {"discount", p.discount},
                        {"enabled", p.enabled}});
    } catch (const std::exception& e) {
      metrics_.Error("module");
      return Refuse(response, 500, e.what());
    }
    Answer(response, 200, {{"payments", list}, {"settings_version", version}});
  });

  server_->Get("/health", [this](const httplib::Request&, httplib::Response& response) {
    const TServiceHealth h = service_.Health();
    const bool ok = h.reachable && h.lastReloadError.empty();
    nlohmann::json body = {{"status", ok ? "ok" : "degraded"},
                           {"settings_version", h.version},
                           {"loaded_at", UtcText(h.loadedAt)},
                           {"database", {{"reachable", h.reachable}, {"since", UtcText(h.reachableSince)}}}};
    if (!h.lastReloadError.empty()) body["last_reload_error"] = h.lastReloadError;
    Answer(response, 200, body);
  });

  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(metrics_.Text(service_.Health()), "text/plain; version=0.0.4; charset=utf-8");
  });

  // httplib's own refusals (413, 400 for a request it cannot read, 404)
  // get a JSON body too.
  server_->set_error_handler([this](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty()) return;
    metrics_.Error(response.status == 404 ? "not_found" : "bad_request");
    const char* what = response.status == 413   ? "тело запроса длиннее 256 КБ"
                       : response.status == 404 ? "нет такого адреса"
                                                : "запрос не разобран";
    Refuse(response, response.status, what);
  });
}

}  // namespace selvo::host
