// The discount of one sale, with cards and payment types made in memory and
// the module clock replaced.
#include "discounts/SelvoCalcDiscountUnit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "discounts/SelvoDiscountItemsU.h"
#include "host/session/SaleJson.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/Clock.h"
#include "platform/DateUtils.h"
#include "platform/FormatSettings.h"
#include "state/SelvoModuleU.h"
#include "support/SafeIniFiles.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using host::TResultRecord;
using host::TSale;
using host::TSaleLine;
using host::TSaleRecord;

constexpr std::int32_t kPay = 1;
const double kSaleMoment = EncodeDate(2026, 12, 8) + EncodeTime(10, 30, 0, 0);  // a Tuesday

class CalcDiscountTest : public ::testing::Test {
 protected:
  CalcDiscountTest() {
    ClockAt(EncodeTime(3, 0, 0, 0));  // outside every time discount unless a test moves it
    AddPayment(kPay, 5);
  }

  void ClockAt(double timeOfDay) { clock_.SetFixed(EncodeDate(2026, 12, 8) + timeOfDay); }
  void AddPayment(std::int32_t id, double discount) {
    TPaymentRec rec{};
    rec.ID = id;
    rec.Discount = discount;
    PaymentList().Add(&rec);
  }
  void SetFloor(bool on) {
    TSafeIniFile ini(Module().IniFileName);
    ini.WriteBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", on);
  }
  TDiscountItem& AddCard(std::int16_t target, const std::string& thresholds, const std::string& times = "") {
    auto card = std::make_unique<TDiscountItem>();
    card->ID = DiscountList().Count() + 1;
    card->PayID = kPay;
    card->DiscountTarget = target;
    card->DecodeThresholdList(thresholds);
    card->DecodeTimeList(times);
    TDiscountItem& ref = *card;
    DiscountList().Add(std::move(card));
    return ref;
  }
  // The edge-case sale: one line, price 100, quantity 2, purchase price 60.
  static TSale OneLine() {
    TSale sale;
    sale.lines.push_back(TSaleLine{10, 3, 60, 100, 2});
    return sale;
  }
  double Calc(const TSale& sale, std::int32_t payID = kPay) {
    TSaleRecord record(sale, payID, kSaleMoment);
    TCalcDiscount calc;
    const double sum = calc.Calculate(record.data(), *result_.get());
    percent_ = result_.get()->DiscountPercent;
    return sum;
  }

  test::ScopedFormatSettings format_{TFormatSettings::Russian()};
  test::ScopedClock clock_;
  test::ModuleScope scope_;
  TResultRecord result_;
  double percent_ = -1;
};

TEST_F(CalcDiscountTest, PaymentTypePercentageAlone) {
  EXPECT_EQ(Calc(OneLine()), 190);
  EXPECT_DOUBLE_EQ(percent_, 5);
}

TEST_F(CalcDiscountTest, ReceiptCardBeatsThePaymentType) {
  AddCard(0, "100=10%;");
  EXPECT_EQ(Calc(OneLine()), 180);
  EXPECT_DOUBLE_EQ(percent_, 10);
}

TEST_F(CalcDiscountTest, PurchaseFloorHoldsTheReceiptCard) {
  AddCard(0, "100=50%;");
  SetFloor(true);
  EXPECT_EQ(Calc(OneLine()), 120);
  EXPECT_DOUBLE_EQ(percent_, 40);
  EXPECT_TRUE(Module().RSumCanNotBeLowThenZSum);
  SetFloor(false);
  EXPECT_EQ(Calc(OneLine()), 100) << "the setting is read afresh for every sale";
  EXPECT_FALSE(Module().RSumCanNotBeLowThenZSum);
}

TEST_F(CalcDiscountTest, GoodsCardOnTheLinesCategory) {
  TDiscountItem& card = AddCard(1, "0=15%;");
  card.Categories.Add("3");
  EXPECT_EQ(Calc(OneLine()), 170);
  EXPECT_DOUBLE_EQ(percent_, 15);
}

TEST_F(CalcDiscountTest, GroupSumReachesAThresholdNoLineReaches) {
  PaymentList().Clear();
  AddPayment(kPay, 0);
  TDiscountItem& card = AddCard(1, "300=10%;");
  card.Goods.Add("10");
  TSale sale = OneLine();
  sale.lines.push_back(sale.lines[0]);
  EXPECT_EQ(Calc(sale), 360);
  EXPECT_DOUBLE_EQ(percent_, 10);
}

TEST_F(CalcDiscountTest, VariantsAreAlternativesNeverAdded) {
  AddCard(0, "0=10%;");                         // receipt: 10 %
  TDiscountItem& goods = AddCard(1, "0=12%;");  // goods: 12 %
  goods.Goods.Add("10");
  EXPECT_EQ(Calc(OneLine()), 176) << "the single best of 5 %, 10 % and 12 %";
}

TEST_F(CalcDiscountTest, SaleWithoutLinesStillReadsTheSettings) {
  SetFloor(true);
  Module().RSumCanNotBeLowThenZSum = false;
  result_.get()->DiscountPercent = 55;
  EXPECT_EQ(Calc(TSale{}), 0);
  EXPECT_EQ(percent_, 0);
  EXPECT_TRUE(Module().RSumCanNotBeLowThenZSum);
}

TEST_F(CalcDiscountTest, MissingSettingsFileMeansNoFloor) {
  Module().RSumCanNotBeLowThenZSum = true;
  AddCard(0, "100=50%;");
  EXPECT_EQ(Calc(OneLine()), 100);
  EXPECT_FALSE(Module().RSumCanNotBeLowThenZSum);
}

TEST_F(CalcDiscountTest, SaleBanWarnsAndDrivesTheSumToZero) {
  TDiscountItem& ban = AddCard(1, "", "9:0:0-18:0:0=10000000р;");
  ban.Goods.Add("10");
  ClockAt(EncodeTime(10, 30, 0, 0));
  for (bool floor : {false, true}) {
    SetFloor(floor);
    test::ScriptedMessageService messages;
    EXPECT_EQ(Calc(OneLine()), 0) << "floor " << floor;
    EXPECT_DOUBLE_EQ(percent_, 100);
    ASSERT_EQ(messages.messages().size(), 1u);
    const TMessage& m = messages.messages()[0];
    EXPECT_EQ(m.caption, "Продажа товара запрещена!");
    EXPECT_EQ(m.text,
              "ПРОДАЖА ВРЕМЕННО ЗАПРЕЩЕНА!\r\n\r\nИнформация о суточных периодах запрета:\r\n"
              "2,00 x 100,00р.. Запрещено с 09:00:00 до 18:00:00.\r\n");
    EXPECT_EQ(m.icon, TMsgIcon::Warning);
    EXPECT_EQ(m.buttons, TMsgButtons::OK);
    EXPECT_TRUE(m.topmost);
  }
}

TEST_F(CalcDiscountTest, BanOutsideItsHoursIsNoBan) {
  TDiscountItem& ban = AddCard(1, "", "9:0:0-18:0:0=10000000р;");
  ban.Goods.Add("10");
  ClockAt(EncodeTime(18, 0, 1, 0));
  test::ScriptedMessageService messages;
  EXPECT_EQ(Calc(OneLine()), 190);
  EXPECT_TRUE(messages.messages().empty());
}

TEST_F(CalcDiscountTest, TimeDiscountFollowsTheModuleClock) {
  TDiscountItem& card = AddCard(0, "", "08:0:0-10:0:0=7%;");
  (void)card;
  ClockAt(EncodeTime(9, 0, 0, 0));
  EXPECT_EQ(Calc(OneLine()), 186);
  ClockAt(EncodeTime(10, 0, 0, 1));
  EXPECT_EQ(Calc(OneLine()), 190);
}

TEST_F(CalcDiscountTest, TinyOrNegativeSumsPayNothing) {
  PaymentList().Clear();
  AddPayment(kPay, 0);
  AddCard(0, "0=205р;");  // more than the receipt: the sum would be -5
  EXPECT_EQ(Calc(OneLine()), 0);
  EXPECT_DOUBLE_EQ(percent_, 100);

  DiscountList().Clear();
  AddCard(0, "0=199,996р;");  // leaves 0.004
  EXPECT_EQ(Calc(OneLine()), 0);
}

TEST_F(CalcDiscountTest, UnknownPaymentTypeGivesNoPercentage) {
  EXPECT_EQ(Calc(OneLine(), 99), 200);
  EXPECT_EQ(percent_, 0);
}

TEST_F(CalcDiscountTest, CardsOfAnotherPaymentTypeDoNotCount) {
  AddCard(0, "0=50%;").PayID = 2;
  EXPECT_EQ(Calc(OneLine()), 190);
}

TEST_F(CalcDiscountTest, LinesAreRoundedToKopecksOneByOne) {
  PaymentList().Clear();
  AddPayment(kPay, 0);
  TSale sale;
  for (int i = 0; i < 3; ++i) sale.lines.push_back(TSaleLine{10 + i, 3, 0, 0.335, 1});  // 0.34 each
  EXPECT_EQ(Calc(sale), 1.02);
}

TEST_F(CalcDiscountTest, ResultRecordIsResetAndItsSequencesReleased) {
  TDiscountOutData& out = *result_.get();
  out.Reserved0 = 7;
  out.Reserved1 = DynArrayFrom(std::vector<double>{1, 2});
  double* shared = DynArrayAddRef(out.Reserved1);  // the host keeps a reference
  out.Reserved2 = DynArrayFrom(std::vector<double>{3});
  std::memset(out.Reserved3, 0xAB, sizeof out.Reserved3);
  Calc(OneLine());
  EXPECT_EQ(out.Reserved0, 0);
  EXPECT_EQ(out.Reserved1, nullptr);
  EXPECT_EQ(out.Reserved2, nullptr);
  for (unsigned char b : out.Reserved3) EXPECT_EQ(b, 0);
  EXPECT_EQ(DynArrayHeaderOf(shared)->refCount, 1) << "one reference released, the host's kept";
  DynArrayRelease(shared);
}

TEST_F(CalcDiscountTest, RefusesShortSequencesAndNonFiniteNumbers) {
  TSaleRecord record(OneLine(), kPay, kSaleMoment);
  TDiscountInData sale = record.data();
  TCalcDiscount calc;
  try {
    TDiscountInData shortSale = sale;
    shortSale.Prices = nullptr;
    calc.Calculate(shortSale, *result_.get());
    FAIL();
  } catch (const EInvalidSale& e) {
    EXPECT_NE(e.Message().find("Prices"), std::string::npos) << e.Message();
  }
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()};
  for (double value : bad) {
    TSale s = OneLine();
    s.lines.push_back(TSaleLine{11, 3, 1, 1, value});
    TSaleRecord r(s, kPay, kSaleMoment);
    try {
      calc.Calculate(r.data(), *result_.get());
      FAIL();
    } catch (const EInvalidSale& e) {
      EXPECT_EQ(e.Message(), "CalcDiscount: строка 2: количество не является числом");
    }
  }
}

TEST_F(CalcDiscountTest, TraceTellsEveryVariant) {
  AddCard(0, "100=10%;").SetDiscountName("Чек от 100");
  TDiscountItem& goods = AddCard(1, "0=3%;");
  goods.SetDiscountName("Товар 10");
  goods.Goods.Add("10");
  TCalcTrace trace;
  TSaleRecord record(OneLine(), kPay, kSaleMoment);
  const double sum = TCalcDiscount(&trace).Calculate(record.data(), *result_.get());
  EXPECT_EQ(sum, 180);
  EXPECT_EQ(trace.result, 180);
  EXPECT_EQ(trace.total, 200);
  EXPECT_EQ(trace.paySum, 190);
  EXPECT_EQ(trace.checkCard.name, "Чек от 100");
  EXPECT_EQ(trace.checkSum, 180);
  ASSERT_EQ(trace.lines.size(), 1u);
  EXPECT_EQ(trace.lines[0].card.name, "Товар 10");
  EXPECT_EQ(trace.lines[0].payDiscount, 10);
  EXPECT_EQ(trace.goodsSum, 190);
  EXPECT_EQ(trace.groupCard.name, "Товар 10");
  EXPECT_EQ(trace.groupSum, 190);
}

}  // namespace
}  // namespace selvo
