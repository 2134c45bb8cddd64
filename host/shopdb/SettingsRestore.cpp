#include "host/shopdb/SettingsRestore.h"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>

#include "host/shopdb/SettingsAtVersion.h"
#include "host/shopdb/SettingsHistory.h"
#include "host/shopdb/ShopChain.h"
#include "host/shopdb/ShopSchema.h"
#include "host/shopdb/ShopValueConversion.h"
#include "platform/TextCodec.h"

namespace selvo::host {
namespace {

// A column's value to write: the field of the current dataset and the value.
using TFieldValues = std::vector<std::pair<int, TVariant>>;

bool SameValue(const TVariant& a, const TVariant& b) {
  const bool aNumber = std::holds_alternative<std::int64_t>(a) || std::holds_alternative<double>(a);
  const bool bNumber = std::holds_alternative<std::int64_t>(b) || std::holds_alternative<double>(b);
  if (aNumber && bNumber) {
    if (std::holds_alternative<std::int64_t>(a) && std::holds_alternative<std::int64_t>(b))
      return std::get<std::int64_t>(a) == std::get<std::int64_t>(b);
    const double x =
        std::holds_alternative<double>(a) ? std::get<double>(a) : static_cast<double>(std::get<std::int64_t>(a));
    const double y =
        std::holds_alternative<double>(b) ? std::get<double>(b) : static_cast<double>(std::get<std::int64_t>(b));
    return x == y;
  }
  return a == b;
}

// The table's identifier column (its first unique one); empty for none.
std::string IdentifierColumn(const std::string& table) {
  if (const TTableDef* def = FindShopTable(table))
    for (const TColumnDef& column : def->columns)
      if (column.unique) return column.name;
  return {};
}

int FieldIndex(TShopDataSet& dataSet, const std::string& name) {
  TField* field = dataSet.FindField(name);
  return field ? static_cast<TShopField*>(field)->Index() : -1;
}

void AssignValue(TShopField& field, const TVariant& value) {
  if (std::holds_alternative<std::monostate>(value)) {
    field.SetNull();
  } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
    if (*i >= std::numeric_limits<std::int32_t>::min() && *i <= std::numeric_limits<std::int32_t>::max())
      field.SetAsInteger(static_cast<std::int32_t>(*i));
    else
      field.SetAsFloat(static_cast<double>(*i));
  } else if (const auto* d = std::get_if<double>(&value)) {
    field.SetAsFloat(*d);
  } else {
    field.SetAsString(std::get<std::string>(value));
  }
}

void WriteValues(TShopDataSet& dataSet, const TFieldValues& values) {
  for (const auto& [index, value] : values) AssignValue(dataSet.Field(index), value);
}

// Writes what the dataset logged; a row the database refuses ends the
// restore with the database's reason.
void ApplyOrRefuse(TShopDataSet& dataSet) {
  if (dataSet.ApplyUpdates(0) == 0) return;
  std::string reasons;
  for (const std::string& error : dataSet.ApplyErrors()) reasons += (reasons.empty() ? "" : "; ") + error;
  throw EDatabaseError(dataSet.Name() + ": " + reasons);
}

}  // namespace

struct TSettingsRestore::TTablePlan {
  TShopDataSet* dataSet = nullptr;
  std::string identifier;  // the column the rows are matched by
  int identifierField = -1;
  // Row numbers in the unlinked dataset as read, highest first, so that
  // each delete leaves the numbers still to come in place.
  std::vector<int> deletes;
  struct TChange {
    std::int64_t identifier;
    TFieldValues values;
  };
  std::vector<TChange> changes;
  std::vector<TFieldValues> inserts;
};

TSettingsRestore::TSettingsRestore(const std::string& database, std::int64_t number) : number_(number) {
  std::unique_ptr<TShopDataModule> past = LoadSettingsVersion(database, number);
  current_ = std::make_unique<TShopDataModule>(database);
  // Every row of a detail table is compared, also those whose card is gone.
  for (TShopDataModule* module : {current_.get(), past.get()})
    for (TShopDataSet* dataSet : module->DataSets()) dataSet->SetMaster(nullptr, "");
  for (TShopDataSet* dataSet : current_->DataSets()) {
    auto* pastDataSet = static_cast<TShopDataSet*>(past->FindComponent(dataSet->Name()));
    if (pastDataSet) PlanTable(*dataSet, *pastDataSet);
  }
}

TSettingsRestore::~TSettingsRestore() = default;

std::int64_t TSettingsRestore::ReadAt() const { return current_->Version().number; }

void TSettingsRestore::PlanTable(TShopDataSet& current, TShopDataSet& past) {
  TTablePlan plan;
  plan.dataSet = &current;
  plan.identifier = IdentifierColumn(current.Name());
  plan.identifierField = plan.identifier.empty() ? -1 : FieldIndex(current, plan.identifier);
  const int pastIdentifier = plan.identifier.empty() ? -1 : FieldIndex(past, plan.identifier);
  // The past version's columns as the current dataset numbers them; a
  // column the table has lost since is left out.
  std::vector<std::pair<int, int>> columns;  // past field -> current field
  for (int i = 0; i < past.FieldCount(); ++i) {
    const int at = FieldIndex(current, past.Field(i).FieldName());
    if (at >= 0) columns.emplace_back(i, at);
  }
  auto identifierOf = [](TShopDataSet& dataSet, int field) -> std::optional<std::int64_t> {
    return field < 0 ? std::nullopt : LinkKey(dataSet.Field(field).Value());
  };

  // The current rows: by identifier, and those without one with their row number.
  std::map<std::int64_t, int> byIdentifier;
  std::vector<int> unnamed;
  for (int recNo = 1; recNo <= current.RecordCount(); ++recNo) {
    current.SetRecNo(recNo);
    if (const auto id = identifierOf(current, plan.identifierField))
      byIdentifier[*id] = recNo;
    else
      unnamed.push_back(recNo);
  }
  std::vector<bool> kept(static_cast<std::size_t>(current.RecordCount()) + 1, false);

  std::vector<std::vector<TVariant>> pastRows;
  for (int recNo = 1; recNo <= past.RecordCount(); ++recNo) {
    past.SetRecNo(recNo);
    std::vector<TVariant> values;
    for (const auto& [from, to] : columns) values.push_back(past.Field(from).Value());
    pastRows.push_back(std::move(values));
  }
  auto differences = [&](int recNo, const std::vector<TVariant>& values) {
    current.SetRecNo(recNo);
    TFieldValues changed;
    for (std::size_t c = 0; c < columns.size(); ++c)
      if (!SameValue(current.Field(columns[c].second).Value(), values[c]))
        changed.emplace_back(columns[c].second, values[c]);
    return changed;
  };
  auto allValues = [&](const std::vector<TVariant>& values) {
    TFieldValues all;
    for (std::size_t c = 0; c < columns.size(); ++c) all.emplace_back(columns[c].second, values[c]);
    return all;
  };

  for (int recNo = 1; recNo <= past.RecordCount(); ++recNo) {
    const std::vector<TVariant>& values = pastRows[static_cast<std::size_t>(recNo - 1)];
    past.SetRecNo(recNo);
    if (const auto id = identifierOf(past, pastIdentifier)) {
      const auto at = byIdentifier.find(*id);
      if (at == byIdentifier.end()) {
        plan.inserts.push_back(allValues(values));
        continue;
      }
      kept[static_cast<std::size_t>(at->second)] = true;
      TFieldValues changed = differences(at->second, values);
      if (!changed.empty()) plan.changes.push_back({*id, std::move(changed)});
      continue;
    }
    // A row without identifier stays when an equal one is there.
    const auto equal = std::find_if(unnamed.begin(), unnamed.end(), [&](int candidate) {
      return !kept[static_cast<std::size_t>(candidate)] && differences(candidate, values).empty();
    });
    if (equal != unnamed.end())
      kept[static_cast<std::size_t>(*equal)] = true;
    else
      plan.inserts.push_back(allValues(values));
  }
  for (int recNo = current.RecordCount(); recNo >= 1; --recNo)
    if (!kept[static_cast<std::size_t>(recNo)]) plan.deletes.push_back(recNo);
  plans_.push_back(std::move(plan));
}

std::vector<TRestoreCounts> TSettingsRestore::Counts() const {
  std::vector<TRestoreCounts> counts;
  for (const TTablePlan& plan : plans_) {
    TRestoreCounts c{plan.dataSet->Name(), static_cast<int>(plan.deletes.size()), static_cast<int>(plan.changes.size()),
                     static_cast<int>(plan.inserts.size())};
    if (c.deleted + c.changed + c.added > 0) counts.push_back(std::move(c));
  }
  return counts;
}

bool TSettingsRestore::Differs() const { return !Counts().empty(); }

void TSettingsRestore::CheckUnchangedSinceRead() {
  // Under the save's lock this save's own version is the highest; the one
  // below it is the newest anybody committed.
  TShopConnection& c = current_->Connection();
  const std::string versions = c.Identifier(SettingsHistoryTables().front());
  const std::int64_t newest = LinkKey(c.QueryValue("SELECT MAX(version) FROM " + versions +
                                                   " WHERE version < (SELECT MAX(version) FROM " + versions + ")"))
                                  .value_or(0);
  if (newest != ReadAt())
    throw EDatabaseError("настройки изменены после того, как восстановление их прочитало (версия " +
                             std::to_string(ReadAt()) + ", теперь " + std::to_string(newest) + ")",
                         TDatabaseErrorKind::Conflict);
}

void TSettingsRestore::ApplyDeletes(TTablePlan& plan) {
  for (int recNo : plan.deletes) {
    plan.dataSet->SetRecNo(recNo);
    plan.dataSet->Delete();
  }
  ApplyOrRefuse(*plan.dataSet);
}

void TSettingsRestore::ApplyChanges(TTablePlan& plan) {
  for (const TTablePlan::TChange& change : plan.changes) {
    if (!plan.dataSet->Locate(plan.identifier, {TVariant(change.identifier)}, 0))
      throw EDatabaseError(
          plan.dataSet->Name() + ": нет строки " + plan.identifier + " = " + std::to_string(change.identifier),
          TDatabaseErrorKind::Conflict);
    plan.dataSet->Edit();
    WriteValues(*plan.dataSet, change.values);
    plan.dataSet->Post();
  }
  ApplyOrRefuse(*plan.dataSet);
}

void TSettingsRestore::ApplyInserts(TTablePlan& plan) {
  for (const TFieldValues& values : plan.inserts) {
    plan.dataSet->Append();
    WriteValues(*plan.dataSet, values);
    plan.dataSet->Post();
  }
  ApplyOrRefuse(*plan.dataSet);
}

std::int64_t TSettingsRestore::Save() {
  if (saved_) throw EDatabaseError("восстановление версии " + std::to_string(number_) + " уже записано");
  saved_ = true;
  RefuseAtStation(current_->Connection());
  if (!Differs()) return 0;
  const std::string failed = "Восстановление версии " + std::to_string(number_) + " не записано: ";
  current_->SetSaveOrigin(kOriginRestore, number_);
  const std::int64_t readAt = current_->Version().number;
  if (!current_->Transaction("START"))
    throw EDatabaseError(failed + "база данных \"" + current_->Describe() + "\" не начала запись");
  try {
    CheckUnchangedSinceRead();
    // New rows are appended only now, inside the transaction: the moves of
    // taken identifiers at its start must not touch the identifiers the
    // version had.
    for (auto plan = plans_.rbegin(); plan != plans_.rend(); ++plan) ApplyDeletes(*plan);
    for (TTablePlan& plan : plans_) ApplyChanges(plan);
    for (TTablePlan& plan : plans_) ApplyInserts(plan);
  } catch (EDatabaseError& e) {
    current_->Transaction("ROLLBACK");
    e.SetMessage(failed + e.Message());
    throw;
  } catch (...) {
    current_->Transaction("ROLLBACK");
    throw;
  }
  if (!current_->Transaction("COMMIT"))
    throw EDatabaseError(failed + "база данных \"" + current_->Describe() + "\" не сохранила изменения");
  // The database may have found nothing to change (a value it stores as
  // it held it): then no version was written.
  const std::int64_t written = current_->Version().number;
  return written == readAt ? 0 : written;
}

}  // namespace selvo::host
