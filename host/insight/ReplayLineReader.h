// What one journal line holds for the replay: the sale at its moment, or the
// reason it holds none, in the words of the general JSON reader
// (JournalReader.h, EntrySaleAtItsMoment in Replay.h).
//
// The general reader builds a whole document of the line and reads the sale
// twice over; at a hundred thousand lines that was nearly all of a replay's
// time. A line the service wrote is read here with a fast parser instead,
// which validates the whole line as strictly (UTF-8, grammar, trailing
// text) and yields the same numbers. Whatever it is not sure of (a number
// outside the sale's bounds, a repeated key, a \u escape, a line over
// kFastLineBytes, any parse error) goes to the general reader, so every
// refusal keeps its reason word for word.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "host/journal/JournalReader.h"
#include "host/session/FastSaleReader.h"
#include "host/session/SaleJson.h"

namespace selvo::host {

// The bytes the fast parser may read past the end of a line's text: the
// caller's buffer holds them (their values do not matter).
inline constexpr std::size_t kLineReadPadding = 64;
// Longer lines are read by the general reader; the fast parser's own memory
// stays within a few times this.
inline constexpr std::size_t kFastLineBytes = kFastSaleBytes;

struct TLineSale {
  std::optional<TSale> sale;  // with the entry's moment
  std::string saleId;         // empty when the line has no well-formed one
  std::string reason;         // when there is no sale
  bool torn = false;          // the last line, cut short
};

// The line read by the general reader alone: the reference the fast one
// keeps to.
TLineSale ReadLineSaleGenerally(const TJournalLine& line);

// One per thread: the fast parser keeps its buffers from one line to the next.
class TLineSaleReader {
 public:
  TLineSaleReader();
  ~TLineSaleReader();
  TLineSaleReader(const TLineSaleReader&) = delete;
  TLineSaleReader& operator=(const TLineSaleReader&) = delete;

  // Reads the line into `out` (whose buffers are reused). line.text must be
  // followed by kLineReadPadding readable bytes.
  void Read(const TJournalLine& line, TLineSale& out);
  // How many lines went to the general reader (for the benchmarks).
  std::size_t GeneralReads() const { return generalReads_; }

 private:
  struct TParser;
  std::unique_ptr<TParser> parser_;
  std::size_t generalReads_ = 0;
};

}  // namespace selvo::host
