#include "host/insight/Replay.h"

#include <algorithm>
#include <cmath>
#include <optional>

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

// Whether every amount of the sale, and their sum, is a number the replay
// can count in kopecks.
bool SumsWithinBounds(const TSale& sale) {
  double total = 0;
  for (const TSaleLine& line : sale.lines) {
    for (double amount : {line.price * line.quantity, line.zprice * line.quantity}) {
      if (!(std::fabs(amount) <= kMaxReplayedSaleSum)) return false;
    }
    total += line.price * line.quantity;
  }
  return std::fabs(total) <= kMaxReplayedSaleSum;
}

// A journaled sale the replay can count: its sums within kopecks' reach.
std::optional<TSale> EntrySale(const nlohmann::json& entry, std::string& reason) {
  std::optional<TSale> sale = EntrySaleAtItsMoment(entry, reason);
  if (sale && !SumsWithinBounds(*sale)) {
    reason =
        "суммы продажи не числа или больше " + std::to_string(static_cast<long long>(kMaxReplayedSaleSum)) + " руб.";
    return std::nullopt;
  }
  return sale;
}

// One sale under one side's settings.
struct TSideResult {
  std::int64_t toPay = 0;
  std::int64_t total = 0;
  bool refused = false;  // by a sale ban
  TCalcTrace trace;
};

TSideResult Compute(const TCalcSettings& settings, const TSale& sale) {
  const std::int32_t payID = SalePayment(settings, sale).first;
  const double moment = *sale.moment;
  TSaleRecord record(sale, payID, moment);
  TSideResult r;
  r.trace = TraceCalculationAt(settings, record.data(), moment);
  r.refused = !r.trace.banLines.empty();
  r.total = Kopecks(r.trace.total);
  r.toPay = r.refused ? 0 : Kopecks(r.trace.result);
  return r;
}

void Count(TReplaySide& side, const TSideResult& r, double moment) {
  if (r.refused) {
    ++side.refused;
    side.refusedSum += r.total;
    return;
  }
  const std::int64_t discount = r.total - r.toPay;
  side.toPay += r.toPay;
  side.discount += discount;
  side.discountByHour[static_cast<std::size_t>(DecodeTime(moment).hour) % 24] += discount;
  for (const auto& [card, taken] : ChosenCards(r.trace)) {
    TCardTally& tally = side.cards[card.id];
    tally.name = card.name;
    ++tally.wins;
    tally.discount += Kopecks(taken);
  }
}

std::int64_t ChangeSize(const TReplayChange& c) { return std::llabs(c.proposed - c.current); }

class TReplayRun {
 public:
  TReplayRun(const TCalcSettings& current, const TCalcSettings& proposed, const std::vector<std::string>& journals)
      : current_(current), proposed_(proposed), journals_(journals) {}

  void Skip(TSkippedLine skipped) {
    ++report_.skipped;
    if (report_.skippedLines.size() < kListedSkippedLines) report_.skippedLines.push_back(std::move(skipped));
  }

  void Add(const TJournaledSale& s) {
    TSideResult before, after;
    try {
      before = Compute(current_, s.sale);
    } catch (const ESaleFormat& e) {
      return Skip({journals_[s.file], s.line, "в текущих настройках: " + e.Message()});
    }
    try {
      after = Compute(proposed_, s.sale);
    } catch (const ESaleFormat& e) {
      return Skip({journals_[s.file], s.line, "в новых настройках: " + e.Message()});
    }
    Count(report_.current, before, *s.sale.moment);
    Count(report_.proposed, after, *s.sale.moment);
    if (before.toPay == after.toPay && before.refused == after.refused) return;
    ++report_.changed;
    const TReplayChange change{s.file, s.line, before.toPay, after.toPay, before.refused, after.refused};
    auto& largest = report_.largest;
    // The list stays sorted, largest first; of equal changes the earlier sale stays.
    const auto place =
        std::upper_bound(largest.begin(), largest.end(), change,
                         [](const TReplayChange& a, const TReplayChange& b) { return ChangeSize(a) > ChangeSize(b); });
    if (place == largest.end() && largest.size() >= kLargestChanges) return;
    largest.insert(place, change);
    if (largest.size() > kLargestChanges) largest.pop_back();
  }

  TReplayReport& Report() { return report_; }

 private:
  const TCalcSettings& current_;
  const TCalcSettings& proposed_;
  const std::vector<std::string>& journals_;
  TReplayReport report_;
};

}  // namespace

std::optional<TSale> EntrySaleAtItsMoment(const nlohmann::json& entry, std::string& reason) {
  const auto sale = entry.find("sale");
  if (sale == entry.end() || !sale->is_object()) {
    reason = "в записи нет продажи (\"sale\" — не объект JSON)";
    return std::nullopt;
  }
  const auto moment = entry.find("moment");
  if (moment == entry.end() || !moment->is_string()) {
    reason = "в записи нет момента продажи (\"moment\" — не текст)";
    return std::nullopt;
  }
  try {
    nlohmann::json given = *sale;
    given.erase("moment");
    TSale parsed = ParseSale(given.dump());
    parsed.moment = ParseMoment(moment->get<std::string>());
    return parsed;
  } catch (const ESaleFormat& e) {
    reason = "продажа не читается: " + e.Message();
    return std::nullopt;
  }
}

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

void ReadJournaledSales(const std::vector<std::string>& files, const std::function<void(TJournaledSale&)>& onSale,
                        const TSkippedLineFunc& onSkipped) {
  for (std::size_t file = 0; file < files.size(); ++file) {
    ReadJournal(
        files[file],
        [&](const TJournalLineRef& where, nlohmann::json& entry) {
          std::string reason;
          std::optional<TSale> sale = EntrySale(entry, reason);
          if (!sale) return onSkipped({files[file], where.line, std::move(reason)});
          TJournaledSale journaled{std::move(*sale), file, where.line, EntrySaleId(entry)};
          onSale(journaled);
        },
        onSkipped);
  }
}

TReplayReport Replay(const TCalcSettings& current, const TCalcSettings& proposed,
                     const std::vector<std::string>& journals) {
  TReplayRun run(current, proposed, journals);
  ReadJournaledSales(
      journals,
      [&](TJournaledSale& sale) {
        ++run.Report().read;
        run.Add(sale);
      },
      [&](TSkippedLine skipped) {
        ++run.Report().read;
        run.Skip(std::move(skipped));
      });
  return std::move(run.Report());
}

}  // namespace selvo::host
