#include "host/shopdb/ShopSchema.h"

#include <unistd.h>

#include <memory>

#include "host/shopdb/SettingsHistory.h"
#include "host/shopdb/ShopChain.h"
#include "platform/TextCodec.h"
#include "selvo/SelvoPaymentsTypes.h"

namespace selvo::host {

namespace {

constexpr TFieldKind kInteger = TFieldKind::Integer;
constexpr TFieldKind kReal = TFieldKind::Real;
constexpr TFieldKind kText = TFieldKind::Text;

// A column that must hold a value, with the value a new row gets.
TColumnDef Required(const std::string& name, TFieldKind kind, const std::string& defaultValue) {
  return {name, kind, true, false, defaultValue};
}
// A column that may stay null.
TColumnDef Optional(const std::string& name, TFieldKind kind) { return {name, kind, false, false, ""}; }
// An identifier column: no two rows share a value.
TColumnDef Unique(const std::string& name) { return {name, kInteger, false, true, ""}; }

}  // namespace

std::vector<TTableDef> ShopTables(const TSchemaOptions& options) {
  TTableDef payment{"Payment",
                    {{"ID", kInteger, true, true, ""},
                     Required("Name", kText, "''"),
                     Required("Type", kInteger, "0"),
                     Required("Check", kInteger, "0"),
                     Required("Discount", kReal, "0"),
                     Required("Enabled", kInteger, "1")},
                    {}};
  if (options.checkItogPrec) {
    payment.columns.push_back(Required("CheckItogPrec", kInteger, "1"));
    payment.columns.push_back(Required("CheckPrecLimit", kReal, "0"));
  }
  if (options.gsmVO) payment.columns.push_back(Required("GsmVO", kInteger, "0"));
  if (options.customCheck) {
    payment.columns.push_back(Optional("CUSTOMCHECK", kText));
    payment.columns.push_back(Required("PRINTCUSTOMCHECK", kInteger, "0"));
  }
  // The discount tables have no defaults: a null column means "the card's
  // default" to the module, so a row written by hand keeps that meaning.
  return {
      payment,
      {"SelvoDiscountDS",
       {Unique("td_ID"), Optional("td_DiscountName", kText), Optional("PayID", kInteger), Optional("td_BTime", kReal),
        Optional("td_ETime", kReal), Optional("td_AllDay", kInteger), Optional("td_Enabled", kInteger),
        Optional("td_WeekDays", kInteger), Optional("td_AllWeek", kInteger), Optional("td_Threshold", kText),
        Optional("td_DiscountTarget", kInteger), Optional("td_Rules", kInteger), Optional("td_TimeDscList", kText)},
       {}},
      {"DiscountGoodsDS",
       {Unique("dg_ID"), Optional("td_ID", kInteger), Optional("td_IsCategory", kInteger),
        Optional("ID_Target", kInteger)},
       {"td_ID"}},
      {"ExclusionsDS",
       {Unique("ex_ID"), Optional("td_ID", kInteger), Optional("ex_BDateTime", kReal), Optional("ex_EDateTime", kReal),
        Optional("ex_Enabled", kInteger)},
       {"td_ID"}},
      {"KeyTovar", {Unique("ID_Category"), Optional("Name", kText), Optional("CheckField", kInteger)}, {}},
      {"Goods",
       {Unique("ID_Goods"), Optional("ID_Category", kInteger), Optional("Name", kText), Optional("Price", kReal),
        Optional("ZPrice", kReal), Optional("Kolvo", kReal)},
       {"ID_Category"}},
  };
}

const TTableDef* FindShopTable(const std::string& name) {
  static const std::vector<TTableDef> tables = ShopTables();
  for (const TTableDef& table : tables)
    if (SameText(table.name, name)) return &table;
  return nullptr;
}

std::string ShopColumnSpelling(const std::string& table, const std::string& column) {
  if (const TTableDef* def = FindShopTable(table))
    for (const TColumnDef& c : def->columns)
      if (SameText(c.name, column)) return c.name;
  return column;
}

const std::vector<std::string>& ShopTableNames() {
  static const std::vector<std::string> names = {"Payment",      "SelvoDiscountDS", "DiscountGoodsDS",
                                                 "ExclusionsDS", "KeyTovar",        "Goods"};
  return names;
}

const std::vector<TDetailLink>& ShopDetailLinks() {
  static const std::vector<TDetailLink> links = {{"DiscountGoodsDS", "SelvoDiscountDS", "td_ID"},
                                                 {"ExclusionsDS", "SelvoDiscountDS", "td_ID"}};
  return links;
}

const std::vector<TReference>& ShopReferences() {
  static const std::vector<TReference> references = {{"SelvoDiscountDS", "PayID", "Payment"},
                                                     {"DiscountGoodsDS", "td_ID", "SelvoDiscountDS"},
                                                     {"ExclusionsDS", "td_ID", "SelvoDiscountDS"}};
  return references;
}

void CreateShopSchema(TShopConnection& connection, const TSchemaOptions& options) {
  for (const TTableDef& table : ShopTables(options)) {
    try {
      connection.CreateTable(table);
    } catch (EDatabaseError& e) {
      e.SetMessage("Не удалось создать таблицу " + table.name + ": " + e.Message());
      throw;
    }
  }
}

void BuildShopDatabase(const std::string& database, bool overwrite, const TSchemaOptions& options,
                       const TDatabaseFill& fillRows) {
  if (IsServerAddress(database)) RefuseNewShopInChain(*OpenShopConnection(database));
  // The file replaced, read before the new one takes its name.
  std::unique_ptr<TShopConnection> replaced;
  if (overwrite && !IsServerAddress(database) && access(database.c_str(), F_OK) == 0) {
    try {
      replaced = OpenShopConnection(database);
    } catch (const EDatabaseError&) {
      // Not a database one can read: there is no history to keep.
    }
  }
  // Held until the new file has the name: no save of another computer
  // lands in the old one after its history was carried over.
  // (Another computer's save under way makes the new shop wait for it, or
  // refuses it after the busy wait.)
  bool carried = false;
  try {
    carried = replaced && HasSettingsHistory(*replaced);
  } catch (const EDatabaseError&) {
    replaced.reset();  // damaged: nothing to keep
  }
  if (carried) replaced->Begin();
  BuildDatabase(database, overwrite, ShopTableNames(), [&](TShopConnection& connection) {
    CreateShopSchema(connection, options);
    if (!HasSettingsHistory(connection)) {
      InstallSettingsHistory(connection);
      if (carried) CarrySettingsHistory(*replaced, connection);
    } else {
      InstallSettingsHistory(connection);  // the triggers follow the new tables
    }
    const TSettingsVersion version = BeginSettingsVersion(connection, kOriginInit);
    fillRows(connection);
    FinishSettingsVersion(connection, version);
  });
  if (replaced) replaced->RollbackIfOpen();
}

void CreateShopDatabase(const std::string& database, bool overwrite, const TSchemaOptions& options) {
  BuildShopDatabase(database, overwrite, options, [](TShopConnection&) {});
}

}  // namespace selvo::host
