// The payment type dialog's logic without widgets: what it opens with, the
// checks of a confirmation, and what a confirmation stores, against the
// sample shop and a real Selvo.ini.
#include "payments/EditPaymentU.h"

#include <gmock/gmock.h>

#include "host/shopdb/ShopSchema.h"
#include "tests/payments/PaymentShop.h"

namespace selvo {
namespace {

using test::PaymentShop;

class EditPaymentTest : public ::testing::Test {
 protected:
  TPaymentEdit Open(const std::string& name) {
    const std::int32_t index = PaymentShop::IndexOf(name);
    EXPECT_GE(index, 0) << name;
    return OpenPaymentEdit(shop.Payments(), index);
  }
  void Store(const TPaymentEdit& edit) {
    StorePaymentEdit(shop.Payments(), edit);
    FillPaymentsList();
  }

  PaymentShop shop;
};

TEST_F(EditPaymentTest, OpensWithWhatTheNameAndTheDatasetDecide) {
  struct Case {
    const char* name;
    bool nameEnabled, terminalVisible, useDscCardValueVisible;
    std::optional<std::int32_t> baseCode;
    int addVOIndex;
  };
  const Case cases[] = {
      {"наличные", false, false, true, 0, 0},
      {"ЛНР", false, true, false, 6, 0},
      {"платежный терминал", false, true, true, 1, 0},
      {"дисконтная карта", false, false, false, 10, 0},
      {"ЛБР", false, true, false, 12, 0},
      {"Бонусы", true, false, true, 10, 1},  // GsmVO 110
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TPaymentEdit edit = Open(c.name);
    EXPECT_EQ(edit.name, c.name);
    EXPECT_EQ(edit.nameEnabled, c.nameEnabled);
    EXPECT_EQ(edit.terminalVisible, c.terminalVisible);
    EXPECT_EQ(edit.useDscCardValueVisible, c.useDscCardValueVisible);
    EXPECT_EQ(edit.baseGsmCode, c.baseCode);
    EXPECT_EQ(edit.addVOIndex, c.addVOIndex);
    EXPECT_TRUE(edit.itogVisible && edit.gsmEnabled && edit.customCheckEnabled);
  }
  const TPaymentEdit statement = Open("Ведомость");
  EXPECT_EQ(statement.itogPrec, 100);
  EXPECT_EQ(statement.itogPrecLimit, 1000);
  EXPECT_EQ(statement.discount, 1.5);
  EXPECT_THAT(statement.customCheck, ::testing::HasSubstr("ПОЛУЧИЛ"));
  EXPECT_EQ(Open("наличные").customCheck, DefaultCustomCheck());
  EXPECT_FALSE(Open("Сертификат").enabled);

  const TPaymentEdit adding = OpenPaymentEdit(shop.Payments(), -1);
  EXPECT_EQ(adding.name, "Новый вид оплаты");
  EXPECT_FALSE(adding.terminalVisible || adding.itogVisible || adding.baseGsmCode);
  EXPECT_EQ(adding.customCheck, "");
}

TEST_F(EditPaymentTest, AnUnlistedReceiptRoundingOrBaseCodeOpensWithoutIt) {
  shop.SetField(7, "CheckItogPrec", 3);
  shop.SetField(7, "GsmVO", 502);  // base code 2 does not exist
  const TPaymentEdit edit = Open("Бонусы");
  EXPECT_EQ(edit.itogPrec, 1);
  EXPECT_EQ(edit.baseGsmCode, std::nullopt);
  EXPECT_EQ(edit.addVOIndex, 5);
  EXPECT_FALSE(edit.terminalVisible);
}

TEST_F(EditPaymentTest, ARowMissingFromTheDatasetIsAnErrorNotAnotherRowEdited) {
  TDataSet& ds = shop.Payments();
  ds.Locate("ID", {TVariant(std::int64_t{7})}, loNone);
  ds.Delete();  // the list still holds "Бонусы"
  EXPECT_THROW(Open("Бонусы"), EDatabaseError);
}

TEST_F(EditPaymentTest, GsmVOOf304RoundTripsAsVedomostPlusIndex3) {
  shop.SetField(7, "GsmVO", 304);
  const TPaymentEdit edit = Open("Бонусы");
  EXPECT_EQ(edit.baseGsmCode, 4);
  EXPECT_EQ(std::string(kGsmBaseKinds[BaseGsmKindIndex(4)].text), "Ведомость +");
  EXPECT_EQ(edit.addVOIndex, 3);
  EXPECT_EQ(CheckPaymentEdit(edit), std::nullopt);
  Store(edit);
  EXPECT_EQ(shop.Field(7, "GsmVO"), "304");
}

// Each failing check replaces the message of an earlier one.
TEST_F(EditPaymentTest, ConfirmationReportsTheLastFailingCheck) {
  const std::string link =
      "Для вида оплаты \"платежный терминал\" ошибочно указан связанный вид оплаты ГСМ \"Наличные\"";
  struct Case {
    const char* rule;
    const char* payment;  // opened for editing; "" adds
    std::function<void(TPaymentEdit&)> change;
    std::optional<std::string> message;
  };
  const Case cases[] = {
      {"unchanged built-in passes", "платежный терминал", [](TPaymentEdit&) {}, std::nullopt},
      {"blank name", "Бонусы", [](TPaymentEdit& e) { e.name = "  "; }, kNoNameMessage},
      {"a name a settings key cannot hold: \"=\"", "Бонусы", [](TPaymentEdit& e) { e.name = "Бонус=1"; },
       kNameNotForSettingsMessage},
      {"a name a settings key cannot hold: a section header", "", [](TPaymentEdit& e) { e.name = " [Акция]"; },
       kNameNotForSettingsMessage},
      {"a name a settings key cannot hold: a comment", "", [](TPaymentEdit& e) { e.name = ";Акция"; },
       kNameNotForSettingsMessage},
      {"a name a settings key cannot hold: a line break", "", [](TPaymentEdit& e) { e.name = "Акция\nвторая"; },
       kNameNotForSettingsMessage},
      {"brackets and semicolons inside a name are kept", "", [](TPaymentEdit& e) { e.name = "Акция [2;3]"; },
       std::nullopt},
      {"negative index after blank name", "Бонусы",
       [](TPaymentEdit& e) {
         e.name = "";
         e.addVOIndex = -1;
       },
       kNegativeIndexMessage},
      {"terminal linked to cash", "платежный терминал", [](TPaymentEdit& e) { e.baseGsmCode = 0; }, link},
      {"link check ignores letter case", "платежный терминал",
       [](TPaymentEdit& e) {
         e.name = "ПЛАТЕЖНЫЙ ТЕРМИНАЛ";
         e.baseGsmCode = 3;
       },
       "Для вида оплаты \"ПЛАТЕЖНЫЙ ТЕРМИНАЛ\" ошибочно указан связанный вид оплаты ГСМ \"Безналичные\""},
      {"cashless may be linked to anything", "безналичные", [](TPaymentEdit& e) { e.baseGsmCode = 12; }, std::nullopt},
      {"a name with a blank is not a built-in one for the link", "Бонусы",
       [](TPaymentEdit& e) {
         e.name = "ЛБР ";
         e.baseGsmCode = 0;
       },
       kNameInUseMessage},
      {"built-in with no base type chosen", "ЛНР", [](TPaymentEdit& e) { e.baseGsmCode.reset(); },
       "Для вида оплаты \"ЛНР\" ошибочно указан связанный вид оплаты ГСМ \"\""},
      {"no link to check without a GsmVO column", "ЛНР",
       [](TPaymentEdit& e) {
         e.baseGsmCode.reset();
         e.gsmEnabled = false;
       },
       std::nullopt},
      {"another type's name, trimmed, case ignored", "Бонусы", [](TPaymentEdit& e) { e.name = " сертификат "; },
       kNameInUseMessage},
      {"adding a built-in twice: link, then name in use", "",
       [](TPaymentEdit& e) {
         e.name = "наличные";
         e.baseGsmCode = 3;
       },
       kNameInUseMessage},
      {"fix bonus with the program's calculation, after a bad link", "платежный терминал",
       [](TPaymentEdit& e) {
         e.baseGsmCode = 0;
         e.termFixBonus = true;
         e.termCalcType = 1;
       },
       kFixBonusMessage},
      {"fix bonus with the terminal's calculation", "платежный терминал",
       [](TPaymentEdit& e) {
         e.termFixBonus = true;
         e.termCalcType = 0;
       },
       std::nullopt},
      {"fix bonus of a hidden terminal group is not checked", "Бонусы", [](TPaymentEdit& e) { e.termFixBonus = true; },
       std::nullopt},
      {"terminal discount allowed while the host allows it", "платежный терминал",
       [](TPaymentEdit& e) { e.discount = 5; }, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    TPaymentEdit edit = *c.payment ? Open(c.payment) : OpenPaymentEdit(shop.Payments(), -1);
    c.change(edit);
    EXPECT_EQ(CheckPaymentEdit(edit), c.message);
  }

  Module().CanEditSmartCardDiscount = false;
  TPaymentEdit terminal = Open("платежный терминал");
  EXPECT_EQ(CheckPaymentEdit(terminal), std::nullopt);
  terminal.discount = 0.1;
  EXPECT_EQ(CheckPaymentEdit(terminal), kTerminalDiscountMessage);
}

TEST_F(EditPaymentTest, TerminalValuesOutOfRangeOpenAsTheFirstDeviceAndPurseZero) {
  struct Case {
    const char* rule;
    std::vector<std::pair<std::string, std::string>> terminals, station;
    int number, koshel, calcType;
    bool fixBonus;
  };
  const Case cases[] = {
      {"saved, in range",
       {{"_Modified", "1"}, {"_Number", "9"}, {"_Koshel", "255"}, {"_ProgramCalc", "0"}, {"_FixBonus", "1"}},
       {},
       9,
       255,
       0,
       true},
      {"saved, out of range",
       {{"_Modified", "1"}, {"_Number", "12"}, {"_Koshel", "300"}, {"_ProgramCalc", "7"}},
       {},
       0,
       0,
       1,
       false},
      {"saved, negative",
       {{"_Modified", "1"}, {"_Number", "-1"}, {"_Koshel", "-1"}, {"_ProgramCalc", "-1"}},
       {},
       0,
       0,
       1,
       false},
      {"never saved: the station's values",
       {{"_Number", "5"}, {"_Koshel", "7"}},
       {{"m_CellNum", "17"}, {"m_TermCalcType", "0"}, {"m_FixBonus", "1"}},
       0,
       17,
       0,
       true},
      {"never saved, station values out of range", {}, {{"m_CellNum", "300"}, {"m_TermCalcType", "2"}}, 0, 0, 1, false},
      {"nothing in the file", {}, {}, 0, 0, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    std::remove(Module().IniFileName.c_str());
    for (const auto& [suffix, value] : c.terminals) PaymentShop::SetIni("Terminals", "ЛБР" + suffix, value);
    for (const auto& [key, value] : c.station) PaymentShop::SetIni("VAR", key, value);
    const TPaymentEdit edit = Open("ЛБР");
    EXPECT_EQ(edit.termNumber, c.number);
    EXPECT_EQ(edit.termKoshel, c.koshel);
    EXPECT_EQ(edit.termCalcType, c.calcType);
    EXPECT_EQ(edit.termFixBonus, c.fixBonus);
  }
}

TEST_F(EditPaymentTest, PrintingOptionsReadWithTheirDefaults) {
  TPaymentEdit edit = Open("Бонусы");
  EXPECT_TRUE(edit.printSumma);
  EXPECT_FALSE(edit.printSkidka || edit.useDscCardValue);
  EXPECT_TRUE(edit.printSummaVisible);  // receipt kind 4
  PaymentShop::SetIni("SELVOVIDOPL", "Бонусы_PrintSumma", "0");
  PaymentShop::SetIni("SELVOVIDOPL", "Бонусы_PrintSkidka", "1");
  PaymentShop::SetIni("Terminals", "Бонусы_UseDscCardValue", "1");
  edit = Open("Бонусы");
  EXPECT_FALSE(edit.printSumma);
  EXPECT_TRUE(edit.printSkidka && edit.useDscCardValue);
  EXPECT_FALSE(Open("наличные").printSummaVisible);  // receipt kind 1
}

TEST_F(EditPaymentTest, ConfirmingWritesTheKeysOfTheNameAsConfirmedInOrder) {
  TPaymentEdit edit = Open("ЛНР");
  edit.termNumber = 2;
  edit.termKoshel = 4;
  edit.termCalcType = 0;
  edit.termFixBonus = true;
  edit.printSumma = false;
  Store(edit);
  EXPECT_EQ(test::ReadFileBytes(Module().IniFileName),
            "[Terminals]\r\n"
            "\xCB\xCD\xD0_Number=2\r\n"  // "ЛНР" in Windows-1251
            "\xCB\xCD\xD0_Koshel=4\r\n"
            "\xCB\xCD\xD0_ProgramCalc=0\r\n"
            "\xCB\xCD\xD0_FixBonus=1\r\n"
            "\xCB\xCD\xD0_Modified=1\r\n"
            "[SELVOVIDOPL]\r\n"
            "\xCB\xCD\xD0_PrintSumma=0\r\n"
            "\xCB\xCD\xD0_PrintSkidka=0\r\n");
  const TPaymentEdit reopened = Open("ЛНР");
  EXPECT_EQ(reopened.termNumber, 2);
  EXPECT_EQ(reopened.termKoshel, 4);
  EXPECT_EQ(reopened.termCalcType, 0);
  EXPECT_TRUE(reopened.termFixBonus);
}

TEST_F(EditPaymentTest, ARenamedTypeStartsFreshKeysAndLeavesTheOldOnes) {
  TPaymentEdit edit = Open("Бонусы");
  edit.baseGsmCode = 6;  // a terminal payment now, as the window's base type choice decides
  edit.terminalVisible = TerminalGroupAfterBaseSelect(edit.name, edit.baseGsmCode, edit.terminalVisible);
  edit.termKoshel = 9;
  edit.termCalcType = 0;
  Store(edit);
  ASSERT_EQ(PaymentShop::Ini("Terminals", "Бонусы_Koshel"), "9");

  edit = Open("Бонусы");
  EXPECT_TRUE(edit.terminalVisible);
  EXPECT_EQ(edit.termKoshel, 9);
  edit.name = "Баллы";
  edit.termKoshel = 11;
  Store(edit);
  EXPECT_EQ(shop.Field(7, "Name"), "Баллы");
  EXPECT_EQ(shop.Field(7, "GsmVO"), "106");
  EXPECT_EQ(PaymentShop::Ini("Terminals", "Баллы_Koshel"), "11");
  EXPECT_EQ(PaymentShop::Ini("Terminals", "Баллы_Modified"), "1");
  EXPECT_EQ(PaymentShop::Ini("Terminals", "Бонусы_Koshel"), "9");
  EXPECT_EQ(PaymentShop::Ini("SELVOVIDOPL", "Баллы_PrintSumma"), "1");
}

// Fields of the packed record are read through "+", a copy: a reference to
// one may be misaligned.
TEST_F(EditPaymentTest, AddingAppendsARowWithANewIDTheDefaultRoundingAndAnEmptyTemplate) {
  TPaymentEdit edit = OpenPaymentEdit(shop.Payments(), -1);
  edit.name = "Талоны";
  edit.type = 1;
  edit.check = 3;
  edit.discount = 2.5;
  edit.enabled = false;
  StorePaymentEdit(shop.Payments(), edit);
  EXPECT_EQ(shop.Payments().State(), TDataSetState::dsInsert);
  FillPaymentsList();
  ASSERT_EQ(PaymentList().Count(), 10);
  const TPaymentRec& rec = *PaymentList().GetItem(9);
  EXPECT_EQ(+rec.ID, 10);
  EXPECT_EQ(PaymentRecName(rec), "Талоны");
  EXPECT_EQ(+rec.Type, 1);
  EXPECT_EQ(+rec.Check, 3);
  EXPECT_EQ(+rec.Discount, 2.5);
  EXPECT_FALSE(rec.Enabled);
  EXPECT_EQ(+rec.CheckItogPrec, 1);
  EXPECT_EQ(+rec.CheckPrecLimit, 5.0);
  EXPECT_EQ(+rec.GsmVO, 0);
  EXPECT_EQ(shop.Field(10, "CUSTOMCHECK"), "");
  EXPECT_EQ(PaymentRecCustomCheck(rec), DefaultCustomCheck());
  EXPECT_EQ(PaymentShop::Ini("Terminals", "Талоны_Modified"), "<none>");
  EXPECT_EQ(PaymentShop::Ini("SELVOVIDOPL", "Талоны_PrintSumma"), "0");
}

// A "Payment" dataset without the optional columns: no link to choose or
// check, no rounding, no receipt template; confirming touches none of them.
TEST(EditPaymentWithoutOptionalColumns, ABuiltInTypeConfirmsWithoutALink) {
  test::ModuleScope scope;
  test::TempDir dir;
  host::CreateShopDatabase(dir.file("shop.db"), false, {false, false, false});
  host::TShopDataModule dm(dir.file("shop.db"));
  Module().DataModule = &dm;
  TDataSet& ds = *dm.FindComponent("Payment");
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(1);
  ds.FieldByName("Name").SetAsString("ЛНР");
  ds.Post();
  FillPaymentsList();

  TPaymentEdit edit = OpenPaymentEdit(ds, 0);
  EXPECT_FALSE(edit.gsmEnabled || edit.customCheckEnabled || edit.itogVisible || edit.baseGsmCode);
  EXPECT_TRUE(edit.terminalVisible);
  EXPECT_EQ(CheckPaymentEdit(edit), std::nullopt);
  edit.discount = 4;
  StorePaymentEdit(ds, edit);
  FillPaymentsList();
  EXPECT_EQ(+PaymentList().GetItem(0)->Discount, 4);
  EXPECT_EQ(PaymentRecCustomCheck(*PaymentList().GetItem(0)), DefaultCustomCheck());
  Module().DataModule = nullptr;
}

}  // namespace
}  // namespace selvo
