// The SQL a shop dataset writes its change log with: one entry's INSERT,
// UPDATE or DELETE on the data module's connection, the re-read of the
// written row, and the check that a change or delete meets the row as this
// computer loaded it (another computer's save is never overwritten unseen).
// Apart from the dataset so that the cursor knows nothing of SQL text and
// the conflict rules can be read in one place.
#pragma once

#include <string>
#include <vector>

#include "host/shopdb/ShopChangeLog.h"
#include "host/shopdb/ShopConnection.h"

namespace selvo::host {

class TShopDataModule;

class TShopSqlWriter {
 public:
  // Writes for the dataset `dataSetName` (as messages name it) over
  // `table`; both must outlive the writer.
  TShopSqlWriter(TShopDataModule& module, const std::string& dataSetName, const std::string& table);

  // The table's columns as the dataset's fields name them, and the shop's
  // identifier column among them (-1 for none).
  void SetColumns(std::vector<std::string> columns, int keyColumn);

  // The columns quoted for the connection, comma separated.
  std::string ColumnList() const;

  // Writes one entry (inside its own savepoint when a transaction is open)
  // and reads a written row back. A failure the entry alone caused is put
  // in `error` and answered false, with the row as it was; a Conflict (the
  // row changed elsewhere) is raised.
  bool Apply(TShopRow& row, std::string& error);

 private:
  void WriteEntry(TShopRow& row, bool mustReread);
  // The row as messages name it: its identifier, or its row key.
  std::string RowName(const TShopRow& row, const std::vector<TVariant>& loaded) const;
  // "rowid = $k AND <each column> IS NOT DISTINCT FROM $k+1 ...", its
  // values appended to params.
  std::string StillLoadedCondition(const TShopRow& row, const std::vector<TVariant>& loaded,
                                   std::vector<TVariant>& params) const;
  // Runs an UPDATE or DELETE (without WHERE) on the row as it was loaded;
  // Conflict when another computer changed or deleted it since.
  void WriteUnlessChangedElsewhere(const TShopRow& row, const std::string& sql, std::vector<TVariant> params,
                                   const std::vector<TVariant>& loaded);
  // Reads a written row back into row.values (the table's defaults and
  // triggers may have changed it). With mustSucceed a failed query or a row
  // that is not found raises EDatabaseError; without, it leaves the row.
  void RefreshRow(TShopRow& row, bool mustSucceed);

  TShopDataModule& module_;
  const std::string& dataSetName_;
  const std::string& table_;
  std::vector<std::string> columns_;
  int keyColumn_ = -1;
};

}  // namespace selvo::host
