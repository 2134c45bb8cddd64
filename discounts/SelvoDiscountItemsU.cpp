#include "discounts/SelvoDiscountItemsU.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "discounts/DiscountListTexts.h"
#include "platform/Beep.h"
#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "platform/TextCodec.h"
#include "state/IdentifierAllocator.h"
#include "state/SelvoModuleU.h"

namespace selvo {
namespace {

bool IsAsciiWithoutLetters(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x80 && !(u >= 'A' && u <= 'Z');
  });
}

}  // namespace

bool SameDiscountValue(double a, double b) {
  const double tolerance = std::max(1e-12, 1e-12 * std::min(std::fabs(a), std::fabs(b)));
  return std::fabs(a - b) <= tolerance;
}

// ---------------------------------------------------------------------------
// THashedTextList

namespace {

// Identifiers are digits: nothing to fold (and no folded copy to make).
std::string Folded(std::string_view text) { return IsAsciiWithoutLetters(text) ? std::string(text) : LowerCase(text); }

// Reads the length in front of a packed text and steps past it.
std::size_t PackedLength(const char*& at) {
  std::size_t length = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*at++);
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return length;
  }
}

}  // namespace

struct THashedTextList::TFoldedSet {
  // Looks texts up without copying them into a std::string first.
  struct THash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  std::unordered_set<std::string, THash, std::equal_to<>> texts;
};

std::string_view THashedTextList::const_iterator::Current() const {
  const char* at = at_;
  const std::size_t length = PackedLength(at);
  return std::string_view(at, length);
}

THashedTextList::const_iterator& THashedTextList::const_iterator::operator++() {
  const std::size_t length = PackedLength(at_);
  at_ += length;
  return *this;
}

THashedTextList::THashedTextList(const THashedTextList& other)
    : packed_(other.packed_),
      count_(other.count_),
      folded_(other.folded_ ? std::make_unique<TFoldedSet>(*other.folded_) : nullptr) {}

THashedTextList& THashedTextList::operator=(const THashedTextList& other) {
  if (this != &other) *this = THashedTextList(other);
  return *this;
}

THashedTextList::THashedTextList() = default;
THashedTextList::THashedTextList(THashedTextList&& other) noexcept = default;
THashedTextList& THashedTextList::operator=(THashedTextList&& other) noexcept = default;
THashedTextList::~THashedTextList() = default;

void THashedTextList::HashAll() {
  folded_ = std::make_unique<TFoldedSet>();
  folded_->texts.reserve(count_);
  ForEachText([this](std::string_view text) { folded_->texts.insert(Folded(text)); });
}

void THashedTextList::Add(std::string_view text) {
  if (Contains(text)) return;
  std::size_t length = text.size();
  do {
    const auto low = static_cast<char>(length & 0x7F);
    length >>= 7;
    packed_ += length ? static_cast<char>(low | 0x80) : low;
  } while (length);
  packed_ += text;
  ++count_;
  if (count_ <= kLinearCount) return;
  if (!folded_)
    HashAll();
  else
    folded_->texts.insert(Folded(text));
}

bool THashedTextList::Contains(std::string_view text) const {
  if (!folded_) {
    bool found = false;
    for (const_iterator it = begin(), last = end(); it != last && !found; ++it) found = SameText(it.Current(), text);
    return found;
  }
  if (IsAsciiWithoutLetters(text)) return folded_->texts.find(text) != folded_->texts.end();
  return folded_->texts.find(LowerCase(text)) != folded_->texts.end();
}

void THashedTextList::Clear() {
  packed_.clear();
  packed_.shrink_to_fit();
  count_ = 0;
  folded_.reset();
}

std::string THashedTextList::operator[](std::size_t index) const {
  if (index >= count_) return {};
  const_iterator it = begin();
  for (; index > 0; --index) ++it;
  return *it;
}

// ---------------------------------------------------------------------------
// TDiscountItem

void TDiscountItem::SetDiscountName(std::string_view utf8Name) {
  DiscountName = Utf8Left(utf8Name, kMaxDiscountNameLength);
}

std::string TDiscountItem::EncodeTimeList() const { return TimeListText(TimeBegin, TimeEnd, TimeValue, TimeUnit); }

std::string TDiscountItem::EncodeThresholdList() const {
  return ThresholdListText(ThresholdSum, ThresholdValue, ThresholdUnit);
}

void TDiscountItem::DecodeThresholdList(std::string_view text) {
  ReadThresholdList(text, ThresholdSum, ThresholdValue, ThresholdUnit);
}

void TDiscountItem::DecodeTimeList(std::string_view text) {
  ReadTimeList(text, TimeBegin, TimeEnd, TimeValue, TimeUnit);
}

bool TDiscountItem::IsTarget(std::int32_t id, bool isCategory) const {
  return (isCategory ? Categories : Goods).Contains(std::to_string(id));
}

bool TDiscountItem::HasPeriod(bool enabled, double begin, double end) const {
  const std::size_t count = std::min({PeriodBegin.size(), PeriodEnd.size(), PeriodEnabled.size()});
  for (std::size_t i = 0; i < count; ++i) {
    if (SameDiscountValue(PeriodBegin[i], begin) && SameDiscountValue(PeriodEnd[i], end) && PeriodEnabled[i] == enabled)
      return true;
  }
  return false;
}

bool TDiscountItem::IsActive(double moment) const {
  if (!Enabled) return false;
  if (!AllDay) {
    const double time = TimeOf(moment);
    if (time < BTime || time > ETime) return false;
  }
  if (!AllWeek && (WeekDays & (1u << WeekDayIndex(moment))) == 0) return false;
  return InPeriods(moment);
}

bool TDiscountItem::InPeriods(double moment) const {
  const std::size_t count = std::min({PeriodBegin.size(), PeriodEnd.size(), PeriodEnabled.size()});
  if (PeriodBegin.empty() && PeriodEnd.empty() && PeriodEnabled.empty()) return true;
  for (std::size_t i = 0; i < count; ++i) {
    if (PeriodEnabled[i] && PeriodBegin[i] <= moment && moment <= PeriodEnd[i]) return true;
  }
  return false;
}

int TDiscountItem::WeekDayIndex(double moment) { return DayOfTheWeek(moment) - 1; }

double DiscountTimeOfDay() { return DiscountTimeOfDayAt(Now()); }

double DiscountTimeOfDayAt(double moment) {
  // The last second of the day counts as 23:59:59.000, so that an interval
  // ending at 23:59:59 covers it.
  return std::min(TimeOf(moment), kLastSecondOfDay);
}

double TDiscountItem::GetDiscount(double* banBegin, double* banEnd, double amount, double quantity) const {
  return GetDiscountAt(banBegin, banEnd, amount, quantity, DiscountTimeOfDay());
}

double TDiscountItem::GetDiscountAt(double* banBegin, double* banEnd, double amount, double quantity, double now,
                                    bool* ban) const {
  double result = 0;
  bool banned = false;
  auto report = [&](double begin, double end) {
    if (banBegin) *banBegin = begin;
    if (banEnd) *banEnd = end;
  };
  report(0, 0);

  // Threshold pass: the highest threshold that the amount reaches decides.
  double bestThreshold = -1;
  const std::size_t thresholds = std::min({ThresholdSum.size(), ThresholdValue.size(), ThresholdUnit.size()});
  for (std::size_t i = 0; i < thresholds; ++i) {
    const double sum = ThresholdSum[i];
    if (!(amount >= sum && sum > bestThreshold)) continue;
    bestThreshold = sum;
    double v = ThresholdValue[i];
    if (ThresholdUnit[i] == kUnitPercent) {
      v = v / 100 * amount;
    } else if (quantity > 0) {
      // An absolute amount grows with the purchase sum over the threshold. A
      // threshold of 0 has nothing to scale by: the amount is taken as it is.
      const double scaled = sum != 0 ? amount / sum * v : v;
      if (std::isfinite(scaled)) v = scaled;
    }
    result = std::isfinite(v) ? v : 0;
  }

  // Time pass against the clock's time of day.
  const std::size_t times = std::min({TimeBegin.size(), TimeEnd.size(), TimeValue.size(), TimeUnit.size()});
  for (std::size_t i = 0; i < times; ++i) {
    if (!(TimeBegin[i] <= now && now <= TimeEnd[i])) continue;
    double v = TimeValue[i];
    if (TimeUnit[i] == kUnitPercent) v = v / 100 * amount;
    if (!std::isfinite(v) || !(v > result)) continue;
    result = v;
    // Only the interval of the winning entry is reported.
    banned = IsSaleBan(TimeValue[i], TimeUnit[i]);
    if (banned)
      report(TimeBegin[i], TimeEnd[i]);
    else
      report(0, 0);
  }
  if (ban) *ban = banned;
  return result;
}

// ---------------------------------------------------------------------------
// TDiscountList

// The selection index. Positions are indexes into the list's cards, each
// run of them in ascending order, that is in list order.
struct TDiscountList::TPayGroup {
  using TPositions = std::vector<std::uint32_t>;
  // A run of `targeting`: the cards that target one category or article.
  struct TRun {
    std::uint32_t first;
    std::uint32_t count;
  };
  TPositions receipt;  // switched-on cards with target 0
  // Switched-on cards with target 1, by targeted category and article: every
  // run lies in the one `targeting` sequence.
  std::unordered_map<std::int32_t, TRun> byCategory;
  std::unordered_map<std::int32_t, TRun> byGoods;
  TPositions targeting;
};

struct TDiscountList::TIndex {
  std::unordered_map<std::int32_t, TPayGroup> byPay;
};

// Scratch space of one selection, one entry per card. activeMemo holds
// (generation << 1) | in effect: an entry of another generation is not known
// yet, so a piece serves one selection after another, over whatever index,
// without being cleared. groupMark and groupSlot find a card's running sum in
// one group discount.
struct TDiscountList::TScratch {
  std::vector<std::uint32_t> activeMemo;
  std::vector<std::uint32_t> groupMark;
  std::vector<std::uint32_t> groupSlot;
  std::uint32_t generation = 0;
  std::uint32_t groupGeneration = 0;

  // Room for this many cards; the entries added belong to no generation.
  void Fit(std::size_t cards) {
    if (activeMemo.size() >= cards) return;
    activeMemo.resize(cards, 0);
    groupMark.resize(cards, 0);
    groupSlot.resize(cards, 0);
  }
  std::uint32_t NextGeneration() {
    if (++generation >= 0x80000000u) {  // 31 bits: start over with a clean slate
      std::fill(activeMemo.begin(), activeMemo.end(), 0);
      generation = 1;
    }
    return generation;
  }
  std::uint32_t NextGroupGeneration() {
    if (++groupGeneration == 0) {
      std::fill(groupMark.begin(), groupMark.end(), 0);
      groupGeneration = 1;
    }
    return groupGeneration;
  }
  std::size_t Bytes() const {
    return sizeof(TScratch) +
           (activeMemo.capacity() + groupMark.capacity() + groupSlot.capacity()) * sizeof(std::uint32_t);
  }
};

// The pieces of scratch space a list lends its selections. One selection at
// a time, as at a till, always gets the same piece back; selections that run
// together, on one thread or on several, get one each.
class TDiscountList::TScratchPool {
 public:
  TScratch* Lend(std::size_t cards) {
    TScratch* piece = nullptr;
    {
      const std::lock_guard<std::mutex> hold(mutex_);
      if (idle_.empty()) {
        all_.push_back(std::make_unique<TScratch>());
        idle_.reserve(all_.size());  // so that Return never needs memory
        piece = all_.back().get();
      } else {
        piece = idle_.back();
        idle_.pop_back();
      }
    }
    piece->Fit(cards);
    return piece;
  }
  void Return(TScratch* piece) noexcept {
    const std::lock_guard<std::mutex> hold(mutex_);
    idle_.push_back(piece);
  }
  // Makes the idle pieces (at least one) ready for this many cards.
  void Fit(std::size_t cards) {
    const std::lock_guard<std::mutex> hold(mutex_);
    if (all_.empty()) {
      all_.push_back(std::make_unique<TScratch>());
      idle_.reserve(1);
      idle_.push_back(all_.back().get());
    }
    for (TScratch* piece : idle_) piece->Fit(cards);
  }
  std::size_t Bytes() {
    const std::lock_guard<std::mutex> hold(mutex_);
    std::size_t bytes = all_.capacity() * sizeof(void*) + idle_.capacity() * sizeof(void*);
    for (const auto& piece : all_) bytes += piece->Bytes();
    return bytes;
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<TScratch>> all_;
  std::vector<TScratch*> idle_;
};

namespace {

using TPayGroup = TDiscountList::TPayGroup;
using TPositions = TDiscountList::TPayGroup::TPositions;

// The identifier a target text stands for, when the text is the decimal form
// of one (what IsTarget looks up). Any other text can never be found by the
// target test and is left out of the index.
std::optional<std::int32_t> TargetID(std::string_view text) {
  std::int32_t id = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (std::to_string(id) != text) return std::nullopt;  // "07", "-0", "+7" are not what a lookup makes
  return id;
}

struct TPositionRange {
  const std::uint32_t* begin = nullptr;
  const std::uint32_t* end = nullptr;
  bool empty() const { return begin == end; }
};

TPositionRange Targeting(const TPayGroup& group, const std::unordered_map<std::int32_t, TPayGroup::TRun>& map,
                         std::int32_t id) {
  const auto it = map.find(id);
  if (it == map.end()) return {};
  const std::uint32_t* first = group.targeting.data() + it->second.first;
  return {first, first + it->second.count};
}

// Visits, in list order and each once, the goods cards of the group that
// target the category or the article.
template <class Visit>
void ForEachTargeting(const TPayGroup& group, std::int32_t categoryID, std::int32_t goodsID, Visit&& visit) {
  const TPositionRange a = Targeting(group, group.byCategory, categoryID);
  const TPositionRange b = Targeting(group, group.byGoods, goodsID);
  if (a.empty() || b.empty()) {
    const TPositionRange only = a.empty() ? b : a;
    for (const std::uint32_t* p = only.begin; p != only.end; ++p) visit(*p);
    return;
  }
  const std::uint32_t *i = a.begin, *j = b.begin;
  while (i != a.end || j != b.end) {
    if (j == b.end || (i != a.end && *i < *j)) {
      visit(*i++);
    } else if (i == a.end || *j < *i) {
      visit(*j++);
    } else {  // a card that targets both counts once
      visit(*i++);
      ++j;
    }
  }
}

// What Reindex gathers for one payment type before laying it out: the
// targets of its goods cards in list order.
struct TPayGroupDraft {
  struct TTarget {
    std::int32_t id;
    std::uint32_t position;
  };
  std::vector<TTarget> categories;
  std::vector<TTarget> goods;
};

// Lays the gathered targets out as runs of one sequence, one run for each
// identifier, each in list order: counted first, then placed.
void LayOut(const std::vector<TPayGroupDraft::TTarget>& targets,
            std::unordered_map<std::int32_t, TPayGroup::TRun>& runs, TPositions& targeting) {
  for (const auto& target : targets) ++runs[target.id].count;
  auto next = static_cast<std::uint32_t>(targeting.size());
  for (auto& [id, run] : runs) {
    run.first = next;
    next += run.count;
    run.count = 0;  // counts again as the run fills
  }
  targeting.resize(next);
  for (const auto& target : targets) {
    TPayGroup::TRun& run = runs.find(target.id)->second;
    targeting[run.first + run.count++] = target.position;
  }
}

template <class Map>
std::size_t MapBytes(const Map& map) {
  // Buckets, and one node per entry (its value, the next pointer and the
  // cached hash, rounded as the allocator does).
  std::size_t bytes = map.bucket_count() * sizeof(void*);
  bytes += map.size() * ((sizeof(typename Map::value_type) + 2 * sizeof(void*) + 15) / 16 * 16);
  return bytes;
}

}  // namespace

TDiscountList::TDiscountList() : scratch_(std::make_unique<TScratchPool>()) {}

TDiscountList::~TDiscountList() { Clear(); }

std::int32_t TDiscountList::Add(std::unique_ptr<TDiscountItem> card) {
  items_.push_back(std::move(card));
  stale_ = true;
  return static_cast<std::int32_t>(items_.size() - 1);
}

void TDiscountList::Reserve(std::int32_t count) {
  if (count > 0) items_.reserve(static_cast<std::size_t>(count));
}

void TDiscountList::Clear() {
  stale_ = true;
  index_.reset();
  for (auto& card : items_) {
    try {
      card.reset();
    } catch (...) {
      Beep(500, 100);  // one card that cannot be freed must not keep the others
    }
  }
  items_.clear();
}

std::int32_t TDiscountList::Count() const { return static_cast<std::int32_t>(items_.size()); }

TDiscountItem* TDiscountList::GetItem(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size())
    throw EListError("Индекс списка за пределами допустимого диапазона (" + std::to_string(index) + ")");
  stale_ = true;
  return items_[static_cast<std::size_t>(index)].get();
}

void TDiscountList::Reindex() const {
  auto index = std::make_unique<TIndex>();
  std::unordered_map<std::int32_t, TPayGroupDraft> drafts;
  std::int32_t lastPayID = 0;
  TPayGroup* group = nullptr;
  TPayGroupDraft* draft = nullptr;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const TDiscountItem& card = *items_[i];
    // A switched-off card is never in effect; targets other than 0 and 1
    // apply to nothing.
    if (!card.Enabled || (card.DiscountTarget != 0 && card.DiscountTarget != 1)) continue;
    const auto position = static_cast<std::uint32_t>(i);
    if (!group || card.PayID != lastPayID) {  // cards of one payment type come in runs as a rule
      lastPayID = card.PayID;
      group = &index->byPay[lastPayID];
      draft = &drafts[lastPayID];
    }
    if (card.DiscountTarget == 0) {
      group->receipt.push_back(position);
      continue;
    }
    card.Categories.ForEachText([&](std::string_view text) {
      if (const auto id = TargetID(text)) draft->categories.push_back({*id, position});
    });
    card.Goods.ForEachText([&](std::string_view text) {
      if (const auto id = TargetID(text)) draft->goods.push_back({*id, position});
    });
  }
  for (auto& [payID, payGroup] : index->byPay) {
    TPayGroupDraft& gathered = drafts[payID];
    payGroup.receipt.shrink_to_fit();
    payGroup.targeting.reserve(gathered.categories.size() + gathered.goods.size());
    LayOut(gathered.categories, payGroup.byCategory, payGroup.targeting);
    LayOut(gathered.goods, payGroup.byGoods, payGroup.targeting);
  }
  scratch_->Fit(items_.size());
  index_ = std::move(index);
  stale_ = false;
}

void TDiscountList::PrepareIndex() const {
  if (stale_ || !index_) Reindex();
}

const TDiscountList::TIndex& TDiscountList::Index() const {
  PrepareIndex();
  return *index_;
}

std::size_t TDiscountList::IndexBytes() const {
  if (!index_) return 0;
  const TIndex& index = *index_;
  std::size_t bytes = sizeof(TIndex) + MapBytes(index.byPay);
  for (const auto& [payID, group] : index.byPay) {
    bytes += (group.receipt.capacity() + group.targeting.capacity()) * sizeof(std::uint32_t);
    bytes += MapBytes(group.byCategory) + MapBytes(group.byGoods);
  }
  bytes += scratch_->Bytes();
  return bytes;
}

TDiscountItem* TDiscountList::FindByName(std::string_view name) const {
  const std::string wanted = Trim(name);
  for (const auto& card : items_)
    if (SameText(Trim(card->DiscountName), wanted)) return card.get();
  return nullptr;
}

std::int32_t TDiscountList::NewID() {
  TModuleState& m = Module();
  std::unordered_set<std::int32_t> held;
  for (const auto& card : items_) held.insert(card->ID);
  return AllocateIdentifier(m.DiscountIDCounter, m.LastDiscountID, "новой карты скидок",
                            [&held](std::int32_t id) { return held.count(id) > 0; });
}

TDiscountItem* TDiscountList::FindCheckCard(std::int32_t payID, double amount, double moment) const {
  return TCardSelection(*this, payID, moment).FindCheckCard(amount);
}

TDiscountItem* TDiscountList::FindGoodsCard(std::int32_t categoryID, std::int32_t goodsID, double zPrice, double price,
                                            std::int32_t payID, double moment, double quantity) const {
  return TCardSelection(*this, payID, moment).FindGoodsCard(categoryID, goodsID, zPrice, price, quantity);
}

double TDiscountList::GoodsGroupDiscount(const TDiscountInData& sale, double moment,
                                         const TDiscountItem** winner) const {
  return TCardSelection(*this, sale.PayID, moment).GoodsGroupDiscount(sale, winner);
}

// ---------------------------------------------------------------------------
// TCardSelection

TCardSelection::TCardSelection(const TDiscountList& list, std::int32_t payID, double moment)
    : TCardSelection(list, payID, moment, DiscountTimeOfDay(), false) {
  floorFromModule_ = true;
}

TCardSelection::TCardSelection(const TDiscountList& list, std::int32_t payID, double moment, double timeOfDay,
                               bool purchaseFloor)
    : list_(list),
      index_(list.Index()),
      group_(nullptr),
      moment_(moment),
      timeOfDay_(timeOfDay),
      purchaseFloor_(purchaseFloor),
      scratch_(list.scratch_->Lend(list.items_.size())),
      generation_(scratch_->NextGeneration()) {
  const auto it = index_.byPay.find(payID);
  if (it != index_.byPay.end()) group_ = &it->second;
}

TCardSelection::~TCardSelection() { list_.scratch_->Return(scratch_); }

bool TCardSelection::Active(std::uint32_t position) {
  std::uint32_t& memo = scratch_->activeMemo[position];
  if ((memo >> 1) == generation_) return (memo & 1) != 0;
  const bool active = list_.items_[position]->IsActive(moment_);
  memo = (generation_ << 1) | (active ? 1u : 0u);
  return active;
}

TDiscountItem* TCardSelection::FindCheckCard(double amount) {
  if (!group_) return nullptr;
  double best = 0;
  TDiscountItem* chosen = nullptr;
  for (std::uint32_t position : group_->receipt) {
    if (!Active(position)) continue;
    TDiscountItem* card = list_.items_[position].get();
    const double d = card->GetDiscountAt(nullptr, nullptr, amount, 1, timeOfDay_);
    if (d > best) {
      best = d;
      chosen = card;
    }
  }
  return chosen;
}

TDiscountItem* TCardSelection::FindGoodsCard(std::int32_t categoryID, std::int32_t goodsID, double zPrice, double price,
                                             double quantity) {
  if (!group_) return nullptr;
  const bool floorAtPurchase = floorFromModule_ ? Module().RSumCanNotBeLowThenZSum : purchaseFloor_;
  double best = 0;
  TDiscountItem* chosen = nullptr;
  ForEachTargeting(*group_, categoryID, goodsID, [&](std::uint32_t position) {
    if (!Active(position)) return;
    TDiscountItem* card = list_.items_[position].get();
    bool ban = false;
    double d = card->GetDiscountAt(nullptr, nullptr, price * quantity, quantity, timeOfDay_, &ban);
    if (floorAtPurchase && !ban && zPrice * quantity > price * quantity - d) d = 0;
    if (d > best) {
      best = d;
      chosen = card;
    }
  });
  return chosen;
}

double TCardSelection::GoodsGroupDiscount(const TDiscountInData& sale, const TDiscountItem** winner) {
  if (winner) *winner = nullptr;
  const std::int32_t lines = DynArrayLength(sale.GoodsIDs);
  if (DynArrayLength(sale.CategoryIDs) < lines || DynArrayLength(sale.Prices) < lines ||
      DynArrayLength(sale.Quantities) < lines)
    throw EInvalidSale("Продажа: последовательности строк чека короче списка товаров");
  if (!group_) return 0;
  const TPayGroup& group = *group_;

  // Each card's sum of the lines it targets, added up line by line in the
  // order of the lines, as a card-by-card pass would add them.
  struct TRunning {
    std::uint32_t position;
    double sum;
  };
  std::vector<TRunning> sums;
  const std::uint32_t mark = scratch_->NextGroupGeneration();
  for (std::int32_t j = 0; j < lines; ++j) {
    const double amount = sale.Prices[j] * sale.Quantities[j];
    ForEachTargeting(group, sale.CategoryIDs[j], sale.GoodsIDs[j], [&](std::uint32_t position) {
      if (scratch_->groupMark[position] != mark) {
        scratch_->groupMark[position] = mark;
        scratch_->groupSlot[position] = static_cast<std::uint32_t>(sums.size());
        sums.push_back({position, 0.0});
      }
      sums[scratch_->groupSlot[position]].sum += amount;
    });
  }
  std::sort(sums.begin(), sums.end(), [](const TRunning& a, const TRunning& b) { return a.position < b.position; });

  // Money in ten-thousandths, as a 64-bit count. A card whose lines sum to
  // nothing gives nothing and cannot win.
  constexpr double kLargestCount = 9223372036854774784.0;  // the largest double below 2^63
  std::int64_t best = 0;
  for (const TRunning& running : sums) {
    if (!(running.sum > 0) || !Active(running.position)) continue;
    const TDiscountItem* card = list_.items_[running.position].get();
    const double scaled = card->GetDiscountAt(nullptr, nullptr, running.sum, 1, timeOfDay_) * 10000;
    if (scaled > static_cast<double>(best)) {
      best = static_cast<std::int64_t>(std::nearbyint(std::min(scaled, kLargestCount)));  // halves to even
      if (winner) *winner = card;
    }
  }
  return static_cast<double>(best) / 10000;
}

// ---------------------------------------------------------------------------
// Loading

namespace {

// The columns of one dataset that the load reads, each looked up by name once
// per load, when it is first read (so that a missing column fails where it
// failed when looked up row by row). A field stands for its column whatever
// row is current.
template <std::size_t N>
class TColumns {
 public:
  TColumns(TDataSet& dataSet, const char* const (&names)[N]) : dataSet_(dataSet), names_(names) {}
  TField& operator[](std::size_t column) {
    if (!fields_[column]) fields_[column] = &dataSet_.FieldByName(names_[column]);
    return *fields_[column];
  }

 private:
  TDataSet& dataSet_;
  const char* const (&names_)[N];
  TField* fields_[N] = {};
};

// Master columns, in the order they are read.
enum TMasterColumn : std::size_t {
  mcID,
  mcName,
  mcPayID,
  mcBTime,
  mcETime,
  mcAllDay,
  mcEnabled,
  mcWeekDays,
  mcAllWeek,
  mcThreshold,
  mcTarget,
  mcRules,
  mcTimeList,
  mcCount
};
constexpr const char* kMasterColumns[mcCount] = {
    "td_ID",       "td_DiscountName", "PayID",        "td_BTime",          "td_ETime", "td_AllDay",     "td_Enabled",
    "td_WeekDays", "td_AllWeek",      "td_Threshold", "td_DiscountTarget", "td_Rules", "td_TimeDscList"};
using TMasterColumns = TColumns<mcCount>;

enum TTargetColumn : std::size_t { tcLink, tcID, tcIsCategory, tcTarget, tcCount };
constexpr const char* kTargetColumns[tcCount] = {"td_ID", "dg_ID", "td_IsCategory", "ID_Target"};
using TTargetColumns = TColumns<tcCount>;

enum TPeriodColumn : std::size_t { pcLink, pcID, pcBegin, pcEnd, pcEnabled, pcCount };
constexpr const char* kPeriodColumns[pcCount] = {"td_ID", "ex_ID", "ex_BDateTime", "ex_EDateTime", "ex_Enabled"};
using TPeriodColumns = TColumns<pcCount>;

void ReadMasterColumns(TMasterColumns& master, TDiscountItem& card) {
  // Each column only when it holds a value; a null keeps the card's default.
  auto read = [&master](TMasterColumn column, auto&& assign) {
    TField& field = master[column];
    if (!field.IsNull()) assign(field);
  };
  read(mcName, [&](TField& f) {
    std::string name = f.AsString();
    // A name that fits as it is is taken over without a copy.
    if (name.size() <= kMaxDiscountNameLength)
      card.DiscountName = std::move(name);
    else
      card.SetDiscountName(name);
  });
  read(mcPayID, [&](TField& f) { card.PayID = f.AsInteger(); });
  read(mcBTime, [&](TField& f) { card.BTime = f.AsFloat(); });
  read(mcETime, [&](TField& f) { card.ETime = f.AsFloat(); });
  read(mcAllDay, [&](TField& f) { card.AllDay = f.AsInteger() != 0; });
  read(mcEnabled, [&](TField& f) { card.Enabled = f.AsInteger() != 0; });
  read(mcWeekDays, [&](TField& f) { card.WeekDays = static_cast<std::uint8_t>(f.AsInteger() & 0xFF); });
  read(mcAllWeek, [&](TField& f) { card.AllWeek = f.AsInteger() != 0; });
  read(mcThreshold, [&](TField& f) { card.DecodeThresholdList(f.AsString()); });
  read(mcTarget, [&](TField& f) {
    card.DiscountTarget = static_cast<std::int16_t>(static_cast<std::uint16_t>(f.AsInteger() & 0xFFFF));
  });
  read(mcRules,
       [&](TField& f) { card.Rules = static_cast<std::int16_t>(static_cast<std::uint16_t>(f.AsInteger() & 0xFFFF)); });
  read(mcTimeList, [&](TField& f) { card.DecodeTimeList(f.AsString()); });
}

// Stored values the calculation cannot take are refused at loading, naming
// the place: an infinite time would match every moment, a percentage above
// 100 would sell for nothing. Only a sale ban (IsSaleBan: SaleBanAmount in
// roubles) is exempt; the same amount in percent is a discount like any.
[[noreturn]] void RefuseStored(const char* table, const std::string& row, const char* column, const std::string& what) {
  throw EDatabaseError(std::string(table) + ": запись " + row + ", поле " + column + ": " + what);
}

[[noreturn]] void RefuseStored(const char* table, std::int32_t cardID, const char* column, const std::string& what) {
  RefuseStored(table, "td_ID=" + std::to_string(cardID), column, what);
}

void CheckAmounts(const TDiscountItem& card, const char* column, const TDynDoubleArray& values,
                  const TDynCharArray& units, bool banAllowed) {
  for (std::size_t i = 0; i < values.size() && i < units.size(); ++i) {
    const double v = values[i];
    if (banAllowed && IsSaleBan(v, units[i])) continue;
    if (!std::isfinite(v)) RefuseStored("SelvoDiscountDS", card.ID, column, "скидка не является конечным числом");
    if (units[i] == kUnitPercent && !(v >= 0 && v <= 100)) {
      RefuseStored("SelvoDiscountDS", card.ID, column,
                   "скидка " + FloatToStr(v, ModuleFormatSettings()) + " % вне пределов от 0 до 100");
    }
  }
}

void CheckMasterColumns(const TDiscountItem& card) {
  const char* const notFinite = "время не является конечным числом";
  if (!std::isfinite(card.BTime)) RefuseStored("SelvoDiscountDS", card.ID, "td_BTime", notFinite);
  if (!std::isfinite(card.ETime)) RefuseStored("SelvoDiscountDS", card.ID, "td_ETime", notFinite);
  for (double sum : card.ThresholdSum)
    if (!std::isfinite(sum))
      RefuseStored("SelvoDiscountDS", card.ID, "td_Threshold", "порог не является конечным числом");
  CheckAmounts(card, "td_Threshold", card.ThresholdValue, card.ThresholdUnit, false);
  CheckAmounts(card, "td_TimeDscList", card.TimeValue, card.TimeUnit, true);
}

// The detail datasets present the rows of the master's current card; one that
// stands on another card's row means the host's link is broken.
template <std::size_t N>
void CheckDetailLink(TDataSet& detail, TColumns<N>& columns, std::int32_t cardID) {
  if (!detail.IsEmpty() && columns[0].AsInteger() != cardID)
    throw EDatabaseError("Нарушилась связь таблиц Master -> Detail");
}

void ReadTargets(TDataSet& goods, TTargetColumns& columns, TDiscountItem& card) {
  CheckDetailLink(goods, columns, card.ID);
  char digits[16];
  for (goods.First(); !goods.Eof(); goods.Next()) {
    if (columns[tcID].IsNull()) continue;
    const bool isCategory = columns[tcIsCategory].AsInteger() == 1;
    const std::int32_t id = columns[tcTarget].AsInteger();
    const auto written = std::to_chars(digits, digits + sizeof digits, id);
    (isCategory ? card.Categories : card.Goods).Add(std::string_view(digits, written.ptr - digits));
  }
}

void ReadPeriods(TDataSet& periods, TPeriodColumns& columns, TDiscountItem& card) {
  CheckDetailLink(periods, columns, card.ID);
  if (periods.IsEmpty()) return;
  const auto rows = static_cast<std::size_t>(std::max(periods.RecordCount(), 0));
  card.PeriodBegin.reserve(card.PeriodBegin.size() + rows);
  card.PeriodEnd.reserve(card.PeriodEnd.size() + rows);
  card.PeriodEnabled.reserve(card.PeriodEnabled.size() + rows);
  for (periods.First(); !periods.Eof(); periods.Next()) {
    if (columns[pcID].IsNull()) continue;
    // All three values first, so that a failing one leaves the card's
    // sequences of one length.
    const double begin = columns[pcBegin].AsDateTime();
    const double end = columns[pcEnd].AsDateTime();
    const bool enabled = columns[pcEnabled].AsInteger() == 1;
    if (!std::isfinite(begin) || !std::isfinite(end)) {
      RefuseStored("ExclusionsDS", "ex_ID=" + columns[pcID].AsString(),
                   std::isfinite(begin) ? "ex_EDateTime" : "ex_BDateTime", "дата не является конечным числом");
    }
    card.PeriodBegin.push_back(begin);
    card.PeriodEnd.push_back(end);
    card.PeriodEnabled.push_back(enabled);
  }
}

void OpenIfClosed(TDataSet& ds) {
  if (!ds.Active()) ds.Open();
}

}  // namespace

void FillDiscountList() {
  WithOperationName("procedure FillDiscountList", [] { LoadDiscountList(Module().DataModule, DiscountList()); });
}

void LoadDiscountList(TDataModule* dataModule, TDiscountList& list) {
  list.Clear();
  TDataSet& master = FindDataSet(dataModule, "SelvoDiscountDS");
  OpenIfClosed(master);
  TDataSet& goods = FindDataSet(dataModule, "DiscountGoodsDS");
  OpenIfClosed(goods);
  TDataSet& periods = FindDataSet(dataModule, "ExclusionsDS");
  OpenIfClosed(periods);

  TMasterColumns masterColumns(master, kMasterColumns);
  TTargetColumns targetColumns(goods, kTargetColumns);
  TPeriodColumns periodColumns(periods, kPeriodColumns);
  list.Reserve(master.RecordCount());
  for (master.First(); !master.Eof(); master.Next()) {
    TField& id = masterColumns[mcID];
    if (id.IsNull()) continue;
    auto card = std::make_unique<TDiscountItem>();
    card->ID = id.AsInteger();
    ReadMasterColumns(masterColumns, *card);
    CheckMasterColumns(*card);
    // A card whose goods rows fail is dropped; one whose periods fail stays
    // with the periods read so far.
    ReadTargets(goods, targetColumns, *card);
    TDiscountItem& stored = *card;
    list.Add(std::move(card));
    ReadPeriods(periods, periodColumns, stored);
  }
  list.Reindex();
}

}  // namespace selvo
