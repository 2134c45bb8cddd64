// A sale as the till hands it to `selvo-host calc`, in JSON:
//   {"payment": 1 | "наличные", "moment": "2026-12-08T10:30:00",
//    "lines": [{"goods": 10, "category": 3, "zprice": 60, "price": 100, "quantity": 2}]}
// "moment" is local time and may be left out (then: now).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

// A sale text that is not valid JSON, lacks a field or has a field of the
// wrong type. The message names the place ("lines[2].price: ...").
class ESaleFormat : public Exception {
  using Exception::Exception;
};

struct TSaleLine {
  std::int32_t goods = 0;
  std::int32_t category = 0;
  double zprice = 0;
  double price = 0;
  double quantity = 0;
};

struct TSale {
  // Exactly one of the two is set.
  std::optional<std::int32_t> paymentID;
  std::optional<std::string> paymentName;
  // Day-based local date-time; empty means "now".
  std::optional<double> moment;
  std::vector<TSaleLine> lines;
};

// The largest price (and purchase price) and quantity a sale line may
// carry: a line of the largest of both still holds its sum in kopecks
// exactly (below 2^53).
inline constexpr double kMaxPrice = 1e7;
inline constexpr double kMaxQuantity = 1e5;

// Refuses, by the field's name, texts with a NUL inside, identifiers that do
// not fit 32 bits, prices and quantities below 0 or above the bounds, texts
// nested deeper than kMaxJsonDepth and moments with anything more or less
// than the format.
TSale ParseSale(const std::string& jsonText);
// The same, read by this thread's fast reader when it is sure of the text
// (FastSaleReader.h): the service reads every till's sale so.
TSale ParseSaleFast(const std::string& jsonText);

// A moment as sales write it, "YYYY-MM-DDTHH:MM[:SS[.fff]]" (local time), as
// a day-based date-time; ESaleFormat naming "moment" for anything else.
double ParseMoment(const std::string& text);

// A JSON answer as one line; bytes of its texts that are not UTF-8 (a name
// stored so) are written as U+FFFD instead of failing the answer.
std::string JsonText(const nlohmann::json& document);

// How deep arrays and objects may nest in any JSON the host reads from
// outside (a sale, a journal line). A sale needs 3 levels; the bound keeps
// every parse and every dump of what was read far from the stack's end.
inline constexpr int kMaxJsonDepth = 32;

// True when no array or object in `text` nests deeper than `maxDepth`
// (strings are skipped, whatever they hold). Reads the text once, in a
// loop: it is safe on any input and is meant to run before a parse.
bool JsonDepthWithin(std::string_view text, int maxDepth = kMaxJsonDepth);

// The longest sale text `calc` takes.
inline constexpr std::size_t kMaxSaleBytes = 64u << 20;

// A piece of input fit to quote in a message: in double quotes, at most
// maxCharacters characters with "… (N bytes)" after a longer text, control
// characters, quotes, backslashes and bytes that are not UTF-8 as escapes.
std::string InputExcerpt(std::string_view text, std::size_t maxCharacters = 40);

// Stored text fit to print on a terminal: control characters other than the
// line break, and bytes that are not UTF-8, as \xNN escapes (an ESC or BEL in
// a stored name must not reach the terminal); everything else as it is.
std::string TerminalText(std::string_view text);

// The sale in the host's record form. The record owns its five sequences
// (reference-counted arrays) and releases them when it goes.
class TSaleRecord {
 public:
  TSaleRecord(const TSale& sale, std::int32_t payID, double moment);
  ~TSaleRecord();
  TSaleRecord(const TSaleRecord&) = delete;
  TSaleRecord& operator=(const TSaleRecord&) = delete;
  const TDiscountInData& data() const { return data_; }

 private:
  void Release();
  TDiscountInData data_{};
};

// A result record with its sequences released when it goes.
class TResultRecord {
 public:
  TResultRecord() = default;
  ~TResultRecord();
  TResultRecord(const TResultRecord&) = delete;
  TResultRecord& operator=(const TResultRecord&) = delete;
  TDiscountOutData* get() { return &data_; }

 private:
  TDiscountOutData data_{};
};

}  // namespace selvo::host
