#include "host/insight/Replay.h"

#include <algorithm>
#include <cmath>
#include <compare>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include "host/insight/ReplayLineReader.h"
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

// Why a sale that read is not counted: its sums beyond kopecks' reach; an
// empty text when it is counted.
std::string OutOfBounds(const TSale& sale) {
  if (SumsWithinBounds(sale)) return {};
  return "суммы продажи не числа или больше " + std::to_string(static_cast<long long>(kMaxReplayedSaleSum)) + " руб.";
}

// One sale under one side's settings.
struct TSideResult {
  std::int64_t toPay = 0;
  std::int64_t total = 0;
  bool refused = false;  // by a sale ban
  TCalcTrace trace;
};

TSideResult Compute(const TCalcSettings& settings, const TSaleRecord& record, double moment) {
  TSideResult r;
  r.trace = TraceCalculationAt(settings, record.data(), moment);
  r.refused = !r.trace.banLines.empty();
  r.total = Kopecks(r.trace.total);
  r.toPay = r.refused ? 0 : Kopecks(r.trace.result);
  return r;
}

// The payment type of a sale under one side's settings, as SalePayment
// answers it (its identifier or its refusal): the same for every sale that
// names the same payment type, so looked up once per name and identifier.
class TPaymentsSeen {
 public:
  explicit TPaymentsSeen(const TCalcSettings& settings) : settings_(settings) {}

  // ESaleFormat as SalePayment throws it.
  std::int32_t PayID(const TSale& sale) {
    TAnswer* answer = nullptr;
    if (sale.paymentName) {
      const auto it = byName_.find(*sale.paymentName);
      if (it != byName_.end()) answer = &it->second;
    } else {
      const auto it = byID_.find(*sale.paymentID);
      if (it != byID_.end()) answer = &it->second;
    }
    TAnswer found;
    if (!answer) {
      try {
        found.id = SalePayment(settings_, sale).first;
      } catch (const ESaleFormat& e) {
        found.refusal = e.Message();
      }
      answer = &found;
      // Names are the sales' own texts: only so many are kept.
      if (byName_.size() + byID_.size() < kMaxSeen) {
        if (sale.paymentName)
          answer = &byName_.emplace(*sale.paymentName, std::move(found)).first->second;
        else
          answer = &byID_.emplace(*sale.paymentID, std::move(found)).first->second;
      }
    }
    if (answer->refusal) throw ESaleFormat(*answer->refusal);
    return answer->id;
  }

 private:
  struct TAnswer {
    std::int32_t id = 0;
    std::optional<std::string> refusal;
  };
  static constexpr std::size_t kMaxSeen = 1024;
  const TCalcSettings& settings_;
  std::map<std::string, TAnswer, std::less<>> byName_;
  std::map<std::int32_t, TAnswer> byID_;
};

void Count(TReplaySide& side, TTillSide& till, const TSideResult& r, double moment) {
  if (r.refused) {
    ++side.refused;
    side.refusedSum += r.total;
    ++till.refused;
    till.refusedSum += r.total;
    return;
  }
  const std::int64_t discount = r.total - r.toPay;
  side.toPay += r.toPay;
  side.discount += discount;
  till.toPay += r.toPay;
  till.discount += discount;
  side.discountByHour[static_cast<std::size_t>(DecodeTime(moment).hour) % 24] += discount;
  for (const auto& [card, taken] : ChosenCards(r.trace)) {
    TCardTally& tally = side.cards[card.id];
    tally.name = card.name;
    ++tally.wins;
    tally.discount += Kopecks(taken);
  }
}

std::int64_t ChangeSize(const TReplayChange& c) { return std::llabs(c.proposed - c.current); }

// Where a line stands among all the journals' lines.
struct TPosition {
  std::size_t file = 0;
  std::int64_t line = 0;
  auto operator<=>(const TPosition&) const = default;
};

// The order of the largest changes: larger first, of equal ones the earlier.
bool ListedBefore(const TReplayChange& a, const TReplayChange& b) {
  if (ChangeSize(a) != ChangeSize(b)) return ChangeSize(a) > ChangeSize(b);
  return TPosition{a.file, a.line} < TPosition{b.file, b.line};
}

void AddSide(TTillSide& into, const TTillSide& from) {
  into.toPay += from.toPay;
  into.discount += from.discount;
  into.refused += from.refused;
  into.refusedSum += from.refusedSum;
}

void AddSide(TReplaySide& into, const TReplaySide& from) {
  into.toPay += from.toPay;
  into.discount += from.discount;
  into.refused += from.refused;
  into.refusedSum += from.refusedSum;
  for (std::size_t h = 0; h < into.discountByHour.size(); ++h) into.discountByHour[h] += from.discountByHour[h];
  for (const auto& [id, tally] : from.cards) {
    TCardTally& to = into.cards[id];
    if (to.name.empty()) to.name = tally.name;
    to.wins += tally.wins;
    to.discount += tally.discount;
  }
}

// The tallies of the lines one thread computed. Every lines' part of the
// report is a sum of whole numbers, or the first few lines of an order that
// is total (by place), so the parts of several threads add up to exactly
// the report of one thread that computed every line.
class TReplayRun {
 public:
  TReplayRun(const TCalcSettings& current, const TCalcSettings& proposed, const std::vector<std::string>& journals)
      : current_(current),
        proposed_(proposed),
        journals_(journals),
        currentPayments_(current),
        proposedPayments_(proposed) {
    report_.tills.resize(journals.size());
    for (std::size_t i = 0; i < journals.size(); ++i) report_.tills[i].journal = journals[i];
  }

  // One line of journal `file`, as read.
  void Line(std::size_t file, std::int64_t line, const TLineSale& read) {
    ++report_.read;
    ++report_.tills[file].read;
    if (!read.sale) return Skip(file, {journals_[file], line, read.reason, read.torn});
    std::string outOfBounds = OutOfBounds(*read.sale);
    if (!outOfBounds.empty()) return Skip(file, {journals_[file], line, std::move(outOfBounds)});
    Add(file, line, *read.sale);
  }

  // The other thread's tallies added to these.
  void Merge(TReplayRun& other) {
    TReplayReport& r = report_;
    const TReplayReport& o = other.report_;
    r.read += o.read;
    r.skipped += o.skipped;
    r.changed += o.changed;
    AddSide(r.current, o.current);
    AddSide(r.proposed, o.proposed);
    for (std::size_t i = 0; i < r.tills.size(); ++i) {
      r.tills[i].read += o.tills[i].read;
      r.tills[i].skipped += o.tills[i].skipped;
      r.tills[i].changed += o.tills[i].changed;
      AddSide(r.tills[i].current, o.tills[i].current);
      AddSide(r.tills[i].proposed, o.tills[i].proposed);
    }
    for (auto& s : other.skipped_) skipped_.push_back(std::move(s));
    std::stable_sort(skipped_.begin(), skipped_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    if (skipped_.size() > kListedSkippedLines) skipped_.resize(kListedSkippedLines);
    r.largest.insert(r.largest.end(), o.largest.begin(), o.largest.end());
    std::stable_sort(r.largest.begin(), r.largest.end(), ListedBefore);
    if (r.largest.size() > kLargestChanges) r.largest.resize(kLargestChanges);
  }

  TReplayReport Finish() {
    for (auto& [place, skipped] : skipped_) report_.skippedLines.push_back(std::move(skipped));
    skipped_.clear();
    return std::move(report_);
  }

 private:
  void Skip(std::size_t file, TSkippedLine skipped) {
    ++report_.skipped;
    ++report_.tills[file].skipped;
    // A thread's lines come in their order: its first ones are kept.
    if (skipped_.size() < kListedSkippedLines) skipped_.emplace_back(TPosition{file, skipped.line}, std::move(skipped));
  }

  void Add(std::size_t file, std::int64_t line, const TSale& sale) {
    const double moment = *sale.moment;
    TSideResult before, after;
    std::int32_t payID = 0;
    std::optional<TSaleRecord> record;
    try {
      payID = currentPayments_.PayID(sale);
      record.emplace(sale, payID, moment);
      before = Compute(current_, *record, moment);
    } catch (const ESaleFormat& e) {
      return Skip(file, {journals_[file], line, "в текущих настройках: " + e.Message()});
    }
    try {
      const std::int32_t proposedPayID = proposedPayments_.PayID(sale);
      // Under the same payment type both sides compute the same record.
      if (proposedPayID != payID) record.emplace(sale, proposedPayID, moment);
      after = Compute(proposed_, *record, moment);
    } catch (const ESaleFormat& e) {
      return Skip(file, {journals_[file], line, "в новых настройках: " + e.Message()});
    }
    TTillReport& till = report_.tills[file];
    Count(report_.current, till.current, before, *sale.moment);
    Count(report_.proposed, till.proposed, after, *sale.moment);
    if (before.toPay == after.toPay && before.refused == after.refused) return;
    ++report_.changed;
    ++till.changed;
    const TReplayChange change{file, line, before.toPay, after.toPay, before.refused, after.refused};
    auto& largest = report_.largest;
    // The list stays in its order; a thread's lines come in theirs, so of
    // equal changes the earlier stays.
    const auto place = std::upper_bound(largest.begin(), largest.end(), change, ListedBefore);
    if (place == largest.end() && largest.size() >= kLargestChanges) return;
    largest.insert(place, change);
    if (largest.size() > kLargestChanges) largest.pop_back();
  }

  const TCalcSettings& current_;
  const TCalcSettings& proposed_;
  const std::vector<std::string>& journals_;
  TPaymentsSeen currentPayments_, proposedPayments_;
  TReplayReport report_;
  std::vector<std::pair<TPosition, TSkippedLine>> skipped_;  // the first ones, with their place
};

// Lines of the journals back to back, as the reader hands them on.
struct TLineBatch {
  struct TLine {
    std::size_t offset = 0, size = 0;
    std::size_t file = 0;
    std::int64_t number = 0;
    bool tooLong = false, last = false;
  };
  std::string text;  // the lines' texts, kLineReadPadding bytes after the last
  std::vector<TLine> lines;
  std::size_t Bytes() const { return text.capacity() + lines.capacity() * sizeof(TLine); }
};

// A batch is handed on from this size of its texts, or this many lines.
constexpr std::size_t kBatchBytes = 256u << 10;
constexpr std::size_t kBatchLines = 2048;
// The batches read and not yet computed hold at most this much (one more
// when a single batch is larger: a line of kMaxJournalLineBytes).
constexpr std::size_t kBytesInFlight = 24u << 20;

// Between the reader and the computing threads: batches in the order read,
// the reader waiting while too much is read and not yet computed.
class TBatchQueue {
 public:
  // False when the replay has stopped (a thread failed).
  bool Push(TLineBatch batch) {
    std::unique_lock lock(mutex_);
    const std::size_t bytes = batch.Bytes();
    changed_.wait(lock, [&] { return stopped_ || inFlight_ == 0 || inFlight_ + bytes <= kBytesInFlight; });
    if (stopped_) return false;
    inFlight_ += bytes;
    batches_.push_back(std::move(batch));
    changed_.notify_all();
    return true;
  }
  // The next batch; nullopt once the reading is over and every batch taken,
  // or the replay has stopped.
  std::optional<TLineBatch> Pop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || closed_ || !batches_.empty(); });
    if (stopped_ || batches_.empty()) return std::nullopt;
    TLineBatch batch = std::move(batches_.front());
    batches_.pop_front();
    return batch;
  }
  void Computed(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    inFlight_ -= bytes;
    changed_.notify_all();
  }
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }
  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TLineBatch> batches_;
  std::size_t inFlight_ = 0;
  bool closed_ = false, stopped_ = false;
};

// Reads the journals into batches, each full batch to `onBatch`; false from
// it stops the reading.
void ReadBatches(const std::vector<std::string>& journals, const std::function<bool(TLineBatch&&)>& onBatch) {
  TLineBatch batch;
  auto handOn = [&] {
    batch.text.append(kLineReadPadding, '\0');
    const bool goOn = onBatch(std::move(batch));
    batch = TLineBatch();
    return goOn;
  };
  struct TStop {};
  try {
    for (std::size_t file = 0; file < journals.size(); ++file) {
      ReadJournalLines(journals[file], [&](const TJournalLine& line) {
        batch.lines.push_back({batch.text.size(), line.text.size(), file, line.number, line.tooLong, line.last});
        batch.text.append(line.text);
        if ((batch.text.size() >= kBatchBytes || batch.lines.size() >= kBatchLines) && !handOn()) throw TStop();
      });
    }
    if (!batch.lines.empty()) handOn();
  } catch (const TStop&) {
  }
}

// Lines longer than the fast reader takes are read by the general one, which
// holds a document many times the line's size: one such line at a time.
std::mutex longLines;

void ComputeBatch(const TLineBatch& batch, TLineSaleReader& reader, TReplayRun& run) {
  TLineSale read;  // its buffers kept from one line to the next
  for (const TLineBatch::TLine& l : batch.lines) {
    const TJournalLine line{std::string_view(batch.text).substr(l.offset, l.size), l.number, l.tooLong, l.last};
    if (l.size > kFastLineBytes) {
      std::lock_guard lock(longLines);
      reader.Read(line, read);
    } else {
      reader.Read(line, read);
    }
    run.Line(l.file, l.number, read);
  }
}

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
  TLineSaleReader reader;
  std::string padded;
  for (std::size_t file = 0; file < files.size(); ++file) {
    ReadJournalLines(files[file], [&](const TJournalLine& line) {
      padded.assign(line.text);
      padded.append(kLineReadPadding, '\0');
      TLineSale read;
      reader.Read({std::string_view(padded).substr(0, line.text.size()), line.number, line.tooLong, line.last}, read);
      if (read.sale && read.reason.empty()) read.reason = OutOfBounds(*read.sale);
      if (!read.reason.empty()) return onSkipped({files[file], line.number, std::move(read.reason), read.torn});
      TJournaledSale journaled{std::move(*read.sale), file, line.number, std::move(read.saleId)};
      onSale(journaled);
    });
  }
}

unsigned ReplayThreadsByDefault() { return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxReplayThreads); }

TReplayReport Replay(const TCalcSettings& current, const TCalcSettings& proposed,
                     const std::vector<std::string>& journals, unsigned threads) {
  if (threads == 0) threads = ReplayThreadsByDefault();
  threads = std::min(threads, kMaxReplayThreads);
  TReplayRun run(current, proposed, journals);
  if (threads == 1) {
    TLineSaleReader reader;
    ReadBatches(journals, [&](TLineBatch&& batch) {
      ComputeBatch(batch, reader, run);
      return true;
    });
    return run.Finish();
  }

  TBatchQueue queue;
  std::vector<TReplayRun> parts(threads, run);
  std::vector<std::exception_ptr> failures(threads);
  std::vector<std::thread> workers;
  try {
    for (unsigned i = 0; i < threads; ++i) {
      workers.emplace_back([&, i] {
        try {
          TLineSaleReader reader;
          while (std::optional<TLineBatch> batch = queue.Pop()) {
            ComputeBatch(*batch, reader, parts[i]);
            queue.Computed(batch->Bytes());
          }
        } catch (...) {
          failures[i] = std::current_exception();
          queue.Stop();
        }
      });
    }
  } catch (...) {
    // A thread the system refuses (a limit of processes): the workers
    // already started are stopped before the refusal is told.
    queue.Stop();
    for (std::thread& worker : workers) worker.join();
    throw;
  }
  std::exception_ptr readFailure;
  try {
    ReadBatches(journals, [&](TLineBatch&& batch) { return queue.Push(std::move(batch)); });
    queue.Close();
  } catch (...) {
    readFailure = std::current_exception();
    queue.Stop();
  }
  for (std::thread& worker : workers) worker.join();
  if (readFailure) std::rethrow_exception(readFailure);
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
  for (TReplayRun& part : parts) run.Merge(part);
  return run.Finish();
}

}  // namespace selvo::host
