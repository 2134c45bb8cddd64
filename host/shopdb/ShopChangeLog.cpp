#include "host/shopdb/ShopChangeLog.h"

namespace selvo::host {

std::vector<TShopRowPtr> TShopChangeLog::Entries() const {
  std::vector<TShopRowPtr> rows;
  rows.reserve(entries_.size());
  for (const auto& [seq, row] : entries_) rows.push_back(row);
  return rows;
}

void TShopChangeLog::Add(const TShopRowPtr& row) {
  row->seq = nextSeq_++;
  entries_[row->seq] = row;
}

void TShopChangeLog::RecordInsert(const TShopRowPtr& row) {
  row->status = TShopRowStatus::Inserted;
  Add(row);
}

void TShopChangeLog::RecordChange(const TShopRowPtr& row) {
  if (row->status != TShopRowStatus::Unchanged) return;
  row->original = row->values;
  row->status = TShopRowStatus::Modified;
  Add(row);
}

void TShopChangeLog::RecordDelete(const TShopRowPtr& row) {
  if (row->status == TShopRowStatus::Inserted) {
    // Never written: it leaves the log with the row.
    entries_.erase(row->seq);
    row->seq = 0;
    row->status = TShopRowStatus::Deleted;
    return;
  }
  const bool logged = row->status == TShopRowStatus::Modified;
  // The delete is written only where the row still holds what was loaded.
  if (logged) row->values = std::move(row->original);
  row->status = TShopRowStatus::Deleted;
  row->original.clear();
  if (!logged) Add(row);
}

void TShopChangeLog::Written(TEntryState before, bool inTransaction) {
  TShopRow& row = *before.row;
  if (row.status != TShopRowStatus::Deleted) row.status = TShopRowStatus::Unchanged;
  row.original.clear();
  row.seq = 0;
  entries_.erase(before.seq);
  if (inTransaction) applied_.push_back(std::move(before));
}

void TShopChangeLog::TransactionRolledBack() {
  for (auto it = applied_.rbegin(); it != applied_.rend(); ++it) {
    TShopRow& row = *it->row;
    const bool deletedSince = row.status == TShopRowStatus::Deleted && it->status != TShopRowStatus::Deleted;
    if (row.seq != 0) entries_.erase(row.seq);  // a change made after the apply
    switch (it->status) {
      case TShopRowStatus::Inserted:
        row.rowid = 0;
        row.original.clear();
        if (deletedSince) {
          row.seq = 0;  // inserted and deleted again: nothing to write
          continue;
        }
        row.status = TShopRowStatus::Inserted;
        break;
      case TShopRowStatus::Modified:
        if (!deletedSince) {
          row.status = TShopRowStatus::Modified;
          row.original = it->original;
        }
        break;
      case TShopRowStatus::Deleted: row.status = TShopRowStatus::Deleted; break;
      case TShopRowStatus::Unchanged: continue;
    }
    row.seq = it->seq;
    entries_[row.seq] = it->row;
  }
  applied_.clear();
}

void TShopChangeLog::Clear() {
  entries_.clear();
  applied_.clear();
}

}  // namespace selvo::host
