// What keeping the settings' history costs the shop, in one run of this
// program:
// - a save of a one-card change (the editor's: the data module's
//   Transaction START, ApplyUpdates of the datasets, COMMIT, writing its
//   version) beside the same save on a shop that keeps no history (the
//   connection's own Begin and Commit around the same ApplyUpdates), on an
//   SQLite file and on a PostgreSQL server;
// - the bytes the history tables grow by per version of such saves, whole
//   copies every kCopyEvery versions included;
// - on a shop of 10,000 such saves, what a service or a calculation reads
//   (the data module and its calculation settings) of version 1 and of the
//   version before a copy (the most changes to apply), beside the current
//   settings, and the file's size.
// Saves wait for the disk or the server, so their times are real times. The
// shops and the PostgreSQL server (one of the run's own, tests/pg/pg_server.sh)
// are made when a benchmark first needs them and kept until the program ends.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/BenchPrepared.h"
#include "discounts/SelvoDiscountItemsU.h"
#include "host/session/InProcessCalculation.h"
#include "host/shopdb/SampleShop.h"
#include "host/shopdb/SettingsAtVersion.h"
#include "host/shopdb/SettingsHistory.h"
#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/ShopValueConversion.h"
#include "platform/TextCodec.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/TestSupport.h"

namespace {

using namespace selvo;
using namespace selvo::host;

enum class TDb { File, Server };

constexpr int kSizeSaves = 1000;       // saves whose growth gives the bytes per version
constexpr int kLoadSaves = 10000;      // saves of the shop whose versions are loaded
constexpr std::int32_t kCard = 4;      // the card every save changes
constexpr double kSizeLimitMb = 50.0;  // what the 10,000 versions must fit in

const test::TempDir& RunFolder() {
  static const test::TempDir folder;
  return folder;
}

// Selvo.ini of the calculation settings lands in its own folder (WINDIR).
const test::ModuleScope& Module() {
  static const test::ModuleScope scope;
  return scope;
}

test::TPrivatePgServer& PgServer() {
  static test::TPrivatePgServer server;
  return server;
}

// Removes the history's triggers, functions and tables from a sample shop,
// leaving the shop's rows as they are: a shop as it was before the history.
void DropHistory(const std::string& address) {
  auto c = OpenShopConnection(address);
  c->Begin();
  if (c->IsServer()) {
    // A trigger goes with its function.
    for (const std::string& table : ShopTableNames())
      c->Execute("DROP FUNCTION IF EXISTS selvo_settings_history_" + LowerCase(table) + "() CASCADE");
    c->Execute("DROP FUNCTION IF EXISTS selvo_settings_version() CASCADE");
  } else {
    std::vector<std::string> triggers;
    c->Query("SELECT name FROM sqlite_master WHERE type = 'trigger'", {},
             [&](std::vector<TVariant>& v) { triggers.push_back(std::get<std::string>(v[0])); });
    for (const std::string& trigger : triggers) c->Execute("DROP TRIGGER " + QuoteIdentifier(trigger));
  }
  for (const std::string& table : SettingsHistoryTables()) c->Execute("DROP TABLE " + c->Identifier(table));
  c->Commit();
  if (HasSettingsHistory(*c)) throw std::runtime_error("the history is still there");
}

// A new sample shop called `name`: a file in the run's folder, or a database
// of that name on the run's server; with its history or without.
std::string NewSampleShop(TDb db, const std::string& name, bool history) {
  std::string address = RunFolder().file(name + ".db");
  if (db == TDb::Server) {
    test::PgExec(PgServer().ConnInfo(), "CREATE DATABASE " + name);
    address = test::PgWithConnOption(PgServer().ConnInfo(), "dbname", name);
  }
  CreateSampleShop(address, false);
  if (!history) DropHistory(address);
  return address;
}

// The editor's side of a one-card change: the shop's data module with
// card kCard's thresholds changed, each time to a list it did not hold.
class TCardEditor {
 public:
  explicit TCardEditor(const std::string& address) : dm(address) {}

  void ChangeCard() {
    TShopDataSet& cards = dm.DataSet("SelvoDiscountDS");
    if (!cards.Locate("td_ID", {TVariant(std::int64_t{kCard})}, loNone))
      throw std::runtime_error("card " + std::to_string(kCard) + " is not loaded");
    cards.Edit();
    cards.FieldByName("td_Threshold").SetAsString(std::to_string(300 + ++changes_ % 1000) + "=5%;");
    cards.Post();
  }

  void ApplyUpdates() {
    for (TShopDataSet* dataSet : dm.DataSets())
      if (dataSet->ApplyUpdates(0) != 0) throw std::runtime_error(dataSet->Name() + " refused the change");
  }

  // The save as the editor makes it: it writes a version.
  void SaveWithVersion() {
    ChangeCard();
    if (!dm.Transaction("START")) throw std::runtime_error("START refused");
    ApplyUpdates();
    if (!dm.Transaction("COMMIT")) throw std::runtime_error("COMMIT refused");
  }

  // The same rows written in the connection's own transaction, nothing else.
  void SaveWithout() {
    ChangeCard();
    dm.Connection().Begin();
    ApplyUpdates();
    dm.Connection().Commit();
    dm.NotifyTransactionEnd(true);
  }

  TShopDataModule dm;

 private:
  int changes_ = 0;
};

// ---------------------------------------------------------------------------
// A save with its version beside the same save without

// The editor of each shop of the saves, called by its use and database.
TCardEditor& SaveShop(TDb db, const std::string& use, bool history) {
  static std::map<std::string, std::unique_ptr<TCardEditor>> editors;
  const std::string name = use + (db == TDb::Server ? "_server" : "_file");
  std::unique_ptr<TCardEditor>& editor = editors[name];
  if (!editor) editor = std::make_unique<TCardEditor>(NewSampleShop(db, name, history));
  return *editor;
}

std::int64_t NewestVersion(TCardEditor& editor) { return NewestSettingsVersion(editor.dm.Connection()).number; }

void BM_Save(benchmark::State& state, TDb db, bool history) {
  TCardEditor* editor = nullptr;
  if (!Prepared(state, [&] { editor = &SaveShop(db, history ? "save_history" : "save_bare", history); })) return;
  const std::int64_t firstVersion = NewestVersion(*editor);
  try {
    for (auto _ : state) {
      if (history)
        editor->SaveWithVersion();
      else
        editor->SaveWithout();
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  // Every save with its version wrote one; the others none.
  const std::int64_t written = NewestVersion(*editor) - firstVersion;
  if (written != (history ? static_cast<std::int64_t>(state.iterations()) : 0))
    state.SkipWithError(("the saves wrote " + std::to_string(written) + " versions").c_str());
}
// clang-format off
BENCHMARK_CAPTURE(BM_Save, File/WithVersion, TDb::File, true)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Save, File/Without, TDb::File, false)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Save, Server/WithVersion, TDb::Server, true)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Save, Server/Without, TDb::Server, false)->UseRealTime()->Unit(benchmark::kMillisecond);
// clang-format on

// Where a save's time goes: the steps of Transaction START and COMMIT made
// one by one through the same functions (less the moving of identifiers
// another computer took, which an edited row never needs), each step's mean
// real time a counter, in microseconds per save; the finish of a version
// that wrote a whole copy apart. Without the history, only the connection's
// Begin, the ApplyUpdates and the Commit.
void BM_SaveParts(benchmark::State& state, TDb db, bool history) {
  TCardEditor* editor = nullptr;
  if (!Prepared(state, [&] { editor = &SaveShop(db, history ? "parts_history" : "parts_bare", history); })) return;
  using Clock = std::chrono::steady_clock;
  enum { kBegin, kEnsure, kOpenVersion, kApply, kFinish, kFinishWithCopy, kCommit, kParts };
  static const char* names[kParts] = {"begin_us",  "ensure_history_us",   "open_version_us", "apply_us",
                                      "finish_us", "finish_with_copy_us", "commit_us"};
  double spent[kParts] = {};
  std::int64_t copies = 0;
  TShopConnection& c = editor->dm.Connection();
  try {
    for (auto _ : state) {
      editor->ChangeCard();
      auto at = Clock::now();
      const auto step = [&](int part) {
        const auto now = Clock::now();
        spent[part] += std::chrono::duration<double, std::micro>(now - at).count();
        at = now;
      };
      c.Begin();
      step(kBegin);
      TSettingsVersion version;
      if (history) {
        EnsureSettingsHistory(c);
        step(kEnsure);
        version = BeginSettingsVersion(c, kOriginEditor);
        step(kOpenVersion);
      }
      editor->ApplyUpdates();
      step(kApply);
      if (history) {
        if (FinishSettingsVersion(c, version) != version.number)
          throw std::runtime_error("the version changed nothing");
        const double finishing = std::chrono::duration<double, std::micro>(Clock::now() - at).count();
        const bool copied =
            LinkKey(c.QueryValue("SELECT COUNT(*) FROM " + c.Identifier("SettingsCopy") + " WHERE version = $1",
                                 {TVariant(version.number)}))
                .value_or(0) > 0;
        copies += copied;
        spent[copied ? kFinishWithCopy : kFinish] += finishing;
        at = Clock::now();  // the query above is not the save's
        c.AnnounceSave(version.number);
      }
      c.Commit();
      step(kCommit);
      editor->dm.NotifyTransactionEnd(true);
    }
  } catch (const std::exception& e) {
    c.RollbackIfOpen();
    state.SkipWithError(e.what());
    return;
  }
  const auto saves = static_cast<double>(state.iterations());
  for (int part = 0; part < kParts; ++part) {
    if (!history && part != kBegin && part != kApply && part != kCommit) continue;
    const double count = part == kFinish           ? saves - static_cast<double>(copies)
                         : part == kFinishWithCopy ? static_cast<double>(copies)
                                                   : saves;
    state.counters[names[part]] = count > 0 ? spent[part] / count : 0;
  }
  if (history) state.counters["copies"] = static_cast<double>(copies);
}
// clang-format off
BENCHMARK_CAPTURE(BM_SaveParts, File/WithVersion, TDb::File, true)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveParts, File/Without, TDb::File, false)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveParts, Server/WithVersion, TDb::Server, true)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveParts, Server/Without, TDb::Server, false)->UseRealTime()->Unit(benchmark::kMillisecond);
// clang-format on

// ---------------------------------------------------------------------------
// Bytes stored per version

// A whole number a query answered; raises when it answered none.
double Number(const TVariant& value) {
  const std::optional<std::int64_t> number = LinkKey(value);
  if (!number) throw std::runtime_error("the database answered no number");
  return static_cast<double>(*number);
}

// The bytes of the history's tables and their indexes. A file: their pages
// as SQLite's page statistics count them, or, without those, the file's
// pages in use. A server: their relations with indexes and long values.
double HistoryBytes(TShopConnection& c, bool& pageStatistics) {
  pageStatistics = !c.IsServer();
  if (c.IsServer()) {
    std::string sum = "SELECT 0";
    for (const std::string& table : SettingsHistoryTables())
      sum += " + pg_total_relation_size('" + LowerCase(table) + "'::regclass)";
    return Number(c.QueryValue(sum));
  }
  try {
    std::string names;
    for (const std::string& table : SettingsHistoryTables()) names += (names.empty() ? "'" : ", '") + table + "'";
    return Number(c.QueryValue(
        "SELECT SUM(pgsize) FROM dbstat WHERE name IN (SELECT name FROM sqlite_master WHERE tbl_name IN (" + names +
        "))"));
  } catch (const EDatabaseError&) {
    pageStatistics = false;
    const auto pragma = [&](const char* name) { return Number(c.QueryValue(std::string("PRAGMA ") + name)); };
    return (pragma("page_count") - pragma("freelist_count")) * pragma("page_size");
  }
}

void BM_BytesPerVersion(benchmark::State& state, TDb db) {
  std::string address;
  if (!Prepared(state, [&] { address = NewSampleShop(db, db == TDb::File ? "bytes_file" : "bytes_server", true); }))
    return;
  double grown = 0;
  std::int64_t versions = 0;
  bool pageStatistics = false;
  try {
    for (auto _ : state) {
      auto measure = OpenShopConnection(address);
      const double before = HistoryBytes(*measure, pageStatistics);
      TCardEditor editor(address);
      const std::int64_t first = editor.dm.Version().number;
      for (int i = 0; i < kSizeSaves; ++i) editor.SaveWithVersion();
      versions = editor.dm.Version().number - first;
      grown = HistoryBytes(*measure, pageStatistics) - before;
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  if (versions != kSizeSaves) state.SkipWithError("a save wrote no version");
  state.counters["versions"] = static_cast<double>(versions);
  state.counters["bytes_per_version"] = grown / static_cast<double>(versions);
  if (db == TDb::File) state.counters["page_statistics"] = pageStatistics;
}
BENCHMARK_CAPTURE(BM_BytesPerVersion, File, TDb::File)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BytesPerVersion, Server, TDb::Server)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Loading a version of a long history

// The sample shop with kLoadSaves one-card saves, each the editor's save of
// its own version. The file is not synchronised to the disk meanwhile (the
// connection's own setting, which changes nothing of what is stored), or
// making it would take minutes.
struct TLongHistory {
  TLongHistory() : address(NewSampleShop(TDb::File, "long_history", true)) {
    TCardEditor editor(address);
    editor.dm.Connection().Execute("PRAGMA synchronous = OFF");
    for (int i = 0; i < kLoadSaves; ++i) editor.SaveWithVersion();
    newest = editor.dm.Version().number;
    auto c = OpenShopConnection(address);
    const std::int64_t lastCopy = LinkKey(c->QueryValue("SELECT MAX(version) FROM SettingsCopy")).value_or(0);
    beforeACopy = lastCopy - 1;  // loaded from the copy before it and kCopyEvery - 1 versions of changes
    fileMb = static_cast<double>(std::filesystem::file_size(address)) / (1024.0 * 1024.0);
  }
  std::string address;
  std::int64_t newest = 0;
  std::int64_t beforeACopy = 0;
  double fileMb = 0;
};

const TLongHistory& LongHistory() {
  static const TLongHistory shop;
  return shop;
}

// The sample shop without its history: what the current settings' load cost
// before the history (a new connection reads the triggers with the schema).
const std::string& ShopWithoutHistory() {
  static const std::string address = NewSampleShop(TDb::File, "load_bare", false);
  return address;
}

void BM_LoadCurrentWithoutHistory(benchmark::State& state) {
  const std::string* address = nullptr;
  if (!Prepared(state, [&] {
        Module();
        address = &ShopWithoutHistory();
      }))
    return;
  std::size_t cards = 0;
  try {
    for (auto _ : state) {
      TShopDataModule dm(*address);
      cards = static_cast<std::size_t>(LoadCalcSettings(dm).snapshot.Cards().Count());
      benchmark::DoNotOptimize(cards);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  if (cards == 0) state.SkipWithError("no cards were loaded");
}

void BM_LoadSettings(benchmark::State& state, bool past, bool beforeACopy) {
  const TLongHistory* shop = nullptr;
  if (!Prepared(state, [&] {
        Module();
        shop = &LongHistory();
      }))
    return;
  const std::int64_t version = !past ? 0 : beforeACopy ? shop->beforeACopy : 1;
  std::size_t cards = 0;
  try {
    for (auto _ : state) {
      std::unique_ptr<TShopDataModule> dm =
          past ? LoadSettingsVersion(shop->address, version) : std::make_unique<TShopDataModule>(shop->address);
      const TCalcSettings settings = LoadCalcSettings(*dm);
      cards = static_cast<std::size_t>(settings.snapshot.Cards().Count());
      benchmark::DoNotOptimize(cards);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  if (cards == 0) state.SkipWithError("no cards were loaded");
  state.counters["version"] = static_cast<double>(past ? version : shop->newest);
  state.counters["versions"] = static_cast<double>(shop->newest);
  state.counters["file_mb"] = shop->fileMb;
  state.counters["file_mb_limit"] = kSizeLimitMb;
}
BENCHMARK_CAPTURE(BM_LoadSettings, Current, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadSettings, VersionOne, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadSettings, BeforeACopy, true, true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadCurrentWithoutHistory)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
