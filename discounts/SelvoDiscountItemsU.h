// The automatic discount cards (TDiscountItem) with their in-effect and
// discount tests and the stored text forms of their two discount lists (read
// and written by DiscountListTexts), and the one discount list (TDiscountList): its loading from the host's three
// discount datasets and the card selection of the discount calculation.
//
// The module's own list is used on the host's user-interface thread. A list
// that no one changes any more (once PrepareIndex has run) may serve
// selections on several threads at once: each selection works in scratch
// space of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "discounts/SmallArray.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo {

// The card's sequences. Entry i of the time, threshold and period groups
// belong together; within a group all sequences have one length. A card has
// a couple of entries in each as a rule, which its sequences keep inside the
// card (see TSmallArray); longer ones take one heap block each.
using TDynTimeArray = TSmallArray<double, 2>;      // times of day (whole part 0)
using TDynDateTimeArray = TSmallArray<double, 2>;  // day-based date-times
using TDynDoubleArray = TSmallArray<double, 2>;
using TDynCharArray = TSmallArray<char, 8>;  // one-byte units, see kUnitPercent
using TDynBooleanArray = TSmallArray<bool, 8>;

// A time discount whose amount is exactly this bans selling the card's goods
// during its interval.
inline constexpr double SaleBanAmount = 10000000.0;

// Units of a discount amount, as one Windows-1251 byte: percent of the amount
// the discount is taken from, or an absolute sum in roubles ("р", 0xF0). In
// the stored texts the rouble unit is written as the UTF-8 "р".
inline constexpr char kUnitPercent = '%';
inline constexpr char kUnitRouble = '\xF0';

// Whether a time discount's amount and unit make a sale ban: exactly
// SaleBanAmount roubles (the editor writes bans so). Any other entry is a
// discount, checked and computed as one. The list, its loading, the
// calculation, the host's check of the settings and the editor all decide
// by this.
constexpr bool IsSaleBan(double amount, char unit) { return amount == SaleBanAmount && unit == kUnitRouble; }

// What an encoding gives in place of a list text over kMaxListTextLength
// characters.
inline constexpr const char* kListTooLongText = "длина превышена";
inline constexpr std::size_t kMaxListTextLength = 255;
inline constexpr std::size_t kMaxDiscountNameLength = 100;

// 23:59:59.000, the default end of a card's daily window.
inline constexpr double kLastSecondOfDay = 86399.0 / 86400.0;

// Equality of two date-times or amounts in the discount lists: a difference
// of at most max(1e-12, 1e-12 * the smaller magnitude).
bool SameDiscountValue(double a, double b);

// An ordered list of texts with lookup that ignores letter case (Cyrillic
// included), hashed once the list is longer than a few texts. A text already
// present (letter case ignored) is not added a second time.
//
// The texts are kept packed one after another in one buffer (a card's
// targets are a handful of short identifiers as a rule), so that a list costs
// one heap block at most until it grows long enough to be hashed. Reading a
// text by position walks the buffer: iterate, or use ForEachText, to visit
// them all.
class THashedTextList {
 public:
  // Visits the texts in order, yielding each as a std::string.
  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::string;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string;

    const_iterator() = default;
    std::string operator*() const { return std::string(Current()); }
    const_iterator& operator++();
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }

   private:
    friend class THashedTextList;
    explicit const_iterator(const char* at) : at_(at) {}
    std::string_view Current() const;
    const char* at_ = nullptr;
  };

  THashedTextList();
  THashedTextList(const THashedTextList& other);
  THashedTextList& operator=(const THashedTextList& other);
  THashedTextList(THashedTextList&& other) noexcept;
  THashedTextList& operator=(THashedTextList&& other) noexcept;
  ~THashedTextList();

  void Add(std::string_view text);
  bool Contains(std::string_view text) const;
  void Clear();
  std::size_t Count() const { return count_; }
  // The text at a position from 0; "" outside the list.
  std::string operator[](std::size_t index) const;
  const_iterator begin() const { return const_iterator(packed_.data()); }
  const_iterator end() const { return const_iterator(packed_.data() + packed_.size()); }
  // Visits the texts in order without copying them.
  template <class Visit>
  void ForEachText(Visit&& visit) const {
    for (const_iterator it = begin(), last = end(); it != last; ++it) visit(it.Current());
  }

 private:
  // A card targets a handful of goods as a rule: up to this many texts are
  // compared one by one, which costs no memory beside the texts.
  static constexpr std::size_t kLinearCount = 8;
  struct TFoldedSet;
  void HashAll();

  // Each text as its length (7 bits a byte, low bits first, the high bit
  // set on every byte but the last) followed by its bytes.
  std::string packed_;
  std::uint32_t count_ = 0;
  // The folded texts; none while the list holds at most kLinearCount texts.
  std::unique_ptr<TFoldedSet> folded_;
};

// One automatic discount card. A new card is enabled, holds all day and every
// day, has no periods and gives no discount.
class TDiscountItem {
 public:
  TDiscountItem() = default;

  std::int32_t ID = 0;
  // UTF-8, at most kMaxDiscountNameLength characters: assign through
  // SetDiscountName, which cuts longer texts.
  std::string DiscountName;
  std::int32_t PayID = 0;
  double BTime = 0;                 // start of the daily window
  double ETime = kLastSecondOfDay;  // end of the daily window, inclusive
  bool AllDay = true;               // true: the daily window is ignored
  bool Enabled = true;
  // Bit d set: week day d counts (0 Monday .. 6 Sunday); bit 7 means nothing.
  std::uint8_t WeekDays = 0;
  bool AllWeek = true;  // true: WeekDays is ignored
  // 0: the receipt sum; 1: the chosen goods and categories; other values
  // apply to nothing.
  std::int16_t DiscountTarget = 0;
  std::int16_t Rules = 0;  // kept as loaded, not interpreted
  TDynTimeArray TimeBegin;
  TDynTimeArray TimeEnd;  // inclusive
  TDynDoubleArray TimeValue;
  TDynCharArray TimeUnit;
  TDynDoubleArray ThresholdSum;
  TDynDoubleArray ThresholdValue;
  TDynCharArray ThresholdUnit;
  TDynDateTimeArray PeriodBegin;  // inclusive
  TDynDateTimeArray PeriodEnd;    // inclusive
  TDynBooleanArray PeriodEnabled;
  // Targeted goods categories and articles, identifiers as decimal texts.
  THashedTextList Categories;
  THashedTextList Goods;

  void SetDiscountName(std::string_view utf8Name);

  // The stored text forms under the module's format settings
  // (TimeListText, ThresholdListText): entries ended by ";", times in the
  // long time format with every "00" shortened to "0", amounts as shortest
  // general numbers. A text over 255 characters is replaced by
  // kListTooLongText; the caller decides what to do with it.
  std::string EncodeTimeList() const;
  std::string EncodeThresholdList() const;
  // Replace the time or threshold sequences with the entries of a stored
  // text (ReadTimeList, ReadThresholdList). Malformed entries are skipped without a message; any text is safe.
  void DecodeTimeList(std::string_view text);
  void DecodeThresholdList(std::string_view text);

  // Whether the decimal text of id is in Categories (isCategory) or in Goods.
  bool IsTarget(std::int32_t id, bool isCategory) const;
  // Whether some period has this begin, end (SameDiscountValue) and flag.
  bool HasPeriod(bool enabled, double begin, double end) const;
  // In effect at the moment: enabled, in the daily window, on a chosen week
  // day, and in an enabled period (a card without periods holds always).
  bool IsActive(double moment) const;
  bool InPeriods(double moment) const;
  // 0 Monday .. 6 Sunday.
  static int WeekDayIndex(double moment);

  // The discount in money on amount: the larger of the threshold discount
  // (the highest threshold the amount reaches decides; an absolute amount is
  // scaled by amount / threshold when quantity > 0) and the largest time
  // discount in effect at the module clock's time of day (a tie goes to the
  // threshold). When the result is a sale ban's time discount (IsSaleBan),
  // its interval goes to *banBegin and *banEnd (either may be null), which
  // are 0 otherwise. Never NaN or infinite: an entry whose discount cannot be
  // computed (an infinite amount) gives nothing, and an absolute threshold
  // amount that cannot be scaled (threshold 0) is taken unchanged.
  double GetDiscount(double* banBegin, double* banEnd, double amount, double quantity) const;
  // The same at a given time of day (whole part 0, at most kLastSecondOfDay),
  // so that one calculation reads the clock once for all its cards.
  // *ban (when given) tells whether the result is a sale ban's.
  double GetDiscountAt(double* banBegin, double* banEnd, double amount, double quantity, double timeOfDay,
                       bool* ban = nullptr) const;
};

// The time of day that GetDiscount matches time discounts against: the module
// clock's, the last second of the day counted as 23:59:59.000.
double DiscountTimeOfDay();
// The same for a given moment instead of the clock's.
double DiscountTimeOfDayAt(double moment);

class TCardSelection;

// The module's discount cards, in the order the host's dataset delivered
// them. The list owns its cards.
//
// Besides the cards the list keeps a selection index: for each payment type
// its switched-on receipt cards, and its switched-on goods cards by targeted
// category and by targeted article, each in list order. The selections visit
// only the cards that can apply. FillDiscountList rebuilds the index when it
// has loaded the cards; Add, Clear and GetItem mark it stale, and the next
// selection then rebuilds it, so a card changed through GetItem is seen by
// the selections that follow. (A card changed through a pointer kept from
// before a selection needs Reindex.)
//
// Changing the list serves one thread. Selections of several threads may run
// on it together while nobody changes it and its index is current
// (PrepareIndex): the list lends each selection scratch space of its own.
class TDiscountList {
 public:
  TDiscountList();
  ~TDiscountList();
  TDiscountList(const TDiscountList&) = delete;
  TDiscountList& operator=(const TDiscountList&) = delete;

  // Appends the card (the list takes it over) and answers its position.
  std::int32_t Add(std::unique_ptr<TDiscountItem> card);
  // Makes room for this many cards in all, so that a load adds them without
  // moving the list.
  void Reserve(std::int32_t count);
  // Frees every card; a card that fails to be freed beeps and is passed over.
  void Clear();
  std::int32_t Count() const;
  // The card at a position from 0; EListError outside the list. Marks the
  // selection index stale (the caller may change the card).
  TDiscountItem* GetItem(std::int32_t index) const;

  // Rebuilds the selection index from the cards as they are now.
  void Reindex() const;
  // Rebuilds the index only when it is stale, so that the selections that
  // follow read the list and change nothing in it.
  void PrepareIndex() const;
  // Heap bytes held by the selection index and the selections' scratch space.
  std::size_t IndexBytes() const;

  // The first card whose trimmed name equals the trimmed text, letter case
  // ignored; nullptr when there is none.
  TDiscountItem* FindByName(std::string_view name) const;
  // A fresh card identifier from DiscountIDCounter: above LastDiscountID and
  // held by no card of the list. Each call consumes one.
  std::int32_t NewID();

  // The enabled receipt card (target 0) of the payment type with the largest
  // discount on amount at the moment; the first of equals; nullptr when no
  // card gives more than 0.
  TDiscountItem* FindCheckCard(std::int32_t payID, double amount, double moment) const;
  // The best goods card (target 1) for one receipt line: prices per unit.
  // With RSumCanNotBeLowThenZSum on, a card that would take the line below its
  // purchase value gives it nothing (a sale ban still counts).
  TDiscountItem* FindGoodsCard(std::int32_t categoryID, std::int32_t goodsID, double zPrice, double price,
                               std::int32_t payID, double moment, double quantity) const;
  // The largest discount one goods card gives on the sum of all the sale's
  // lines it targets, to four decimals. Reads GoodsIDs, CategoryIDs, Prices,
  // Quantities and PayID of the sale; EInvalidSale when a line sequence
  // is shorter than GoodsIDs.
  // The card that gave it goes to *winner (nullptr when none gave more than 0).
  double GoodsGroupDiscount(const TDiscountInData& sale, double moment, const TDiscountItem** winner = nullptr) const;

  struct TIndex;
  struct TPayGroup;
  struct TScratch;
  class TScratchPool;

 private:
  friend class TCardSelection;
  const TIndex& Index() const;

  std::vector<std::unique_ptr<TDiscountItem>> items_;
  // Derived from items_: rebuilt, never merged; only read by the selections.
  mutable std::unique_ptr<TIndex> index_;
  mutable bool stale_ = true;
  // The selections' scratch space, one piece for each selection alive.
  std::unique_ptr<TScratchPool> scratch_;
};

// One calculation's view of the discount list: the payment type, the moment
// of the sale, the time of day of the time discounts and the purchase floor
// fixed for all its selections, so that each card's in-effect test runs at
// most once however many lines ask for it. The three selections answer
// exactly as the list's own. Lives for one calculation on one thread; the
// list must not change meanwhile.
class TCardSelection {
 public:
  // The time of day from the module clock (DiscountTimeOfDay), and the floor
  // from RSumCanNotBeLowThenZSum as the module state holds it when a goods
  // card is sought: as the list's own selections take them.
  TCardSelection(const TDiscountList& list, std::int32_t payID, double moment);
  // Everything given: reads nothing of the module. timeOfDay as
  // DiscountTimeOfDayAt gives it; with purchaseFloor a goods card that would
  // take a line below its purchase value gives it nothing.
  TCardSelection(const TDiscountList& list, std::int32_t payID, double moment, double timeOfDay, bool purchaseFloor);
  ~TCardSelection();
  TCardSelection(const TCardSelection&) = delete;
  TCardSelection& operator=(const TCardSelection&) = delete;

  TDiscountItem* FindCheckCard(double amount);
  TDiscountItem* FindGoodsCard(std::int32_t categoryID, std::int32_t goodsID, double zPrice, double price,
                               double quantity);
  // The sale's PayID is not looked at: the selection's payment type counts.
  double GoodsGroupDiscount(const TDiscountInData& sale, const TDiscountItem** winner = nullptr);

  // The time of day the selections matched time discounts against.
  double TimeOfDay() const { return timeOfDay_; }

 private:
  bool Active(std::uint32_t position);

  const TDiscountList& list_;
  const TDiscountList::TIndex& index_;
  const TDiscountList::TPayGroup* group_;  // the payment type's cards; null when it has none
  double moment_;
  double timeOfDay_;
  bool purchaseFloor_;
  bool floorFromModule_ = false;      // RSumCanNotBeLowThenZSum instead of purchaseFloor_
  TDiscountList::TScratch* scratch_;  // lent by the list for the selection's life
  std::uint32_t generation_;
};

// Reloads the module's discount list from "SelvoDiscountDS" and its detail
// datasets "DiscountGoodsDS" and "ExclusionsDS". Every failure is raised
// again with "procedure FillDiscountList -> " in front of its message, its
// class kept; the cards read before the failure stay in the list.
void FillDiscountList();
// The same load into any list from the datasets of any data module, the
// failures as they are raised (without the operation's name). A null data
// module fails as a missing dataset does.
void LoadDiscountList(TDataModule* dataModule, TDiscountList& list);

}  // namespace selvo
