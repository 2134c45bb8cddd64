// The reader of the till service's sales journals (see SaleJournal.h for
// the writer): one JSON object a line, read as a stream, so that a journal
// of any size is read in memory bounded by the longest line it accepts.
//
// Every line that holds no entry is reported with its file, its number and
// the reason, and the reading goes on: a line longer than
// kMaxJournalLineBytes, one nested deeper than kMaxJsonDepth, one that is
// not JSON or not an object. A last line without a line break is read like
// any other; only when it does not parse is it counted as torn (a write cut
// short). Blank lines are neither read nor reported.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace selvo::host {

// The longest journal line read. A line holds a sale the service took (at
// most 256 KB), its answer and the explanation when one was asked for:
// 4 MB leaves room for all of them and bounds what one line may cost.
inline constexpr std::size_t kMaxJournalLineBytes = 4u << 20;

struct TJournalLineRef {
  const std::string* file = nullptr;  // the journal, as it was named
  std::int64_t line = 0;              // from 1
};

struct TSkippedLine {
  std::string file;
  std::int64_t line = 0;
  std::string reason;  // for the operator, in Russian
  bool torn = false;   // the last line, cut short
};

// A line as it stands in the journal, before it is examined: its text (not
// held when it is longer than kMaxJournalLineBytes) and whether it is the
// last one, without a line break.
struct TJournalLine {
  std::string_view text;
  std::int64_t number = 0;  // from 1
  bool tooLong = false;
  bool last = false;
};
using TJournalLineFunc = std::function<void(const TJournalLine& line)>;

// Reads the journal `path` line by line, each line that is not blank to
// onLine in the order of the file; its text lives until onLine returns.
// Exception naming the file when it cannot be opened or read, or when it is
// a folder. Exceptions of onLine pass through.
void ReadJournalLines(const std::string& path, const TJournalLineFunc& onLine);

// The reason a line holds no entry, or an empty text when it holds one
// (then in `entry`); `torn` tells a last line cut short.
std::string ExamineJournalLine(const TJournalLine& line, nlohmann::json& entry, bool& torn);

using TJournalEntryFunc = std::function<void(const TJournalLineRef& where, nlohmann::json& entry)>;
using TSkippedLineFunc = std::function<void(TSkippedLine skipped)>;

// Reads the journal `path` line by line: each JSON object to onEntry, each
// other line that is not blank to onSkipped, in the order of the file.
// Exception naming the file when it cannot be opened or read, or when it is
// a folder. Exceptions of the callbacks pass through.
void ReadJournal(const std::string& path, const TJournalEntryFunc& onEntry, const TSkippedLineFunc& onSkipped);

// The sale identifier of an entry (see SaleId.h); empty for a line written
// before sales had one, or one whose identifier is not well-formed.
std::string EntrySaleId(const nlohmann::json& entry);

}  // namespace selvo::host
