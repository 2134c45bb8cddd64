// A sale found again from its receipt: the journal line of its sale
// identifier, the sale computed once more under the settings version the
// till used, at the moment the till computed it at, and whether the till's
// answer then and the answer now are the same.
//
// The module matches the cards' days, hours and periods at the sale's
// moment, but their time discounts and sale bans at its own clock, which
// nothing outside it sets. So the sale is computed again in this process by
// the same calculation (CalculateSaleAt), with the till's clock put back: a
// receipt asked for at another hour gets the answer of the hour it was sold.
//
// The module's calculation is deterministic: the same rows, the same sale
// and the same moment give the same numbers, and the journal holds them as
// JSON numbers that read back to the very same doubles. So "the same" here
// is exact: any difference, even below a kopeck, means the sale is not
// reproduced (other settings than recorded, a changed module), and is shown,
// never taken for the answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/session/SaleCalculation.h"
#include "host/session/SaleJson.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

// The sale cannot be shown again: its identifier is on no line, or on two,
// or its line lacks what the recomputation needs. The message says which.
class EReceiptError : public Exception {
  using Exception::Exception;
};

// The most journal files one lookup reads (a folder's files counted too).
inline constexpr std::size_t kMaxReceiptJournals = 10000;

// What the till answered, as its journal line holds it.
struct TTillAnswer {
  double sum = 0;
  double discountPercent = 0;
  std::vector<std::string> saleBans;
};

struct TJournaledReceipt {
  std::string saleId;
  std::string file;  // the journal, as named
  std::int64_t line = 0;
  TSale sale;          // with the journaled moment
  std::string moment;  // that moment as journaled
  // The till's clock when it computed the sale (see TillClock in the
  // source): the journaled moment for a sale sent without one, else the
  // line's "at" in local time, to the second.
  double tillClock = 0;
  bool saleNamedItsMoment = false;
  std::int64_t settingsVersion = 0;
  TTillAnswer answered;
};

// The journals named, a folder standing for its regular files in the order
// of their names (a service's journal and the ones moved away beside it).
// EReceiptError when a name is neither a file nor a folder, or when there
// are more than kMaxReceiptJournals files.
std::vector<std::string> ReceiptJournals(const std::vector<std::string>& named);

// Reads the journals in order for the line of `saleId` (a valid identifier)
// and reads it whole. EReceiptError when no line or two lines hold it (the
// reading stops at the second), or when that line holds no sale that reads,
// no moment, no answer of the till, no time it was written at when the sale
// named its own moment, or no settings version from 1 (a line
// written before versions were journaled, or by a service whose settings
// had no version). Exception naming a journal that cannot be read.
TJournaledReceipt FindJournaledSale(const std::vector<std::string>& journals, const std::string& saleId);

struct TReceipt {
  TJournaledReceipt journaled;
  TSaleAnswer recomputed;  // with its explanation
  bool equal = false;      // SameAnswer(journaled.answered, recomputed)
};

// Exactly the same sum, discount and banned lines, in the same order.
bool SameAnswer(const TTillAnswer& till, const TSaleAnswer& recomputed);

// Computes the journaled sale under the settings of its version in
// `database`, at its journaled moment and the till's clock, with the
// explanation. EDatabaseError when the shop has no such version; ESaleFormat
// when that version cannot take the sale's payment type.
TReceipt RecomputeReceipt(const TJournaledReceipt& journaled, const std::string& database);

}  // namespace selvo::host
