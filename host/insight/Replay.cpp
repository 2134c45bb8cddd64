#include "host/insight/Replay.h"

#include <algorithm>
#include <cmath>

#include "host/journal/SaleJournal.h"
#include "host/session/SaleCalculation.h"
#include "platform/DateUtils.h"

namespace selvo::host {
namespace {

// Money in whole kopecks, as the till rounds it.
std::int64_t Kopecks(double value) { return std::llround(value * 100); }

// The variant that gave the result, as the explanation names it: the first
// of the four whose sum is the result.
enum class TVariant { Payment, Receipt, Lines, Group };

TVariant ChosenVariant(const TCalcTrace& t) {
  if (GaveTheResult(t, t.paySum)) return TVariant::Payment;
  if (GaveTheResult(t, t.checkSum)) return TVariant::Receipt;
  if (GaveTheResult(t, t.goodsSum)) return TVariant::Lines;
  return TVariant::Group;
}

void Credit(TReplaySide& side, const TCalcTrace::TCardRef& card, std::int64_t discount) {
  TCardTally& tally = side.cards[card.id];
  tally.name = card.name;
  ++tally.wins;
  tally.discount += discount;
}

// One sale under one side's settings; false when the shop lacks its payment
// type.
bool Compute(const TCalcSettings& settings, const TSale& sale, TReplaySide& side, std::int64_t& toPay) {
  std::int32_t payID = 0;
  if (sale.paymentName) {
    try {
      payID = PaymentByName(settings, *sale.paymentName).first;
    } catch (const ESaleFormat&) {
      return false;
    }
  } else {
    payID = *sale.paymentID;
  }
  const double moment = *sale.moment;
  TSaleRecord record(sale, payID, moment);
  const TCalcTrace t = TraceCalculationAt(settings, record.data(), moment);
  toPay = Kopecks(t.result);
  const std::int64_t discount = Kopecks(t.total) - toPay;
  side.toPay += toPay;
  side.discount += discount;
  side.discountByHour[static_cast<std::size_t>(DecodeTime(moment).hour) % 24] += discount;
  for (const auto& [card, taken] : ChosenCards(t)) Credit(side, card, Kopecks(taken));
  return true;
}

}  // namespace

std::vector<std::pair<TCalcTrace::TCardRef, double>> ChosenCards(const TCalcTrace& t) {
  std::vector<std::pair<TCalcTrace::TCardRef, double>> chosen;
  const double discount = t.total - t.result;
  switch (ChosenVariant(t)) {
    case TVariant::Payment: break;
    case TVariant::Receipt: chosen.emplace_back(t.checkCard, discount); break;
    case TVariant::Lines:
      for (const TCalcTrace::TLine& line : t.lines)
        if (!line.banned && line.cardDiscount > 0 && line.cardDiscount >= line.payDiscount)
          chosen.emplace_back(line.card, line.cardDiscount);
      break;
    case TVariant::Group: chosen.emplace_back(t.groupCard, discount); break;
  }
  chosen.erase(std::remove_if(chosen.begin(), chosen.end(), [](const auto& c) { return !c.first.found; }),
               chosen.end());
  return chosen;
}

TJournaledSales ReadJournaledSales(const std::vector<std::string>& files) {
  TJournaledSales out;
  for (const std::string& file : files) {
    const TJournalRead journal = ReadSaleJournal(file);
    out.skipped += journal.badLines + (journal.tornLastLine ? 1 : 0);
    for (nlohmann::json entry : journal.entries) {
      ++out.read;
      try {
        nlohmann::json& sale = entry.at("sale");
        // The moment the service computed it at, also for a sale sent
        // without one.
        sale["moment"] = entry.at("moment");
        out.sales.push_back(ParseSale(sale.dump()));
      } catch (const std::exception&) {
        ++out.skipped;
      }
    }
  }
  return out;
}

TReplayReport Replay(const TCalcSettings& current, const TCalcSettings& proposed, const TJournaledSales& sales) {
  TReplayReport report;
  report.read = sales.read;
  report.skipped = sales.skipped;
  for (std::size_t i = 0; i < sales.sales.size(); ++i) {
    const TSale& sale = sales.sales[i];
    // A sale is counted on both sides or on neither.
    TReplaySide currentSide, proposedSide;
    std::int64_t before = 0, after = 0;
    if (!Compute(current, sale, currentSide, before) || !Compute(proposed, sale, proposedSide, after)) {
      ++report.skipped;
      continue;
    }
    for (auto [side, into] : {std::pair{&currentSide, &report.current}, std::pair{&proposedSide, &report.proposed}}) {
      into->toPay += side->toPay;
      into->discount += side->discount;
      for (std::size_t h = 0; h < 24; ++h) into->discountByHour[h] += side->discountByHour[h];
      for (const auto& [id, tally] : side->cards) {
        TCardTally& total = into->cards[id];
        total.name = tally.name;
        total.wins += tally.wins;
        total.discount += tally.discount;
      }
    }
    if (before == after) continue;
    ++report.changed;
    report.largest.push_back({i, before, after});
    std::sort(report.largest.begin(), report.largest.end(), [](const TReplayChange& a, const TReplayChange& b) {
      return std::llabs(a.proposed - a.current) > std::llabs(b.proposed - b.current);
    });
    if (report.largest.size() > kLargestChanges) report.largest.pop_back();
  }
  return report;
}

}  // namespace selvo::host
