// The change log of a shop dataset ("cached updates"): the rows inserted,
// changed or deleted and not yet written, in the order they were made, and
// the entries written inside the host's open transaction, kept so that a
// rollback puts them back. Apart from the dataset so that what an entry is
// and how it comes and goes is in one place, not spread over the cursor.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

enum class TShopRowStatus : std::uint8_t { Unchanged, Inserted, Modified, Deleted };

struct TShopRow {
  std::vector<TVariant> values;
  // The values as the database holds them, kept while the row is Modified.
  std::vector<TVariant> original;
  std::int64_t rowid = 0;  // the row key; 0 for a row not yet in the table
  TShopRowStatus status = TShopRowStatus::Unchanged;
  std::uint64_t seq = 0;  // place in the change log
};
using TShopRowPtr = std::shared_ptr<TShopRow>;

class TShopChangeLog {
 public:
  // An entry as it was before it was written.
  struct TEntryState {
    TShopRowPtr row;
    TShopRowStatus status;
    std::vector<TVariant> original;
    std::uint64_t seq;
  };

  int Size() const { return static_cast<int>(entries_.size()); }
  // The rows of the entries, in the order they were made.
  std::vector<TShopRowPtr> Entries() const;

  void RecordInsert(const TShopRowPtr& row);
  // Before the row takes its new values: the loaded ones are kept for the
  // check that nobody else changed the row.
  void RecordChange(const TShopRowPtr& row);
  // A new row leaves the log with its delete; a changed one is deleted
  // where it still holds what was loaded.
  void RecordDelete(const TShopRowPtr& row);

  static TEntryState StateOf(const TShopRowPtr& row) { return {row, row->status, row->original, row->seq}; }
  // The entry was written: it leaves the log, and inside a transaction it
  // is kept to come back on rollback.
  void Written(TEntryState before, bool inTransaction);

  void TransactionCommitted() { applied_.clear(); }
  // The entries written inside the transaction come back as they were
  // before, in their places.
  void TransactionRolledBack();
  void Clear();

 private:
  void Add(const TShopRowPtr& row);

  std::map<std::uint64_t, TShopRowPtr> entries_;
  std::uint64_t nextSeq_ = 1;
  std::vector<TEntryState> applied_;
};

}  // namespace selvo::host
