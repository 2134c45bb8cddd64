// What a change of the settings would have done to past sales: every sale
// of the till service's journals computed under the settings in use and
// under proposed ones, each at the sale's own moment (time-of-day discounts
// and sale bans follow that moment, not today's clock), with the totals, the
// sales whose result changes and what each card won under each.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/session/InProcessCalculation.h"
#include "host/session/SaleJson.h"

namespace selvo::host {

// The journaled sales, each with the moment it was computed at.
struct TJournaledSales {
  std::vector<TSale> sales;
  int read = 0;     // entries read from the files
  int skipped = 0;  // lines that are no sale: torn, bad JSON, not a sale
};
// Reads journal files in order; Exception naming a file that cannot be read.
TJournaledSales ReadJournaledSales(const std::vector<std::string>& files);

// Sums are kept in kopecks, whole numbers, so that totals over many sales
// are exact.
// What one card did over the sales under one side's settings.
struct TCardTally {
  std::string name;
  int wins = 0;               // sales whose chosen variant it gave
  std::int64_t discount = 0;  // what it took off in them
};

struct TReplaySide {
  std::int64_t toPay = 0;
  std::int64_t discount = 0;
  std::map<std::int32_t, TCardTally> cards;       // by card identifier
  std::array<std::int64_t, 24> discountByHour{};  // by the hour of the sale's moment
};

struct TReplayChange {
  std::size_t sale = 0;      // its place among the sales, from 0
  std::int64_t current = 0;  // to pay under each
  std::int64_t proposed = 0;
};

struct TReplayReport {
  int read = 0;
  int skipped = 0;  // also sales that name a payment type a shop lacks
  TReplaySide current, proposed;
  int changed = 0;
  std::vector<TReplayChange> largest;  // the largest changes, at most kLargestChanges
};
inline constexpr std::size_t kLargestChanges = 10;

// The cards whose discount the calculation chose for a sale, with what each
// took off: the receipt card or the group card when their variant won, or
// the cards of the lines when the line by line variant did (none when the
// payment type's own discount won).
std::vector<std::pair<TCalcTrace::TCardRef, double>> ChosenCards(const TCalcTrace& trace);

TReplayReport Replay(const TCalcSettings& current, const TCalcSettings& proposed, const TJournaledSales& sales);

}  // namespace selvo::host
