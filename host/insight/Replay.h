// What a change of the settings would have done to past sales: every sale
// of the till service's journals computed under the settings in use and
// under proposed ones, each at the sale's own moment (time-of-day discounts
// and sale bans follow that moment, not today's clock), with the totals, the
// sales whose result changes and what each card won under each.
//
// The journals are read as a stream by one thread and their lines computed
// by several, in batches: what the replay holds does not grow with their
// size (a bounded number of lines in flight; per card, hour and journal
// tallies), and the report is the same, to the kopeck and in its order,
// whatever the number of threads. The settings are only read by the
// calculation, so all threads share them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/journal/JournalReader.h"
#include "host/session/InProcessCalculation.h"
#include "host/session/SaleJson.h"

namespace selvo::host {

// One journaled sale, with the moment it was computed at, and its place.
struct TJournaledSale {
  TSale sale;
  std::size_t file = 0;  // its journal's place among those read, from 0
  std::int64_t line = 0;
  std::string saleId;  // empty on lines written before sales had one
};

// The largest sum of a sale the replay takes, in roubles: its kopecks, and
// the sums of millions of such sales, stay exact whole numbers.
inline constexpr double kMaxReplayedSaleSum = 1e9;

// The sale of a journal entry, to be computed at the moment the service
// computed it at (also for a sale sent without one, and whatever moment the
// sale itself names); nullopt with the reason when the entry holds no sale
// that reads or no valid moment.
std::optional<TSale> EntrySaleAtItsMoment(const nlohmann::json& entry, std::string& reason);

// Reads the journal files in order, each sale to onSale and each line that
// holds none to onSkipped: a line the journal reader skips, an entry with no
// sale or no valid moment (a sale is never computed at another moment than
// its own), a sale that does not read or whose sum is not a number up to
// kMaxReplayedSaleSum. Exception naming a file that cannot be read.
void ReadJournaledSales(const std::vector<std::string>& files, const std::function<void(TJournaledSale&)>& onSale,
                        const TSkippedLineFunc& onSkipped);

// Sums are kept in kopecks, whole numbers, so that totals over many sales
// are exact.
// What one card did over the sales under one side's settings.
struct TCardTally {
  std::string name;
  std::int64_t wins = 0;      // sales whose chosen variant it gave
  std::int64_t discount = 0;  // what it took off in them
};

struct TReplaySide {
  // Of the sales the till could make: what they cost and what they took off.
  std::int64_t toPay = 0;
  std::int64_t discount = 0;
  std::map<std::int32_t, TCardTally> cards;       // by card identifier
  std::array<std::int64_t, 24> discountByHour{};  // by the hour of the sale's moment
  // The sales a sale ban refuses (the till does not sell them, so what the
  // ban "takes off" is no discount), and their sums before any discount.
  std::int64_t refused = 0;
  std::int64_t refusedSum = 0;
};

struct TReplayChange {
  std::size_t file = 0;  // where the sale stands
  std::int64_t line = 0;
  std::int64_t current = 0;  // to pay under each (0 when refused)
  std::int64_t proposed = 0;
  bool currentRefused = false;
  bool proposedRefused = false;
};

// One journal's part of the totals: the journal stands for the till that
// wrote it (a journal line does not name its till; each service writes a
// journal of its own).
struct TTillSide {
  std::int64_t toPay = 0;
  std::int64_t discount = 0;
  std::int64_t refused = 0;
  std::int64_t refusedSum = 0;
};
struct TTillReport {
  std::string journal;  // as named
  std::int64_t read = 0;
  std::int64_t skipped = 0;
  std::int64_t changed = 0;
  TTillSide current, proposed;
  std::int64_t Computed() const { return read - skipped; }
};

struct TReplayReport {
  std::int64_t read = 0;     // lines read, blank ones not counted
  std::int64_t skipped = 0;  // of them: no sale, or one not computed on both sides
  // The first kListedSkippedLines skipped lines, with the reason; the rest
  // are only counted.
  std::vector<TSkippedLine> skippedLines;
  TReplaySide current, proposed;
  std::int64_t changed = 0;
  std::vector<TReplayChange> largest;  // the largest changes, at most kLargestChanges
  std::vector<TTillReport> tills;      // one a journal, in the order named
  std::int64_t Computed() const { return read - skipped; }
};
inline constexpr std::size_t kLargestChanges = 10;
inline constexpr std::size_t kListedSkippedLines = 100;

// The cards whose discount the calculation chose for a sale, with what each
// took off: the receipt card or the group card when their variant won, or
// the cards of the lines when the line by line variant did (none when the
// payment type's own discount won).
std::vector<std::pair<TCalcTrace::TCardRef, double>> ChosenCards(const TCalcTrace& trace);

// Replays the journals' sales under both settings. A sale is counted on both
// sides or on neither: one whose payment type either side cannot take
// (missing, switched off, several of the name) is skipped with the reason.
// Exception naming a journal that cannot be read. `threads` compute the
// sales (0: as many as the machine has cores); one computes them in the
// calling thread.
TReplayReport Replay(const TCalcSettings& current, const TCalcSettings& proposed,
                     const std::vector<std::string>& journals, unsigned threads = 0);

// The threads a replay uses by default: the machine's cores.
unsigned ReplayThreadsByDefault();
// The most threads a replay is given.
inline constexpr unsigned kMaxReplayThreads = 256;
// The most journals one replay reads (a folder's files counted too).
inline constexpr std::size_t kMaxReplayJournals = 10000;

}  // namespace selvo::host
