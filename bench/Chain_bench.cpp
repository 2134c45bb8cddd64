// The chain of stations end to end, on a head office and one station, each a
// PostgreSQL server of the run's own with logical replication
// (tests/pg/pg_server.sh), the station's till service a process of its own:
// - from the editor's save at the head office to the first answer of the
//   station's running service that carries the new version, 20 saves, with
//   the head office's commits flushed before they return (the server's
//   default, which the other figures run with too) and without (as the
//   run's servers are made for the tests);
// - the station's server stopped while the head office saves 1,000 times,
//   then started: how long until its database holds the last version, and
//   until its service answers with it;
// - the bytes one one-card change costs the replication: what the
//   publication sends for it, what the station's slot decodes, and the head
//   office's WAL.
// The work is done by the servers and the service, so the times are real
// times. The chain is made when a benchmark first needs it and kept until
// the program ends; the benchmarks leave it as they found it, the station
// up and holding the head office's last version.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchPrepared.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/ShopChain.h"
#include "host/shopdb/ShopConnection.h"
#include "host/shopdb/ShopValueConversion.h"
#include "tests/common/BackOffice.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/ServiceProcess.h"
#include "tests/common/TestSupport.h"

namespace {

using namespace selvo;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t kCard = 4;       // the card every save changes
constexpr int kSaves = 20;              // saves timed to the service's answer
constexpr int kCatchUpVersions = 1000;  // saves while the station is down
constexpr int kBytesSaves = 128;        // two whole copies of the settings among them (one every 64 versions)
constexpr auto kPollEvery = std::chrono::milliseconds(1);
constexpr auto kCatchUpPollEvery = std::chrono::milliseconds(5);
constexpr auto kArrivalWait = std::chrono::seconds(30);
constexpr auto kCatchUpWait = std::chrono::seconds(300);
// The slot of this program's own at the head office, read through the same
// output plugin and publication as the station's subscription.
constexpr const char* kSentSlot = "selvo_bench_sent";
constexpr const char* kPublication = "selvo_settings";

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// One number a query at `address` answered (0 for none); a new connection.
double Number(const std::string& address, const std::string& sql) {
  const auto rows = test::PgExec(address, sql);
  return rows.empty() || rows[0].empty() || rows[0][0].empty() ? 0 : std::stod(rows[0][0]);
}

// The head office and its station, the station's service, and the editor at
// the head office (this process, its module state installed by `scope`).
struct TChain {
  TChain()
      : head(test::TPrivatePgServer::TReplication::Logical), station(test::TPrivatePgServer::TReplication::Logical) {
    host::CreateSampleShop(head.ConnInfo(), false);
    host::PublishSettings(head.ConnInfo());
    host::JoinChain({station.ConnInfo(), head.ConnInfo(), "Бенч", {}});
    office = std::make_unique<test::TBackOffice>(head.ConnInfo());
    service = std::make_unique<test::TServiceProcess>(station.ConnInfo(), scope.windowsDir().path());
    health = service->Client();
  }

  // Card kCard's thresholds changed to a list it did not hold, saved by the
  // editor; answers the version the save wrote.
  std::int64_t SaveOneCard() {
    office->SetThreshold(kCard, std::to_string(100 + ++changes % 100000) + "=5%;");
    const TSaveResult saved = office->Save();
    if (saved != TSaveResult::Saved)
      throw std::runtime_error(std::string("the save ended ") + test::SaveResultName(saved));
    return office->dm.Version().number;
  }

  std::int64_t HeadVersion() const {
    return static_cast<std::int64_t>(Number(head.ConnInfo(), "SELECT COALESCE(MAX(version), 0) FROM settingsversion"));
  }

  // The version the service answers with; none when it does not answer.
  std::optional<std::int64_t> ServiceVersion() const {
    const httplib::Result result = health->Get("/health");
    if (!result || result->status != 200) return std::nullopt;
    const auto body = nlohmann::json::parse(result->body, nullptr, false);
    if (!body.is_object() || !body.contains("settings_version")) return std::nullopt;
    return body["settings_version"].get<std::int64_t>();
  }

  test::ModuleScope scope;  // before the editor and the service: WINDIR for both
  test::TPrivatePgServer head, station;
  std::unique_ptr<test::TBackOffice> office;
  std::unique_ptr<test::TServiceProcess> service;
  std::unique_ptr<httplib::Client> health;  // kept open, as a till's
  int changes = 0;
};

TChain& Chain() {
  static TChain chain;
  return chain;
}

// The version a station's database holds, over a connection kept between
// calls and opened anew when the server dropped it; none while the server
// cannot be reached.
class TStationVersion {
 public:
  explicit TStationVersion(std::string address) : address_(std::move(address)) {}

  std::optional<std::int64_t> Read() {
    try {
      if (!connection_) connection_ = host::OpenShopConnection(address_);
      return host::LinkKey(connection_->QueryValue("SELECT COALESCE(MAX(version), 0) FROM settingsversion"))
          .value_or(0);
    } catch (const std::exception&) {
      connection_.reset();
      return std::nullopt;
    }
  }

 private:
  std::string address_;
  std::unique_ptr<host::TShopConnection> connection_;
};

// Polls `seen` every `every` until it holds: the moment it first did, or
// none after `wait`.
std::optional<Clock::time_point> FirstSeen(const std::function<bool()>& seen, Clock::duration every,
                                           Clock::duration wait) {
  const auto deadline = Clock::now() + wait;
  while (Clock::now() < deadline) {
    if (seen()) return Clock::now();
    std::this_thread::sleep_for(every);
  }
  return std::nullopt;
}

// Nothing of an earlier save still on its way: the station and its service
// hold the head office's last version.
void AwaitQuiet(TChain& chain) {
  const std::int64_t last = chain.HeadVersion();
  TStationVersion held(chain.station.ConnInfo());
  if (!FirstSeen([&] { return held.Read() == last && chain.ServiceVersion() == last; }, kCatchUpPollEvery,
                 kCatchUpWait))
    throw std::runtime_error("the station does not reach version " + std::to_string(last));
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The nearest-rank percentile: with fewer than 100 values the 99th is the
// largest.
double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
  return values[std::max<std::size_t>(rank, 1) - 1];
}

double Mean(const std::vector<double>& values) {
  double sum = 0;
  for (double v : values) sum += v;
  return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

// The head office's synchronous_commit: on (the server's default, a commit
// flushed to the WAL before it returns) or off (as the run's servers are
// made, the WAL writer flushing it within wal_writer_delay). A walsender
// sends only flushed WAL, so off holds every save back until that flush.
// Every session takes the change at its next statement.
void SetHeadCommit(TChain& chain, bool flushed) {
  test::PgExec(chain.head.ConnInfo(), std::string("ALTER SYSTEM SET synchronous_commit = ") + (flushed ? "on" : "off"));
  test::PgExec(chain.head.ConnInfo(), "SELECT pg_reload_conf()");
}

// ---------------------------------------------------------------------------
// From a save at the head office to the station's answer

// Every save: from the editor's Save returning Saved (its commit a moment
// before), the station's database and its service are polled in turn
// without pause but kPollEvery between rounds, the database only until it
// holds the new version. The counters are in milliseconds over kSaves saves;
// each round's length and one /health round trip are counted too, since
// they are what the polling adds to each figure (half a round on average,
// a round at most).
void BM_SaveToStationAnswer(benchmark::State& state, bool flushedCommit) {
  TChain* chain = nullptr;
  if (!Prepared(state, [&] {
        chain = &Chain();
        SetHeadCommit(*chain, flushedCommit);
        AwaitQuiet(*chain);
      }))
    return;
  TStationVersion held(chain->station.ConnInfo());
  std::vector<double> toService, toDatabase, rounds, healthTrips;
  try {
    for (auto _ : state) {
      for (int save = 0; save < kSaves; ++save) {
        const std::int64_t version = chain->SaveOneCard();
        const auto committed = Clock::now();
        std::optional<Clock::time_point> inDatabase, answered;
        while (!answered && Clock::now() - committed < kArrivalWait) {
          const auto round = Clock::now();
          if (!inDatabase && held.Read() >= version) inDatabase = Clock::now();
          const auto asked = Clock::now();
          const std::optional<std::int64_t> answer = chain->ServiceVersion();
          healthTrips.push_back(Seconds(Clock::now() - asked));
          if (answer >= version) answered = Clock::now();
          if (!answered) std::this_thread::sleep_for(kPollEvery);
          rounds.push_back(Seconds(Clock::now() - round));
        }
        if (!answered)
          throw std::runtime_error("the service did not answer with version " + std::to_string(version) + " in " +
                                   std::to_string(kArrivalWait.count()) + " s");
        toService.push_back(Seconds(*answered - committed));
        toDatabase.push_back(Seconds(inDatabase.value_or(*answered) - committed));
      }
      state.SetIterationTime(Mean(toService) * kSaves);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  state.counters["saves"] = kSaves;
  state.counters["service_median_ms"] = Median(toService) * 1e3;
  state.counters["service_p99_ms"] = Percentile(toService, 0.99) * 1e3;
  state.counters["database_median_ms"] = Median(toDatabase) * 1e3;
  state.counters["database_p99_ms"] = Percentile(toDatabase, 0.99) * 1e3;
  state.counters["poll_round_ms"] = Mean(rounds) * 1e3;
  state.counters["health_trip_ms"] = Mean(healthTrips) * 1e3;
}
BENCHMARK_CAPTURE(BM_SaveToStationAnswer, FlushedCommit, true)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveToStationAnswer, UnflushedCommit, false)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Bytes the replication costs per one-card change

// The station's slot at the head office (there is one station).
std::string StationSlot(const std::string& head) {
  const auto rows = test::PgExec(head,
                                 "SELECT slot_name FROM pg_replication_slots WHERE slot_name LIKE "
                                 "'selvo\\_settings\\_%' ORDER BY slot_name");
  if (rows.size() != 1) throw std::runtime_error(std::to_string(rows.size()) + " station slots at the head office");
  return rows[0][0];
}

// The bytes the station's slot decoded so far (its walsender's figure in
// the server's statistics).
double DecodedBytes(const std::string& head, const std::string& slot) {
  return Number(head, "SELECT total_bytes FROM pg_stat_replication_slots WHERE slot_name = '" + slot + "'");
}

// kSentSlot for the time of one measurement.
struct TSentSlot {
  explicit TSentSlot(std::string head) : head_(std::move(head)) {
    test::PgExec(head_, std::string("SELECT pg_create_logical_replication_slot('") + kSentSlot + "', 'pgoutput')");
  }
  ~TSentSlot() {
    try {
      test::PgExec(head_, std::string("SELECT pg_drop_replication_slot('") + kSentSlot + "')");
    } catch (const std::exception&) {
      // A slot left behind goes with the run's server.
    }
  }
  TSentSlot(const TSentSlot&) = delete;
  TSentSlot& operator=(const TSentSlot&) = delete;

 private:
  std::string head_;
};

// kBytesSaves one-card saves, every byte figure divided by them:
// - sent_bytes_per_change: the messages the publication's output plugin
//   makes of them, read from a slot of this program's own with the
//   subscription's plugin and publication (begin, relation, the rows,
//   commit; without the stream's framing of 30 bytes a message), and per
//   save its median and largest (one with a whole copy);
// - decoded_bytes_per_change: pg_stat_replication_slots.total_bytes of the
//   station's slot, what its walsender decoded from the head office's WAL
//   (every table's changes there, the station's own standing that comes
//   back to the head office included, before the publication filters them);
// - wal_bytes_per_change: the head office's WAL written meanwhile.
void BM_BytesPerChange(benchmark::State& state) {
  TChain* chain = nullptr;
  std::string slot;
  if (!Prepared(state, [&] {
        chain = &Chain();
        SetHeadCommit(*chain, true);
        AwaitQuiet(*chain);
        slot = StationSlot(chain->head.ConnInfo());
      }))
    return;
  const std::string head = chain->head.ConnInfo();
  double sent = 0, messages = 0, decoded = 0, wal = 0, transactions = 0, medianSave = 0, largestSave = 0;
  try {
    for (auto _ : state) {
      TSentSlot sentSlot(head);
      const double decodedBefore = DecodedBytes(head, slot);
      const std::string walBefore = test::PgExec(head, "SELECT pg_current_wal_lsn()")[0][0];
      std::int64_t last = 0;
      for (int i = 0; i < kBytesSaves; ++i) last = chain->SaveOneCard();
      wal = Number(head, "SELECT pg_wal_lsn_diff(pg_current_wal_lsn(), '" + walBefore + "')");
      TStationVersion held(chain->station.ConnInfo());
      if (!FirstSeen([&] { return held.Read() == last; }, kCatchUpPollEvery, kCatchUpWait))
        throw std::runtime_error("the station does not reach version " + std::to_string(last));
      // The walsender counts a transaction once it has decoded it; the
      // station holding the last one means all were.
      decoded = DecodedBytes(head, slot) - decodedBefore;
      // Read once (a read takes the messages off the slot), then summed
      // whole and per transaction: a save with a whole copy is the largest.
      const auto rows = test::PgExec(
          head, std::string("WITH m AS (SELECT xid, octet_length(data) AS bytes FROM "
                            "pg_logical_slot_get_binary_changes('") +
                    kSentSlot + "', NULL, NULL, 'proto_version', '1', 'publication_names', '" + kPublication +
                    "')), t AS (SELECT SUM(bytes) AS bytes FROM m GROUP BY xid) "
                    "SELECT (SELECT COUNT(*) FROM m), (SELECT COALESCE(SUM(bytes), 0) FROM m), "
                    "(SELECT COUNT(*) FROM t), (SELECT percentile_disc(0.5) WITHIN GROUP (ORDER BY bytes) FROM t), "
                    "(SELECT MAX(bytes) FROM t)");
      messages = std::stod(rows.at(0).at(0));
      sent = std::stod(rows.at(0).at(1));
      transactions = std::stod(rows.at(0).at(2));
      medianSave = std::stod(rows.at(0).at(3));
      largestSave = std::stod(rows.at(0).at(4));
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  state.counters["changes"] = kBytesSaves;
  state.counters["sent_bytes_per_change"] = sent / kBytesSaves;
  state.counters["sent_messages_per_change"] = messages / kBytesSaves;
  state.counters["sent_transactions"] = transactions;
  state.counters["sent_bytes_median_save"] = medianSave;
  state.counters["sent_bytes_largest_save"] = largestSave;
  state.counters["decoded_bytes_per_change"] = decoded / kBytesSaves;
  state.counters["wal_bytes_per_change"] = wal / kBytesSaves;
}
BENCHMARK(BM_BytesPerChange)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// A station catching up

// The station's server stopped at once (its service goes on with what it
// holds), kCatchUpVersions saves at the head office, the server started
// again: the counters are the seconds from the start until its database
// holds the last version (database_s, the iteration's time) and until its
// service answers with it (service_s), both polled every kCatchUpPollEvery;
// restart_s is the server's own start until it takes connections, and
// saves_s the head office's saves.
void BM_CatchUp(benchmark::State& state) {
  TChain* chain = nullptr;
  if (!Prepared(state, [&] {
        chain = &Chain();
        SetHeadCommit(*chain, true);
        AwaitQuiet(*chain);
      }))
    return;
  double restart = 0, inDatabase = 0, answered = 0, saves = 0;
  bool down = false;
  try {
    for (auto _ : state) {
      chain->station.Crash();
      down = true;
      const auto saving = Clock::now();
      std::int64_t last = 0;
      for (int i = 0; i < kCatchUpVersions; ++i) last = chain->SaveOneCard();
      saves = Seconds(Clock::now() - saving);
      const auto started = Clock::now();
      chain->station.Restart();
      down = false;
      restart = Seconds(Clock::now() - started);
      TStationVersion held(chain->station.ConnInfo());
      const auto heldAt = FirstSeen([&] { return held.Read() == last; }, kCatchUpPollEvery, kCatchUpWait);
      if (!heldAt) throw std::runtime_error("the station's database did not reach version " + std::to_string(last));
      inDatabase = Seconds(*heldAt - started);
      const auto answeredAt =
          FirstSeen([&] { return chain->ServiceVersion() == last; }, kCatchUpPollEvery, kCatchUpWait);
      if (!answeredAt)
        throw std::runtime_error("the station's service did not answer with version " + std::to_string(last));
      answered = Seconds(*answeredAt - started);
      state.SetIterationTime(inDatabase);
    }
  } catch (const std::exception& e) {
    // The station up again for whatever runs after.
    if (down) Prepared(state, [&] { chain->station.Restart(); });
    state.SkipWithError(e.what());
    return;
  }
  state.counters["versions"] = kCatchUpVersions;
  state.counters["saves_s"] = saves;
  state.counters["restart_s"] = restart;
  state.counters["database_s"] = inDatabase;
  state.counters["service_s"] = answered;
}
BENCHMARK(BM_CatchUp)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
