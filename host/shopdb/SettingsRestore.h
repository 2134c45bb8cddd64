// Bringing back the settings of a past version as a new version, through
// the same checked save as the editor's: the shop is read as it stands and
// the version is loaded, the edits that make the one equal to the other are
// worked out (rows matched by the table's identifier, rows without one by
// their values), and the save writes them in one transaction with origin
// restore. Two steps, so that what happens between the read and the save
// (another computer's save) can be driven from outside.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/shopdb/ShopDataModule.h"

namespace selvo::host {

// What a restore changes in one table.
struct TRestoreCounts {
  std::string table;
  int deleted = 0;
  int changed = 0;
  int added = 0;
};

class TSettingsRestore {
 public:
  // Reads the shop at `database` and its version `number`. EDatabaseError
  // when the shop cannot be read, keeps no history or has no such version.
  TSettingsRestore(const std::string& database, std::int64_t number);
  ~TSettingsRestore();
  TSettingsRestore(const TSettingsRestore&) = delete;
  TSettingsRestore& operator=(const TSettingsRestore&) = delete;

  std::int64_t Restored() const { return number_; }
  // The version the shop stood at when it was read.
  std::int64_t ReadAt() const;
  // Per table, what the save would change; empty when the shop holds the
  // settings of that version already.
  std::vector<TRestoreCounts> Counts() const;
  bool Differs() const;

  // Writes the edits as one version of origin restore and answers its
  // number; 0 when nothing differs (nothing is written then). Deletes go
  // first (details before their masters), then changes, then new rows
  // (masters first), each keeping the identifier it had in that version.
  // EDatabaseError of kind Conflict when the shop was changed since it was
  // read (by anyone: the result would no longer be that version), and
  // EDatabaseError when the database refuses a row; either way the
  // transaction is rolled back and nothing is written. One save at most.
  std::int64_t Save();

 private:
  struct TTablePlan;
  void PlanTable(TShopDataSet& current, TShopDataSet& past);
  void CheckUnchangedSinceRead();
  void ApplyDeletes(TTablePlan& plan);
  void ApplyChanges(TTablePlan& plan);
  void ApplyInserts(TTablePlan& plan);

  std::int64_t number_;
  std::unique_ptr<TShopDataModule> current_;
  std::vector<TTablePlan> plans_;
  bool saved_ = false;
};

}  // namespace selvo::host
