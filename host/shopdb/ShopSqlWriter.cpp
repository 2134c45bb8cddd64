#include "host/shopdb/ShopSqlWriter.h"

#include "host/shopdb/ShopDataModule.h"
#include "host/shopdb/ShopValueConversion.h"

namespace selvo::host {

TShopSqlWriter::TShopSqlWriter(TShopDataModule& module, const std::string& dataSetName, const std::string& table)
    : module_(module), dataSetName_(dataSetName), table_(table) {}

void TShopSqlWriter::SetColumns(std::vector<std::string> columns, int keyColumn) {
  columns_ = std::move(columns);
  keyColumn_ = keyColumn;
}

std::string TShopSqlWriter::ColumnList() const {
  std::string list;
  for (const std::string& column : columns_)
    list += (list.empty() ? "" : ", ") + module_.Connection().Identifier(column);
  return list;
}

void TShopSqlWriter::RefreshRow(TShopRow& row, bool mustSucceed) {
  const std::string sql =
      "SELECT " + ColumnList() + " FROM " + module_.Connection().Identifier(table_) + " WHERE rowid = $1";
  std::vector<TVariant> values;
  bool found = false;
  try {
    module_.Connection().Query(sql, {TVariant(row.rowid)}, [&](std::vector<TVariant>& read) {
      values = std::move(read);
      found = true;
    });
  } catch (EDatabaseError& e) {
    // Outside a transaction the row stays written whatever the re-read does:
    // counting it as failed would write it a second time.
    if (!mustSucceed) return;
    e.SetMessage("не удалось перечитать записанную строку таблицы " + table_ + ": " + e.Message());
    throw;
  }
  if (!found) {
    if (!mustSucceed) return;
    throw EDatabaseError("записанная строка не найдена в таблице " + table_ + " при повторном чтении");
  }
  row.values = std::move(values);
}

std::string TShopSqlWriter::RowName(const TShopRow& row, const std::vector<TVariant>& loaded) const {
  if (keyColumn_ < 0) return "rowid = " + std::to_string(row.rowid);
  return columns_[static_cast<std::size_t>(keyColumn_)] + " = " +
         VariantText(loaded[static_cast<std::size_t>(keyColumn_)]);
}

std::string TShopSqlWriter::StillLoadedCondition(const TShopRow& row, const std::vector<TVariant>& loaded,
                                                 std::vector<TVariant>& params) const {
  TShopConnection& connection = module_.Connection();
  params.emplace_back(row.rowid);
  std::string condition = "rowid = $" + std::to_string(params.size());
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    params.push_back(loaded[i]);
    condition +=
        " AND " + connection.Identifier(columns_[i]) + " IS NOT DISTINCT FROM $" + std::to_string(params.size());
  }
  return condition;
}

void TShopSqlWriter::WriteUnlessChangedElsewhere(const TShopRow& row, const std::string& sql,
                                                 std::vector<TVariant> params, const std::vector<TVariant>& loaded) {
  TShopConnection& connection = module_.Connection();
  const std::string table = connection.Identifier(table_);
  const std::string where = StillLoadedCondition(row, loaded, params);
  if (connection.Query(sql + " WHERE " + where, params, nullptr) > 0) return;
  // Nothing written: the row is gone or holds another computer's values,
  // unless a trigger of the table skipped the write.
  std::vector<TVariant> check;
  const std::string stillThere = StillLoadedCondition(row, loaded, check);
  if (std::holds_alternative<std::monostate>(
          connection.QueryValue("SELECT 1 FROM " + table + " WHERE " + stillThere, check)))
    throw EDatabaseError(
        dataSetName_ + ": строку " + RowName(row, loaded) + " после загрузки изменил или удалил другой компьютер",
        TDatabaseErrorKind::Conflict);
  throw EDatabaseError("строка не записана в таблицу " + table_);
}

// Writes one log entry and reads a written row back; raises EDatabaseError
// when the database refuses it, or, with mustReread, when the re-read fails.
// A change or delete is written only where the row still holds the values
// this computer loaded: another computer's save is never overwritten unseen.
void TShopSqlWriter::WriteEntry(TShopRow& row, bool mustReread) {
  TShopConnection& connection = module_.Connection();
  const std::string table = connection.Identifier(table_);
  auto placeholder = [](std::size_t index) { return "$" + std::to_string(index + 1); };
  std::vector<TVariant> params;
  switch (row.status) {
    case TShopRowStatus::Inserted: {
      // Null columns are left out so that the table's defaults apply.
      std::string names, marks;
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (std::holds_alternative<std::monostate>(row.values[i])) continue;
        names += (params.empty() ? "" : ", ") + connection.Identifier(columns_[i]);
        marks += (params.empty() ? "" : ", ") + placeholder(params.size());
        params.push_back(row.values[i]);
      }
      std::string sql = "INSERT INTO " + table;
      sql += params.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + marks + ")";
      const TVariant key = connection.QueryValue(sql + " RETURNING rowid", params);
      // No key comes back when a trigger skipped the row (RAISE(IGNORE) on
      // SQLite, a BEFORE trigger answering NULL on the server).
      if (std::holds_alternative<std::monostate>(key)) throw EDatabaseError("строка не записана в таблицу " + table_);
      row.rowid = RowKey(key, table_);
      RefreshRow(row, mustReread);
      break;
    }
    case TShopRowStatus::Modified: {
      std::string assignments;
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (row.values[i] == row.original[i]) continue;
        assignments +=
            (params.empty() ? "" : ", ") + connection.Identifier(columns_[i]) + " = " + placeholder(params.size());
        params.push_back(row.values[i]);
      }
      if (params.empty()) break;
      WriteUnlessChangedElsewhere(row, "UPDATE " + table + " SET " + assignments, std::move(params), row.original);
      RefreshRow(row, mustReread);
      break;
    }
    case TShopRowStatus::Deleted: WriteUnlessChangedElsewhere(row, "DELETE FROM " + table, {}, row.values); break;
    case TShopRowStatus::Unchanged: break;
  }
}

bool TShopSqlWriter::Apply(TShopRow& row, std::string& error) {
  TShopConnection& connection = module_.Connection();
  // Inside a transaction the write and its re-read share the entry's
  // savepoint: a re-read that fails undoes the write, and the entry fails
  // alone instead of spoiling the transaction for every entry after it.
  const bool inTransaction = connection.InTransaction();
  const std::int64_t rowid = row.rowid;
  try {
    connection.Isolated([&] { WriteEntry(row, inTransaction); });
  } catch (const EDatabaseError& e) {
    row.rowid = rowid;  // an insert that was undone has no key
    // A row another computer changed is not this entry's fault: the save
    // as a whole is out of date.
    if (e.Kind() == TDatabaseErrorKind::Conflict) throw;
    error = e.Message();
    return false;
  }
  return true;
}

}  // namespace selvo::host
