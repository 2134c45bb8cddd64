// The identifiers of new rows moved for a save: a new row whose identifier
// another computer stored meanwhile takes a free one, the rows that refer to
// it follow, and on rollback every moved value goes back. Apart from the
// dataset because it is the save's concern, not the cursor's or the log's:
// it only rewrites values of pending rows and remembers what they were.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/shopdb/ShopChangeLog.h"
#include "host/shopdb/ShopConnection.h"

namespace selvo::host {

class TShopIdentifierMoves {
 public:
  // The new rows among `pending` whose identifier (column `keyField`,
  // named `column` in `table`) is stored already take the next one above
  // every identifier stored or in `held`. Answers old -> new.
  std::map<std::int64_t, std::int64_t> MoveTaken(TShopConnection& connection, const std::string& dataSetName,
                                                 const std::string& table, const std::string& column, int keyField,
                                                 const std::vector<TShopRowPtr>& pending,
                                                 const std::vector<TShopRowPtr>& held);
  // Pending rows (not deleted) whose `field` holds a moved identifier take
  // its new one. Answers whether any did.
  bool Follow(int field, const std::vector<TShopRowPtr>& pending, const std::map<std::int64_t, std::int64_t>& moved);

  // The save is kept: the values stay as moved.
  void Committed() { moved_.clear(); }
  // Puts every moved value back; answers whether there were any.
  bool RolledBack();
  void Clear() { moved_.clear(); }

 private:
  // A value an open save moved, as it was before.
  struct TMovedValue {
    TShopRowPtr row;
    int field;
    TVariant before;
  };
  std::vector<TMovedValue> moved_;
};

}  // namespace selvo::host
