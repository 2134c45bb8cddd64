#include "host/shopdb/ShopDataSet.h"

#include <algorithm>
#include <set>

#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/ShopValueConversion.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

const TVariant kNull;

}  // namespace

// ---------------------------------------------------------------------------
// TShopField

TShopField::TShopField(TShopDataSet& dataSet, int index, std::string name, TFieldKind kind)
    : dataSet_(dataSet), index_(index), name_(std::move(name)), kind_(kind) {}

const TVariant& TShopField::Value() const { return dataSet_.CurrentValue(index_); }

bool TShopField::IsNull() const { return std::holds_alternative<std::monostate>(Value()); }

std::int32_t TShopField::AsInteger() const { return ValueAsInteger(Value(), name_); }

double TShopField::AsFloat() const { return ValueAsFloat(Value(), name_); }

double TShopField::AsDateTime() const { return ValueAsDateTime(Value(), name_); }

std::string TShopField::AsString() const { return ValueText(Value()); }

// The dataset is checked first: a closed one is the error, not the value.
void TShopField::SetAsInteger(std::int32_t value) {
  dataSet_.CheckActive();
  dataSet_.SetCurrentValue(index_, ValueFromInteger(kind_, value));
}

void TShopField::SetAsFloat(double value) {
  dataSet_.CheckActive();
  dataSet_.SetCurrentValue(index_, ValueFromFloat(kind_, value, name_));
}

void TShopField::SetAsDateTime(double value) {
  dataSet_.CheckActive();
  dataSet_.SetCurrentValue(index_, ValueFromDateTime(kind_, value, name_));
}

void TShopField::SetAsString(const std::string& value) {
  dataSet_.CheckActive();
  dataSet_.SetCurrentValue(index_, ValueFromString(kind_, value, name_));
}

void TShopField::SetNull() { dataSet_.SetCurrentValue(index_, TVariant()); }

// ---------------------------------------------------------------------------
// TShopDataSet: columns, state

TShopDataSet::TShopDataSet(TShopDataModule& module, std::string name, std::string table)
    : module_(module), name_(std::move(name)), table_(std::move(table)), writer_(module_, name_, table_) {
  for (TColumnInfo& column : module_.Connection().Columns(table_)) {
    // Fields are named as the shop spells them on a database that keeps
    // its names in lower case.
    if (module_.Connection().FoldsNames()) column.name = ShopColumnSpelling(name_, column.name);
    const int index = static_cast<int>(fields_.size());
    fieldIndex_.emplace(LowerCase(column.name), index);
    exactIndex_.emplace(column.name, index);
    fields_.push_back(std::make_unique<TShopField>(*this, index, std::move(column.name), column.kind));
  }
  if (fields_.empty()) throw EDatabaseError(name_ + ": в базе данных нет таблицы " + table_);
  if (const TTableDef* shopTable = FindShopTable(table_)) {
    for (const TColumnDef& column : shopTable->columns) {
      if (!column.unique) continue;
      if (const TShopField* field = Lookup(column.name)) keyField_ = field->Index();
      break;
    }
  }
  std::vector<std::string> columns;
  for (const auto& field : fields_) columns.push_back(field->FieldName());
  writer_.SetColumns(std::move(columns), keyField_);
}

TShopDataSet::~TShopDataSet() {
  if (master_) {
    auto& siblings = master_->details_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  for (TShopDataSet* detail : details_) detail->master_ = nullptr;
}

void TShopDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError(name_ + ": набор данных закрыт");
}

const TVariant& TShopDataSet::CurrentValue(int field) const {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert)
    return buffer_[static_cast<std::size_t>(field)];
  if (cur_ < 0) return kNull;
  return view_[static_cast<std::size_t>(cur_)]->values[static_cast<std::size_t>(field)];
}

void TShopDataSet::SetCurrentValue(int field, TVariant value) {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
    throw EDatabaseError(name_ + ": набор данных не в режиме редактирования или добавления");
  buffer_[static_cast<std::size_t>(field)] = std::move(value);
  modified_ = true;
  // A detail follows its master's link field as soon as it is assigned.
  for (TShopDataSet* detail : details_)
    if (detail->masterLinkField_ == field) detail->MasterChanged();
}

void TShopDataSet::CheckBrowseMode() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  if (modified_)
    Post();
  else
    Cancel();
}

TShopField* TShopDataSet::Lookup(const std::string& name) const {
  if (auto exact = exactIndex_.find(name); exact != exactIndex_.end())
    return fields_[static_cast<std::size_t>(exact->second)].get();
  auto it = fieldIndex_.find(LowerCase(name));
  return it == fieldIndex_.end() ? nullptr : fields_[static_cast<std::size_t>(it->second)].get();
}

void TShopDataSet::FieldNotFound(const std::string& name) const {
  throw EDatabaseError(name_ + ": поле '" + name + "' не найдено");
}

TField& TShopDataSet::FieldByName(const std::string& name) {
  TShopField* field = Lookup(name);
  if (!field) FieldNotFound(name);
  return *field;
}

TField* TShopDataSet::FindField(const std::string& name) { return Lookup(name); }

// ---------------------------------------------------------------------------
// Open, close, the rows presented

void TShopDataSet::LoadRows() {
  const std::string sql =
      "SELECT rowid, " + writer_.ColumnList() + " FROM " + module_.Connection().Identifier(table_) + " ORDER BY rowid";
  std::vector<TRowPtr> rows;
  try {
    module_.Connection().Query(sql, {}, [&](std::vector<TVariant>& values) {
      auto row = std::make_shared<TRow>();
      row->rowid = RowKey(values[0], table_);
      row->values.assign(std::make_move_iterator(values.begin() + 1), std::make_move_iterator(values.end()));
      rows.push_back(std::move(row));
    });
    RefuseRepeatedKeys(rows);
  } catch (EDatabaseError& e) {
    e.SetMessage(name_ + ": не удалось прочитать таблицу " + table_ + ": " + e.Message());
    throw;
  }
  rows_ = std::move(rows);
}

void TShopDataSet::RefuseRepeatedKeys(const std::vector<TRowPtr>& rows) const {
  // A table made elsewhere may lack the shop's unique keys: two rows of one
  // identifier would make one card of two, and an edit of the second would
  // overwrite the first.
  if (keyField_ < 0) return;
  const auto index = static_cast<std::size_t>(keyField_);
  std::set<TVariant> seen;
  for (const TRowPtr& row : rows) {
    const TVariant& key = row->values[index];
    if (std::holds_alternative<std::monostate>(key) || seen.insert(key).second) continue;
    throw EDatabaseError(
        "идентификатор " + VariantText(key) + " записан в столбце " + fields_[index]->FieldName() + " дважды",
        TDatabaseErrorKind::Corrupt);
  }
}

void TShopDataSet::Open() {
  if (Active()) return;
  LoadRows();
  state_ = TDataSetState::dsBrowse;
  linkIndexValid_ = false;
  RebuildView();
  NotifyDetails();
}

void TShopDataSet::Close() {
  if (!Active()) return;
  state_ = TDataSetState::dsInactive;
  rows_.clear();
  view_.clear();
  cur_ = -1;
  eof_ = true;
  buffer_.clear();
  modified_ = false;
  log_.Clear();
  identifierMoves_.Clear();
  linkIndex_.clear();
  linkIndexValid_ = false;
  NotifyDetails();
}

bool TShopDataSet::LinkValue(std::int64_t& key) const {
  if (!master_ || !master_->Active() || masterLinkField_ < 0) return false;
  const TVariant& value = master_->CurrentValue(masterLinkField_);
  auto k = LinkKey(value);
  if (!k) return false;
  key = *k;
  return true;
}

void TShopDataSet::RebuildLinkIndex() {
  linkIndex_.clear();
  for (const TRowPtr& row : rows_)
    if (auto k = LinkKey(row->values[static_cast<std::size_t>(linkField_)])) linkIndex_[*k].push_back(row);
  linkIndexValid_ = true;
}

void TShopDataSet::RebuildView() {
  view_.clear();
  if (!master_) {
    view_.reserve(rows_.size());
    for (const TRowPtr& row : rows_) view_.push_back(row);
  } else if (std::int64_t key = 0; LinkValue(key)) {
    if (!linkIndexValid_) RebuildLinkIndex();
    auto it = linkIndex_.find(key);
    if (it != linkIndex_.end()) view_ = it->second;
  }
  cur_ = view_.empty() ? -1 : 0;
  eof_ = view_.empty();
}

void TShopDataSet::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  RebuildView();
  NotifyDetails();
}

void TShopDataSet::NotifyDetails() {
  for (TShopDataSet* detail : details_) detail->MasterChanged();
}

void TShopDataSet::SetMaster(TShopDataSet* master, const std::string& linkField) {
  if (master_) {
    auto& siblings = master_->details_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  master_ = nullptr;
  linkField_ = masterLinkField_ = -1;
  if (master) {
    TShopField* own = Lookup(linkField);
    TShopField* theirs = master->Lookup(linkField);
    if (!own) FieldNotFound(linkField);
    if (!theirs) master->FieldNotFound(linkField);
    master_ = master;
    linkField_ = own->Index();
    masterLinkField_ = theirs->Index();
    master->details_.push_back(this);
  }
  linkIndexValid_ = false;
  if (Active()) {
    CheckBrowseMode();
    RebuildView();
  }
}

// ---------------------------------------------------------------------------
// Navigation

void TShopDataSet::First() {
  CheckActive();
  CheckBrowseMode();
  cur_ = view_.empty() ? -1 : 0;
  eof_ = view_.empty();
  NotifyDetails();
}

void TShopDataSet::Next() {
  CheckActive();
  CheckBrowseMode();
  if (cur_ + 1 < static_cast<int>(view_.size())) {
    ++cur_;
    eof_ = false;
    NotifyDetails();
  } else {
    eof_ = true;
  }
}

bool TShopDataSet::Eof() const {
  if (!Active()) return true;
  if (state_ == TDataSetState::dsInsert) return false;
  return eof_;
}

bool TShopDataSet::IsEmpty() const {
  if (!Active()) return true;
  if (state_ == TDataSetState::dsInsert) return false;
  return view_.empty();
}

int TShopDataSet::RecordCount() const { return Active() ? static_cast<int>(view_.size()) : 0; }

int TShopDataSet::RecNo() const {
  if (!Active()) return 0;
  if (state_ == TDataSetState::dsInsert) return static_cast<int>(view_.size()) + 1;
  return cur_ + 1;
}

void TShopDataSet::SetRecNo(int recNo) {
  CheckActive();
  CheckBrowseMode();
  if (recNo < 1 || recNo > static_cast<int>(view_.size())) return;
  cur_ = recNo - 1;
  eof_ = false;
  NotifyDetails();
}

bool TShopDataSet::Locate(const std::string& keyFields, const std::vector<TVariant>& keyValues, unsigned options) {
  CheckActive();
  const std::vector<std::string> names = SplitKeyFields(keyFields);
  std::vector<TShopField*> keys;
  for (const std::string& name : names) {
    TShopField* field = Lookup(name);
    if (!field) FieldNotFound(name);
    keys.push_back(field);
  }
  if (keys.empty() || keys.size() != keyValues.size())
    throw EDatabaseError(name_ + ": число значений ключа (" + std::to_string(keyValues.size()) +
                         ") не совпадает с числом полей ключа '" + keyFields + "'");
  CheckBrowseMode();
  for (std::size_t r = 0; r < view_.size(); ++r) {
    const TRow& row = *view_[r];
    bool match = true;
    for (std::size_t k = 0; k < keys.size() && match; ++k)
      match =
          KeyMatches(row.values[static_cast<std::size_t>(keys[k]->Index())], keyValues[k], keys[k]->Kind(), options);
    if (match) {
      cur_ = static_cast<int>(r);
      eof_ = false;
      NotifyDetails();
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// Editing

void TShopDataSet::Edit() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (view_.empty() || cur_ < 0) {
    Append();
    return;
  }
  buffer_ = view_[static_cast<std::size_t>(cur_)]->values;
  modified_ = false;
  state_ = TDataSetState::dsEdit;
}

void TShopDataSet::Append() {
  CheckActive();
  CheckBrowseMode();
  beforeAppend_ = cur_;
  buffer_.assign(fields_.size(), TVariant());
  // A new detail row belongs to the master's current row.
  if (std::int64_t key = 0; master_ && LinkValue(key)) buffer_[static_cast<std::size_t>(linkField_)] = key;
  modified_ = false;
  state_ = TDataSetState::dsInsert;
  NotifyDetails();
}

void TShopDataSet::Post() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit) {
    if (modified_) {
      const TRowPtr& current = view_[static_cast<std::size_t>(cur_)];
      if (linkField_ >= 0 &&
          buffer_[static_cast<std::size_t>(linkField_)] != current->values[static_cast<std::size_t>(linkField_)])
        linkIndexValid_ = false;
      log_.RecordChange(current);
      current->values = std::move(buffer_);
    }
  } else if (state_ == TDataSetState::dsInsert) {
    auto row = std::make_shared<TRow>();
    row->values = std::move(buffer_);
    log_.RecordInsert(row);
    if (linkField_ >= 0 && linkIndexValid_) {
      if (auto k = LinkKey(row->values[static_cast<std::size_t>(linkField_)])) linkIndex_[*k].push_back(row);
    }
    view_.push_back(row);
    rows_.push_back(std::move(row));
    cur_ = static_cast<int>(view_.size()) - 1;
    eof_ = false;
  } else {
    throw EDatabaseError(name_ + ": набор данных не в режиме редактирования или добавления");
  }
  buffer_.clear();
  modified_ = false;
  state_ = TDataSetState::dsBrowse;
  NotifyDetails();
}

void TShopDataSet::Cancel() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  if (state_ == TDataSetState::dsInsert) {
    cur_ = std::min(beforeAppend_, static_cast<int>(view_.size()) - 1);
    if (cur_ < 0 && !view_.empty()) cur_ = 0;
    eof_ = view_.empty();
  }
  buffer_.clear();
  modified_ = false;
  state_ = TDataSetState::dsBrowse;
  NotifyDetails();
}

void TShopDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (state_ == TDataSetState::dsEdit) Cancel();
  if (view_.empty() || cur_ < 0) throw EDatabaseError(name_ + ": операция невозможна для пустого набора данных");
  TRowPtr row = view_[static_cast<std::size_t>(cur_)];
  rows_.erase(std::find(rows_.begin(), rows_.end(), row));
  view_.erase(view_.begin() + cur_);
  if (linkField_ >= 0 && linkIndexValid_) {
    if (auto k = LinkKey(row->values[static_cast<std::size_t>(linkField_)])) {
      auto& bucket = linkIndex_[*k];
      bucket.erase(std::remove(bucket.begin(), bucket.end(), row), bucket.end());
    }
  }
  log_.RecordDelete(row);
  if (cur_ >= static_cast<int>(view_.size())) cur_ = static_cast<int>(view_.size()) - 1;
  eof_ = view_.empty();
  NotifyDetails();
}

// ---------------------------------------------------------------------------
// Writing the change log

int TShopDataSet::ApplyUpdates(int maxErrors) {
  CheckActive();
  CheckBrowseMode();
  applyErrors_.clear();
  TShopConnection& connection = module_.Connection();
  const bool inTransaction = connection.InTransaction();
  int failures = 0;
  for (const TRowPtr& row : log_.Entries()) {
    TShopChangeLog::TEntryState before = TShopChangeLog::StateOf(row);
    std::string error;
    if (writer_.Apply(*row, error)) {
      log_.Written(std::move(before), inTransaction);
      continue;
    }
    ++failures;
    applyErrors_.push_back(error);
    if (inTransaction && !connection.InTransaction()) {
      // A trigger, the database itself or a lost connection ended the
      // host's transaction: everything written in it is gone, so it must
      // not look applied.
      module_.NotifyTransactionEnd(false);
      throw EDatabaseError(name_ + ": транзакция отменена базой данных: " + error);
    }
    if (maxErrors >= 0 && failures > maxErrors) break;
  }
  return failures;
}

// ---------------------------------------------------------------------------
// Identifiers of new rows

std::map<std::int64_t, std::int64_t> TShopDataSet::MoveTakenIdentifiers() {
  if (!Active() || keyField_ < 0) return {};
  CheckBrowseMode();
  std::map<std::int64_t, std::int64_t> moved = identifierMoves_.MoveTaken(
      module_.Connection(), name_, table_, fields_[static_cast<std::size_t>(keyField_)]->FieldName(), keyField_,
      log_.Entries(), rows_);
  if (!moved.empty()) IdentifiersMoved();
  return moved;
}

void TShopDataSet::FollowMovedIdentifiers(const std::string& field, const std::map<std::int64_t, std::int64_t>& moved) {
  const TShopField* shopField = Lookup(field);
  if (!Active() || !shopField || moved.empty()) return;
  CheckBrowseMode();
  if (identifierMoves_.Follow(shopField->Index(), log_.Entries(), moved)) IdentifiersMoved();
}

void TShopDataSet::IdentifiersMoved() {
  linkIndexValid_ = false;
  if (master_) RebuildView();  // this dataset's link values moved
  NotifyDetails();
}

void TShopDataSet::TransactionCommitted() {
  log_.TransactionCommitted();
  identifierMoves_.Committed();
}

void TShopDataSet::TransactionRolledBack() {
  log_.TransactionRolledBack();
  // Identifiers moved for this save go back: the module holds its new rows
  // under the numbers it gave them, and the next save checks them anew.
  if (identifierMoves_.RolledBack()) IdentifiersMoved();
}

}  // namespace selvo::host
