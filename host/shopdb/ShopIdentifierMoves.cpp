#include "host/shopdb/ShopIdentifierMoves.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "host/shopdb/ShopValueConversion.h"

namespace selvo::host {

std::map<std::int64_t, std::int64_t> TShopIdentifierMoves::MoveTaken(
    TShopConnection& connection, const std::string& dataSetName, const std::string& table, const std::string& column,
    int keyField, const std::vector<TShopRowPtr>& pending, const std::vector<TShopRowPtr>& held) {
  std::map<std::int64_t, std::int64_t> moved;
  const std::string quotedTable = connection.Identifier(table);
  const std::string quotedColumn = connection.Identifier(column);
  const auto key = static_cast<std::size_t>(keyField);
  std::optional<std::int64_t> next;
  for (const TShopRowPtr& row : pending) {
    if (row->status != TShopRowStatus::Inserted) continue;
    const std::optional<std::int64_t> id = LinkKey(row->values[key]);
    if (!id) continue;
    if (std::holds_alternative<std::monostate>(connection.QueryValue(
            "SELECT 1 FROM " + quotedTable + " WHERE " + quotedColumn + " = $1", {TVariant(*id)})))
      continue;
    if (!next) {
      // Above every identifier stored and every one this computer holds.
      const std::optional<std::int64_t> stored =
          LinkKey(connection.QueryValue("SELECT MAX(" + quotedColumn + ") FROM " + quotedTable));
      std::int64_t highest = stored.value_or(0);
      for (const TShopRowPtr& other : held) highest = std::max(highest, LinkKey(other->values[key]).value_or(0));
      next = highest + 1;
    }
    if (*next > std::numeric_limits<std::int32_t>::max())
      throw EDatabaseError(dataSetName + ": нет свободного идентификатора для новой строки (" + quotedColumn + ")");
    moved_.push_back({row, keyField, row->values[key]});
    row->values[key] = TVariant(*next);
    moved[*id] = (*next)++;
  }
  return moved;
}

bool TShopIdentifierMoves::Follow(int field, const std::vector<TShopRowPtr>& pending,
                                  const std::map<std::int64_t, std::int64_t>& moved) {
  const auto index = static_cast<std::size_t>(field);
  bool followed = false;
  for (const TShopRowPtr& row : pending) {
    if (row->status == TShopRowStatus::Deleted) continue;
    const std::optional<std::int64_t> id = LinkKey(row->values[index]);
    if (!id) continue;
    const auto to = moved.find(*id);
    if (to == moved.end()) continue;
    moved_.push_back({row, field, row->values[index]});
    row->values[index] = TVariant(to->second);
    followed = true;
  }
  return followed;
}

bool TShopIdentifierMoves::RolledBack() {
  if (moved_.empty()) return false;
  for (auto it = moved_.rbegin(); it != moved_.rend(); ++it)
    it->row->values[static_cast<std::size_t>(it->field)] = it->before;
  moved_.clear();
  return true;
}

}  // namespace selvo::host
