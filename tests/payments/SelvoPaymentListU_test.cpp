#include "payments/SelvoPaymentListU.h"

#include <gtest/gtest.h>

#include "platform/TextCodec.h"
#include "state/SelvoModuleU.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

TPaymentRec Record(std::int32_t id, const std::string& name = "") {
  TPaymentRec rec{};
  rec.ID = id;
  SetPaymentRecName(rec, name);
  return rec;
}

TEST(DefaultCustomCheck, IsTheFourteenLineTemplate) {
  const std::string& t = DefaultCustomCheck();
  EXPECT_EQ(Utf8Length(t), 379u);
  EXPECT_EQ(Utf8ToCp1251(t).size(), 379u);
  EXPECT_EQ(t.substr(0, 26), "       <#OrgName> <#AZS>\r\n");
  EXPECT_EQ(t.substr(t.size() - 6), "\r\n\r\n\r\n");
  EXPECT_NE(t.find("\r\n------------------------------------#Delim2#<#Line( 2.0)>.<#Tovar(33)>\r\n"),
            std::string::npos);
  EXPECT_NE(t.find("#Delim3#------------------------------------\r\n@ИТОГО:  <#Itog(10.2)>р.\r\n"), std::string::npos);
  std::size_t lines = 1;
  for (std::size_t p = t.find("\r\n"); p != std::string::npos; p = t.find("\r\n", p + 2)) ++lines;
  EXPECT_EQ(lines, 14u);
}

TEST(PaymentRecName, CutToTwentyCharactersInTheCodePage) {
  TPaymentRec rec{};
  SetPaymentRecName(rec, "Безналичные по договору банка");  // 29 characters
  EXPECT_EQ(rec.Name[0], 20);
  EXPECT_EQ(PaymentRecName(rec), "Безналичные по догов");
  SetPaymentRecName(rec, "");
  EXPECT_EQ(rec.Name[0], 0);
  // Every byte of the code page, 0x98 too, comes back from a name and a template.
  for (int first = 0x80; first < 0x100; first += 20) {
    std::string bytes;
    for (int c = first; c < first + 20 && c < 0x100; ++c) bytes += static_cast<char>(c);
    SetPaymentRecName(rec, Cp1251ToUtf8(bytes));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec.Name + 1), rec.Name[0]), bytes);
  }
  std::string all;
  for (int c = 1; c < 0x100; ++c) all += static_cast<char>(c);
  SetPaymentRecCustomCheck(rec, Cp1251ToUtf8(all));
  EXPECT_EQ(AnsiTextBytes(rec.CustomCheck), all);
  AnsiTextRelease(rec.CustomCheck);
}

TEST(TPaymentList, FindByNameIgnoresCaseOfCyrillic) {
  test::ModuleScope scope;
  TPaymentRec a = Record(1, "лбр"), b = Record(2, "ЛБР");
  PaymentList().Add(&a);
  PaymentList().Add(&b);
  EXPECT_EQ(PaymentList().FindByName(Utf8ToCp1251("ЛБР").c_str())->ID, 1) << "the first match wins";
  EXPECT_EQ(PaymentList().FindByName(Utf8ToCp1251("ЛНР").c_str()), nullptr);
  EXPECT_EQ(PaymentList().IndexOfID(2), 1);
  EXPECT_EQ(PaymentList().IndexOfID(3), -1);
  EXPECT_EQ(PaymentList().FindByID(3), nullptr);
}

TEST(TPaymentList, AddSharesTheTemplateAndClearReleasesIt) {
  test::ModuleScope scope;
  TPaymentRec rec = Record(1);
  SetPaymentRecCustomCheck(rec, "шаблон");
  PaymentList().Add(&rec);
  PaymentList().Add(&rec);
  EXPECT_EQ(DynArrayHeaderOf(rec.CustomCheck)->refCount, 3);
  EXPECT_EQ(PaymentRecCustomCheck(*PaymentList().GetItem(1)), "шаблон");
  PaymentList().Clear();
  EXPECT_EQ(DynArrayHeaderOf(rec.CustomCheck)->refCount, 1);
  AnsiTextRelease(rec.CustomCheck);
}

class NewIDTest : public ::testing::Test {
 protected:
  void Append(std::int32_t id) {
    TPaymentRec rec = Record(id);
    PaymentList().Add(&rec);
  }
  test::ModuleScope scope_;
};

TEST_F(NewIDTest, ContinuesAfterTheLastIdentifier) {
  Module().LastPaymentID = 5;
  Module().PaymentIDCounter = 5;
  Append(5);
  EXPECT_EQ(PaymentList().NewID(), 6);
  Append(6);
  EXPECT_EQ(PaymentList().NewID(), 7);
}

TEST_F(NewIDTest, EmptyListStartsAboveTheLastIdentifier) {
  Module().LastPaymentID = 5;
  Module().PaymentIDCounter = 5;
  EXPECT_EQ(PaymentList().NewID(), 6);
  Module().PaymentIDCounter = 0;
  EXPECT_EQ(PaymentList().NewID(), 6) << "the counter is raised to the last identifier + 1";
}

TEST_F(NewIDTest, IdentifierHandedOutButNotStoredIsNotReused) {
  Module().LastPaymentID = 5;
  Module().PaymentIDCounter = 5;
  Append(5);
  EXPECT_EQ(PaymentList().NewID(), 6);  // the record for 6 is never stored
  EXPECT_EQ(PaymentList().NewID(), 7);
}

TEST_F(NewIDTest, NeverHandsOutAnIdentifierTheListHolds) {
  // The last record lies below the counter, and a record above the last
  // identifier already exists (stored by another till, say).
  Module().LastPaymentID = 5;
  Module().PaymentIDCounter = 7;
  Append(8);
  Append(9);
  Append(6);
  const std::int32_t id = PaymentList().NewID();
  EXPECT_GT(id, 5);
  EXPECT_EQ(PaymentList().IndexOfID(id), -1);
  EXPECT_EQ(id, 10);
}

}  // namespace
}  // namespace selvo
