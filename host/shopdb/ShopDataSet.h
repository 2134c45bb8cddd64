// A dataset over one table of the shop database (SQLite or the server), kept
// in memory with a log of the changes not yet written ("cached updates"):
//
// - Open loads every row of the table in row key order; Close drops the
//   rows, a row being edited and the change log.
// - Post and Delete enter the log; ApplyUpdates writes it with SQL on the
//   data module's connection (inside the transaction the host opened, when
//   one is open). Entries that fail stay in the log, and inside a
//   transaction a failing entry (its write or the re-read of the written
//   row) undoes only its own writes.
// - A detail dataset presents only the rows whose link field equals that of
//   its master's current row, and follows the master as it moves.
//
// Field names compare without regard to letter case. Values are null,
// integers, reals or texts (UTF-8); a text assigned to a numeric field is
// converted with the module's format settings (a full stop is accepted as
// decimal separator as well, unless the settings group thousands with it),
// and a text that does not convert raises EConvertError naming the value and
// the field.
//
// This unit holds the cursor, the editing and the master-detail view; the
// value conversions, the change log, the SQL that writes it and the moves of
// new rows' identifiers each have a unit of their own beside it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/shopdb/ShopChangeLog.h"
#include "host/shopdb/ShopConnection.h"
#include "host/shopdb/ShopIdentifierMoves.h"
#include "host/shopdb/ShopSqlWriter.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

class TShopDataModule;
class TShopDataSet;

class TShopField final : public TField {
 public:
  TShopField(TShopDataSet& dataSet, int index, std::string name, TFieldKind kind);

  const std::string& FieldName() const override { return name_; }
  TFieldKind Kind() const { return kind_; }
  int Index() const { return index_; }
  bool IsNull() const override;
  std::int32_t AsInteger() const override;
  double AsFloat() const override;
  double AsDateTime() const override;
  std::string AsString() const override;
  void SetAsInteger(std::int32_t value) override;
  void SetAsFloat(double value) override;
  void SetAsDateTime(double value) override;
  void SetAsString(const std::string& value) override;
  void SetNull() override;

  // The stored value of the current row (null when there is none).
  const TVariant& Value() const;

 private:
  TShopDataSet& dataSet_;
  int index_;
  std::string name_;
  TFieldKind kind_;
};

class TShopDataSet final : public TDataSet {
 public:
  // A dataset named `name` over the table `table` of the module's
  // connection; the columns are read at once (EDatabaseError when the table
  // is not there). The dataset starts closed.
  TShopDataSet(TShopDataModule& module, std::string name, std::string table);
  ~TShopDataSet();
  TShopDataSet(const TShopDataSet&) = delete;
  TShopDataSet& operator=(const TShopDataSet&) = delete;

  const std::string& Name() const override { return name_; }
  const std::string& TableName() const { return table_; }

  void Open() override;
  void Close() override;
  bool Active() const override { return state_ != TDataSetState::dsInactive; }

  void First() override;
  void Next() override;
  bool Eof() const override;
  bool IsEmpty() const override;
  int RecordCount() const override;
  int RecNo() const override;
  // Positions outside 1..RecordCount leave the current row where it is.
  void SetRecNo(int recNo) override;

  TField& FieldByName(const std::string& name) override;
  TField* FindField(const std::string& name) override;
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TShopField& Field(int index) { return *fields_[static_cast<std::size_t>(index)]; }

  // Key values are converted to the field's type; a value that does not
  // convert matches nothing. loPartialKey matches texts by their beginning.
  bool Locate(const std::string& keyFields, const std::vector<TVariant>& keyValues, unsigned options) override;

  // Edit on an empty dataset appends, as the host's datasets do.
  void Edit() override;
  void Append() override;
  void Post() override;
  void Cancel() override;
  // In append state Delete abandons the new row.
  void Delete() override;
  bool Modified() const override { return modified_; }
  TDataSetState State() const override { return state_; }

  int ChangeCount() const override { return log_.Size(); }
  // Completes a row being edited first. A failing entry (a constraint, a
  // trigger that refuses, and inside a transaction a written row that
  // cannot be read back) is counted, its writes are undone and it stays in
  // the log; with maxErrors >= 0 the apply stops once more than maxErrors
  // entries failed. A change or delete is written only where the row still
  // holds what was loaded: a row that another computer changed or deleted
  // meanwhile raises EDatabaseError of kind Conflict naming the dataset and
  // the row, and the entry stays in the log. Raises EDatabaseError also when
  // the database rolled the host's whole transaction back (or the
  // connection was lost).
  int ApplyUpdates(int maxErrors) override;
  // The database's messages for the entries that failed in the last
  // ApplyUpdates.
  const std::vector<std::string>& ApplyErrors() const { return applyErrors_; }

  // Makes this dataset a detail of `master`: it presents the rows whose
  // linkField equals the master's current linkField. nullptr unlinks.
  void SetMaster(TShopDataSet* master, const std::string& linkField);
  TShopDataSet* Master() const { return master_; }

  // For a save, under its lock: a new row whose identifier (the table's
  // unique key column) another computer has stored meanwhile takes the next
  // one above every identifier stored or held here. Answers old -> new for
  // the rows moved.
  std::map<std::int64_t, std::int64_t> MoveTakenIdentifiers();
  // Pending rows (new or changed) whose `field` holds a moved identifier
  // take its new one: a card's targets follow their card.
  void FollowMovedIdentifiers(const std::string& field, const std::map<std::int64_t, std::int64_t>& moved);

  // Called by the data module when the host's transaction ends: entries
  // written inside it leave for good on commit, and come back into the log
  // on rollback, so that nothing the operator changed is lost. Identifiers
  // moved for the save move back on rollback.
  void TransactionCommitted();
  void TransactionRolledBack();

 private:
  friend class TShopField;

  using TRowStatus = TShopRowStatus;
  using TRow = TShopRow;
  using TRowPtr = TShopRowPtr;

  const TVariant& CurrentValue(int field) const;
  void SetCurrentValue(int field, TVariant value);
  void CheckActive() const;
  // Posts a changed row being edited or appended, cancels an unchanged one.
  void CheckBrowseMode();
  TShopField* Lookup(const std::string& name) const;
  [[noreturn]] void FieldNotFound(const std::string& name) const;

  // EDatabaseError (Corrupt) when a column that the shop keeps unique holds
  // one value in two rows.
  void RefuseRepeatedKeys(const std::vector<TRowPtr>& rows) const;
  void LoadRows();
  void RebuildView();
  void RebuildLinkIndex();
  bool LinkValue(std::int64_t& key) const;  // the master's current key
  void MasterChanged();
  void NotifyDetails();
  // Identifiers moved or moved back: the views over link values follow.
  void IdentifiersMoved();

  TShopDataModule& module_;
  std::string name_;
  std::string table_;
  TShopSqlWriter writer_;
  std::vector<std::unique_ptr<TShopField>> fields_;
  std::unordered_map<std::string, int> fieldIndex_;  // lower-case name -> index
  // The name as the table spells it -> index: callers mostly ask so, and
  // then no folding of letter case is needed.
  std::unordered_map<std::string, int> exactIndex_;

  TDataSetState state_ = TDataSetState::dsInactive;
  std::vector<TRowPtr> rows_;  // every row of the table, in order
  std::vector<TRowPtr> view_;  // the rows presented (a detail's filter)
  int cur_ = -1;               // index into view_, -1 for none
  bool eof_ = true;
  std::vector<TVariant> buffer_;  // the row being edited or appended
  int beforeAppend_ = -1;
  bool modified_ = false;

  TShopChangeLog log_;
  std::vector<std::string> applyErrors_;
  // The shop's identifier column of the table, -1 for none.
  int keyField_ = -1;
  TShopIdentifierMoves identifierMoves_;

  TShopDataSet* master_ = nullptr;
  int linkField_ = -1;        // in this dataset
  int masterLinkField_ = -1;  // in the master
  std::vector<TShopDataSet*> details_;
  std::unordered_map<std::int64_t, std::vector<TRowPtr>> linkIndex_;
  bool linkIndexValid_ = false;
};

}  // namespace selvo::host
