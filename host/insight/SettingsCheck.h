// The check of a shop's settings that finds what the operator cannot see in
// the editor: cards that can never apply again, parts of cards that can
// never take effect, cards that another card always beats under the
// calculation's own rules, and goods that may not be sold at any hour.
//
// "Never wins" is derived from the rules of the calculation, never from
// sampling, and only where it is certain: a receipt card is reported beaten
// by an earlier receipt card of the same payment type (the calculation keeps
// the first of equal discounts) that is in effect whenever it is and gives
// at least as much at every sum. The comparison is made for cards whose
// thresholds are all percentages and that have no time discounts; other
// cards are not reported. Goods cards are never reported: the choice among
// them for a group of lines compares a card's discount with the best one
// rounded to ten-thousandths, so a later card giving a little less may win.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/session/InProcessCalculation.h"

namespace selvo::host {

enum class TFindingKind { NeverApplies, PartlyDead, NeverWins, CannotBeSold };

// The kind's name in JSON ("never_applies", ...).
const char* FindingKindName(TFindingKind kind);

struct TFinding {
  TFindingKind kind;
  std::int32_t cardID = 0;
  std::string cardName;
  std::string reason;         // for the operator, in Russian
  std::int32_t winnerID = 0;  // NeverWins: the card that wins instead
};

// Exception naming the first of the shop's six tables that the database
// lacks: without any of them a finding could be false (a card "never
// applies" because the goods table is gone) or missing.
void RequireShopTables(TShopDataModule& dataModule);

// What the check knows of the shop besides the loaded settings: its payment
// types switched on (as the module reads them: Enabled exactly 1), and the
// goods and categories it has. Exception naming the table and the column
// when one it reads is missing.
struct TShopFacts {
  std::vector<std::pair<std::int32_t, bool>> payments;  // ID, switched on
  std::vector<std::int32_t> goods;
  std::vector<std::int32_t> categories;
};
TShopFacts ReadShopFacts(TShopDataModule& dataModule);

// The findings in the order of the cards, at `moment` (day-based local time).
std::vector<TFinding> CheckSettings(const TCalcSettings& settings, const TShopFacts& shop, double moment);

}  // namespace selvo::host
