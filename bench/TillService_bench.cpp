// The till service (`selvo-host serve`) as the tills see it, each figure
// beside what it is compared with, in one run of this program:
// - the sample sale's round trip to a running service over a kept-open
//   connection, beside its floor (the same HTTP library answering a fixed
//   body of the answer's size from a route in this process) and beside a
//   `selvo-host calc --json` process started per sale;
// - the sales per second of one service to sixteen tills at once, beside the
//   same library answering them the fixed body;
// - with SELVO_BENCH_OTHER_HOST naming another build of selvo-host, both
//   figures of that build too, in the same run (before and after a change);
// - four services with a till each, on one PostgreSQL server and on one
//   SQLite file: the sales per second of the four together;
// - from the editor's commit to the first answer computed with the new
//   settings, on both databases.
// The work is done in other processes and threads, so the times are real
// times. The services, shops and the PostgreSQL server (one of the run's
// own, tests/pg/pg_server.sh) are made when a benchmark first needs them and
// kept until the program ends.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <libpq-fe.h>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <latch>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchPrepared.h"
#include "host/service/HttpFront.h"
#include "host/shopdb/SampleShop.h"
#include "tests/common/BackOffice.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/ServiceProcess.h"
#include "tests/common/ShopDatabases.h"
#include "tests/common/TestSupport.h"

namespace {

using namespace selvo;
using test::TShopDbKind;
using Clock = std::chrono::steady_clock;

constexpr int kTills = 4;
constexpr int kSalesPerTill = 100;  // per till and database in one iteration of BM_FourTills
constexpr int kBusyTills = 16;      // connections to one service in BM_SixteenTills
constexpr int kSalesPerBusyTill = 100;
constexpr int kSaves = 20;  // per repetition of BM_SaveToNewSettings
constexpr auto kNewSettingsWait = std::chrono::seconds(20);

// The run's files: the SQLite shops and the sale file of `calc`.
const test::TempDir& RunFolder() {
  static const test::TempDir folder;
  return folder;
}

// The services' settings folder (their WINDIR, where the module keeps
// Selvo.ini), and the `calc` processes'.
const test::TempDir& ServicesWindowsDir() {
  static const test::TempDir folder;
  return folder;
}

test::TPrivatePgServer& PgServer() {
  static test::TPrivatePgServer server;
  return server;
}

// A new sample shop called `name`: a file in the run's folder, or a
// database of that name on the run's server.
std::string NewSampleShop(TShopDbKind db, const std::string& name) {
  std::string address = RunFolder().file(name + ".db");
  if (db == TShopDbKind::Server) {
    test::PgExec(PgServer().ConnInfo(), "CREATE DATABASE " + name);
    address = test::PgWithConnOption(PgServer().ConnInfo(), "dbname", name);
  }
  host::CreateSampleShop(address, false);
  return address;
}

// Services on one sample shop, each with a till's client; `program`:
// another build of selvo-host than this one's.
struct TShopServices {
  TShopServices(TShopDbKind db, const std::string& name, int count, const std::string& program = {})
      : address(NewSampleShop(db, name)) {
    for (int i = 0; i < count; ++i) {
      services.push_back(std::make_unique<test::TServiceProcess>(address, ServicesWindowsDir().path(),
                                                                 std::vector<std::string>{}, program));
      tills.push_back(services.back()->Client());
    }
  }

  std::string address;
  std::vector<std::unique_ptr<test::TServiceProcess>> services;
  std::vector<std::unique_ptr<httplib::Client>> tills;
};

// Each figure has its shop, so that the saves of one reach no service of
// another.
TShopServices& RoundTripShop() {
  static TShopServices shop(TShopDbKind::File, "round_trip", 1);
  return shop;
}

// The build compared with this one: SELVO_BENCH_OTHER_HOST, or none.
std::string OtherHost() {
  const char* other = std::getenv("SELVO_BENCH_OTHER_HOST");
  return other ? other : "";
}

// A service of the other build on a shop of its own, made the same way.
TShopServices& OtherRoundTripShop() {
  static TShopServices shop(TShopDbKind::File, "round_trip_other", 1, OtherHost());
  return shop;
}

TShopServices& FourTillsShop(TShopDbKind db) {
  if (db == TShopDbKind::File) {
    static TShopServices file(TShopDbKind::File, "four_tills", kTills);
    return file;
  }
  static TShopServices server(TShopDbKind::Server, "four_tills", kTills);
  return server;
}

TShopServices& SavesShop(TShopDbKind db) {
  if (db == TShopDbKind::File) {
    static TShopServices file(TShopDbKind::File, "saves", 1);
    return file;
  }
  static TShopServices server(TShopDbKind::Server, "saves", 1);
  return server;
}

// The sample sale through a till's client; false unless answered with 200.
bool Sell(httplib::Client& till, std::string* body = nullptr) {
  const httplib::Result result = till.Post("/calc", test::kSampleGroupSale, "application/json");
  if (!result || result->status != 200) return false;
  if (body) *body = result->body;
  return true;
}

// The floor of a round trip: the service's HTTP library (Boost.Beast over
// Asio) answering the service's own answer to the sample sale as a fixed
// body, a thread of this process per connection, over kept-open
// connections sent without delay, as the service's connections are.
class TFixedAnswerServer {
 public:
  explicit TFixedAnswerServer(std::string body)
      : body_(std::move(body)), acceptor_(io_, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    port_ = acceptor_.local_endpoint().port();
    thread_ = std::thread([this] { Serve(); });
  }
  ~TFixedAnswerServer() {
    stopping_ = true;
    boost::system::error_code ignored;
    // Wakes the accept or the read the thread waits in.
    boost::asio::ip::tcp::socket poke(io_);
    poke.connect(acceptor_.local_endpoint(), ignored);
    poke.close(ignored);
    thread_.join();
  }
  TFixedAnswerServer(const TFixedAnswerServer&) = delete;
  TFixedAnswerServer& operator=(const TFixedAnswerServer&) = delete;

  int Port() const { return port_; }

 private:
  void Serve() {
    while (!stopping_) {
      boost::asio::ip::tcp::socket socket(io_);
      boost::system::error_code ec;
      acceptor_.accept(socket, ec);
      if (ec || stopping_) continue;
      connections_.emplace_back([this, connection = std::move(socket)]() mutable { Answer(connection); });
    }
    // A till's connection ends when its client goes: the benchmarks' clients
    // go before the server.
    for (std::thread& connection : connections_) connection.join();
  }

  void Answer(boost::asio::ip::tcp::socket& socket) {
    namespace http = boost::beast::http;
    boost::system::error_code ec;
    socket.set_option(boost::asio::ip::tcp::no_delay(true), ec);
    boost::beast::flat_buffer buffer;
    while (!stopping_) {
      http::request<http::string_body> request;
      http::read(socket, buffer, request, ec);
      if (ec) break;
      http::response<http::string_body> response{http::status::ok, 11};
      response.set(http::field::content_type, "application/json; charset=utf-8");
      response.body() = body_;
      response.keep_alive(request.keep_alive());
      response.prepare_payload();
      http::write(socket, response, ec);
      if (ec) break;
    }
  }

  const std::string body_;
  boost::asio::io_context io_;
  boost::asio::ip::tcp::acceptor acceptor_;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> connections_;  // made and joined by thread_
  std::thread thread_;
};

TFixedAnswerServer& FloorServer() {
  static TFixedAnswerServer server([] {
    std::string answer;
    if (!Sell(*RoundTripShop().tills[0], &answer)) throw std::runtime_error("the service does not answer the sale");
    return answer;
  }());
  return server;
}

const std::string& SaleFile() {
  static const std::string path = [] {
    const std::string file = RunFolder().file("sale.json");
    test::WriteFileBytes(file, test::kSampleGroupSale);
    return file;
  }();
  return path;
}

// ---------------------------------------------------------------------------
// A sale's round trip

void SellInTurn(benchmark::State& state, httplib::Client& till) {
  for (auto _ : state)
    if (!Sell(till)) {
      state.SkipWithError("the server did not answer 200");
      break;
    }
}

void BM_ServiceCalc(benchmark::State& state) {
  httplib::Client* till = nullptr;
  if (!Prepared(state, [&] { till = RoundTripShop().tills[0].get(); })) return;
  SellInTurn(state, *till);
}
BENCHMARK(BM_ServiceCalc)->UseRealTime()->MinTime(1.0)->Unit(benchmark::kMicrosecond);

void BM_HttpFloor(benchmark::State& state) {
  std::unique_ptr<httplib::Client> till;
  if (!Prepared(state, [&] { till = test::TillClient(FloorServer().Port()); })) return;
  SellInTurn(state, *till);
}
BENCHMARK(BM_HttpFloor)->UseRealTime()->MinTime(1.0)->Unit(benchmark::kMicrosecond);

void BM_CalcProcess(benchmark::State& state) {
  std::vector<std::string> command;
  if (!Prepared(state, [&] { command = {"calc", "--json", "--db", RoundTripShop().address, SaleFile()}; })) return;
  for (auto _ : state) {
    const int exitCode = test::RunHost(command, ServicesWindowsDir().path());
    if (exitCode != 0) {
      state.SkipWithError(("selvo-host calc ended with " + std::to_string(exitCode)).c_str());
      break;
    }
  }
}
BENCHMARK(BM_CalcProcess)->UseRealTime()->MinTime(1.0)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Sixteen tills on one service

// Every client sells the sample sale `salesEach` times from a thread of its
// own, all starting together; the seconds until the last is done. Sales not
// answered with 200 are added to `failures`.
double SellTogether(const std::vector<httplib::Client*>& tills, int salesEach, int& failures) {
  std::latch start(static_cast<std::ptrdiff_t>(tills.size()) + 1);
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (httplib::Client* client : tills)
    threads.emplace_back([&, client] {
      start.arrive_and_wait();
      for (int i = 0; i < salesEach; ++i)
        if (!Sell(*client)) ++failed;
    });
  start.arrive_and_wait();
  const auto started = Clock::now();
  for (std::thread& thread : threads) thread.join();
  failures += failed;
  return std::chrono::duration<double>(Clock::now() - started).count();
}

// kBusyTills connections of their own to the server on `port`, each its own
// client, selling together in every iteration; the counter sales_per_s.
void SixteenTills(benchmark::State& state, int port) {
  std::vector<std::unique_ptr<httplib::Client>> clients;
  std::vector<httplib::Client*> tills;
  for (int i = 0; i < kBusyTills; ++i) {
    clients.push_back(test::TillClient(port));
    tills.push_back(clients.back().get());
  }
  int failures = 0;
  double seconds = 0;
  for (auto _ : state) {
    const double round = SellTogether(tills, kSalesPerBusyTill, failures);
    state.SetIterationTime(round);
    seconds += round;
  }
  if (failures > 0) state.SkipWithError((std::to_string(failures) + " sales were not answered with 200").c_str());
  state.counters["sales_per_s"] =
      static_cast<double>(state.iterations()) * kBusyTills * kSalesPerBusyTill / std::max(seconds, 1e-9);
}

void BM_SixteenTills(benchmark::State& state) {
  int port = 0;
  if (!Prepared(state, [&] { port = RoundTripShop().services[0]->Port(); })) return;
  SixteenTills(state, port);
}
BENCHMARK(BM_SixteenTills)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_SixteenTillsFloor(benchmark::State& state) {
  int port = 0;
  if (!Prepared(state, [&] { port = FloorServer().Port(); })) return;
  SixteenTills(state, port);
}
BENCHMARK(BM_SixteenTillsFloor)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// The same two figures of the other build, when one is named.
void BM_ServiceCalcOther(benchmark::State& state) {
  httplib::Client* till = nullptr;
  if (OtherHost().empty()) return state.SkipWithError("SELVO_BENCH_OTHER_HOST names no other build");
  if (!Prepared(state, [&] { till = OtherRoundTripShop().tills[0].get(); })) return;
  SellInTurn(state, *till);
}
BENCHMARK(BM_ServiceCalcOther)->UseRealTime()->MinTime(1.0)->Unit(benchmark::kMicrosecond);

void BM_SixteenTillsOther(benchmark::State& state) {
  int port = 0;
  if (OtherHost().empty()) return state.SkipWithError("SELVO_BENCH_OTHER_HOST names no other build");
  if (!Prepared(state, [&] { port = OtherRoundTripShop().services[0]->Port(); })) return;
  SixteenTills(state, port);
}
BENCHMARK(BM_SixteenTillsOther)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Four tills at once

// Every till of the shop sells the sample sale kSalesPerTill times, all
// starting together; the seconds until the last is done.
double FourTillsRound(TShopServices& shop, int& failures) {
  std::vector<httplib::Client*> tills;
  for (const auto& till : shop.tills) tills.push_back(till.get());
  return SellTogether(tills, kSalesPerTill, failures);
}

// Both databases in every iteration, taking turns at going first, so that
// other work on the machine falls on both alike.
void BM_FourTills(benchmark::State& state) {
  TShopServices* server = nullptr;
  TShopServices* file = nullptr;
  if (!Prepared(state, [&] {
        server = &FourTillsShop(TShopDbKind::Server);
        file = &FourTillsShop(TShopDbKind::File);
      }))
    return;
  double serverSeconds = 0, fileSeconds = 0;
  int failures = 0;
  std::int64_t rounds = 0;
  for (auto _ : state) {
    if (rounds++ % 2 == 0) {
      serverSeconds += FourTillsRound(*server, failures);
      fileSeconds += FourTillsRound(*file, failures);
    } else {
      fileSeconds += FourTillsRound(*file, failures);
      serverSeconds += FourTillsRound(*server, failures);
    }
  }
  if (failures > 0) state.SkipWithError((std::to_string(failures) + " sales were not answered with 200").c_str());
  const double sales = static_cast<double>(rounds * kTills * kSalesPerTill);
  state.counters["server_sales_per_s"] = sales / serverSeconds;
  state.counters["file_sales_per_s"] = sales / fileSeconds;
}
BENCHMARK(BM_FourTills)->UseRealTime()->Iterations(12)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// From the editor's commit to the tills

std::uint64_t VersionOf(const std::string& answer) {
  return nlohmann::json::parse(answer)["settings_version"].get<std::uint64_t>();
}

// The q-quantile of the values, interpolated between the two nearest.
double Quantile(std::vector<double> values, double q) {
  std::sort(values.begin(), values.end());
  const double at = q * static_cast<double>(values.size() - 1);
  const std::size_t below = static_cast<std::size_t>(at);
  const std::size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (values[above] - values[below]) * (at - static_cast<double>(below));
}

// Every iteration changes card 4's percent and saves it with the editor's
// own save in this process; from Save returning Saved, the till sells the
// sample sale without pause until an answer carries a newer settings
// version. The iteration's time is that wait.
void BM_SaveToNewSettings(benchmark::State& state, TShopDbKind db) {
  test::ModuleScope scope;  // the editor's save runs in this process
  TShopServices* shop = nullptr;
  std::unique_ptr<test::TBackOffice> office;
  if (!Prepared(state, [&] {
        shop = &SavesShop(db);
        office = std::make_unique<test::TBackOffice>(shop->address);
      }))
    return;
  httplib::Client& till = *shop->tills[0];
  // Each save differs from the one before, in this repetition and the last.
  static int changes[2] = {0, 0};
  int& change = changes[db == TShopDbKind::Server];
  std::vector<double> waits;
  for (auto _ : state) {
    try {
      std::string answer;
      if (!Sell(till, &answer)) throw std::runtime_error("the service did not answer 200");
      const std::uint64_t before = VersionOf(answer);
      office->SetThreshold(4, "300=" + std::to_string(10 + ++change % 10) + "%;");
      const TSaveResult saved = office->Save();
      const auto committed = Clock::now();
      if (saved != TSaveResult::Saved)
        throw std::runtime_error(std::string("the save ended ") + test::SaveResultName(saved));
      bool seen = false;
      while (!seen && Clock::now() - committed < kNewSettingsWait)
        seen = Sell(till, &answer) && VersionOf(answer) > before;
      const double waited = std::chrono::duration<double>(Clock::now() - committed).count();
      if (!seen) throw std::runtime_error("no answer with the new settings within 20 s");
      state.SetIterationTime(waited);
      waits.push_back(waited);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  if (waits.empty()) return;
  state.counters["median_ms"] = Quantile(waits, 0.5) * 1e3;
  state.counters["p99_ms"] = Quantile(waits, 0.99) * 1e3;
}
BENCHMARK_CAPTURE(BM_SaveToNewSettings, File, TShopDbKind::File)
    ->UseManualTime()
    ->Iterations(kSaves)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveToNewSettings, Server, TShopDbKind::Server)
    ->UseManualTime()
    ->Iterations(kSaves)
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// A sale while a load of new settings waits for the database

TShopServices& HangShop() {
  static TShopServices shop(TShopDbKind::Server, "hanging_load", 1);
  return shop;
}

// Each sale's round trip in microseconds, kSalesPerRound of them.
std::vector<double> SaleTimes(httplib::Client& till, int& failures) {
  constexpr int kSalesPerRound = 2000;
  std::vector<double> micros;
  micros.reserve(kSalesPerRound);
  for (int i = 0; i < kSalesPerRound; ++i) {
    const auto asked = Clock::now();
    if (!Sell(till)) ++failures;
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - asked).count());
  }
  return micros;
}

// Every iteration sells a round at rest, then a round while another
// connection holds the cards' table locked and a save has been announced,
// so that the service's load of the new settings waits for the lock. The
// counters are the 99th percentile of each and their ratio.
void BM_SaleWhileALoadHangs(benchmark::State& state) {
  TShopServices* shop = nullptr;
  if (!Prepared(state, [&] { shop = &HangShop(); })) return;
  httplib::Client& till = *shop->tills[0];
  std::vector<double> rest, hung;
  int failures = 0;
  for (auto _ : state) {
    const std::vector<double> calm = SaleTimes(till, failures);
    rest.insert(rest.end(), calm.begin(), calm.end());
    PGconn* holder = PQconnectdb(shop->address.c_str());
    PQclear(PQexec(holder, "BEGIN; LOCK TABLE selvodiscountds IN ACCESS EXCLUSIVE MODE"));
    test::PgExec(shop->address, "NOTIFY selvo_shop_saved");
    // The notification reaches the service's listener at once; the load
    // then waits for the lock.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<double> locked = SaleTimes(till, failures);
    hung.insert(hung.end(), locked.begin(), locked.end());
    PQfinish(holder);
  }
  if (failures > 0) state.SkipWithError((std::to_string(failures) + " sales were not answered with 200").c_str());
  state.counters["rest_p99_us"] = Quantile(rest, 0.99);
  state.counters["hung_load_p99_us"] = Quantile(hung, 0.99);
  state.counters["hung_to_rest"] = Quantile(hung, 0.99) / Quantile(rest, 0.99);
}
BENCHMARK(BM_SaleWhileALoadHangs)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
