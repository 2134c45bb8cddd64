// The calculation over snapshots made in memory: several snapshots and
// moments in one process, nothing read or changed beside its arguments, one
// snapshot shared by threads.
#include "discounts/CalcSnapshot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "discounts/SelvoCalcDiscountUnit.h"
#include "discounts/SelvoDiscountItemsU.h"
#include "host/session/SaleJson.h"
#include "payments/SelvoPaymentListU.h"
#include "platform/DateUtils.h"
#include "platform/FileIO.h"
#include "platform/FormatSettings.h"
#include "platform/ProcessLock.h"
#include "state/SelvoModuleU.h"
#include "support/SafeIniFiles.h"
#include "tests/common/ScopedOverrides.h"
#include "tests/common/ScriptedMessageService.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

using host::TSale;
using host::TSaleLine;
using host::TSaleRecord;

constexpr std::int32_t kPay = 1;
const double kDay = EncodeDate(2026, 12, 8);  // a Tuesday
const double kSaleMoment = kDay + EncodeTime(10, 30, 0, 0);

std::unique_ptr<TDiscountItem> Card(std::int32_t id, std::int16_t target, const std::string& thresholds,
                                    const std::string& times = "") {
  auto card = std::make_unique<TDiscountItem>();
  card->ID = id;
  card->PayID = kPay;
  card->DiscountTarget = target;
  card->DecodeThresholdList(thresholds);
  card->DecodeTimeList(times);
  return card;
}

std::shared_ptr<const TDiscountList> Cards(std::vector<std::unique_ptr<TDiscountItem>> cards) {
  auto list = std::make_shared<TDiscountList>();
  for (auto& card : cards) list->Add(std::move(card));
  return list;
}

// One line: price 100, quantity 2, purchase price 60, article 10, category 3.
TSale OneLine() {
  TSale sale;
  sale.lines.push_back(TSaleLine{10, 3, 60, 100, 2});
  return sale;
}

// The lists are parsed in the Russian formats ("р", "," decimals).
class CalcSnapshotTest : public ::testing::Test {
 protected:
  test::ScopedFormatSettings format_{TFormatSettings::Russian()};
};

// No module is loaded here: a calculation that reached for the module's
// lists or flags would fail.
TEST_F(CalcSnapshotTest, TwoSnapshotsAndTwoMomentsInOneProcess) {
  std::vector<std::unique_ptr<TDiscountItem>> lunch;
  lunch.push_back(Card(1, 0, "", "12:0:0-13:0:0=10%;"));  // receipt card, noon to one o'clock
  const TCalcSnapshot lunchTime({{kPay, 5}}, Cards(std::move(lunch)), {}, TFormatSettings::Russian());

  std::vector<std::unique_ptr<TDiscountItem>> half;
  half.push_back(Card(1, 0, "0=50%;"));  // receipt card, all day
  const std::shared_ptr<const TDiscountList> halfCards = Cards(std::move(half));
  const TCalcSnapshot halfOff({{kPay, 0}}, halfCards, {}, TFormatSettings::Russian());
  const TCalcSnapshot halfOffFloored({{kPay, 0}}, halfCards, TCalcOptions{true}, TFormatSettings::Russian());

  const double noon = kDay + EncodeTime(12, 0, 0, 0), evening = kDay + EncodeTime(20, 0, 0, 0);
  const struct {
    const char* rule;
    const TCalcSnapshot& snapshot;
    double now;
    double sum;
    double percent;
  } cases[] = {
      {"time discount at noon", lunchTime, noon, 180, 10},
      {"another snapshot, same moment", halfOff, noon, 100, 50},
      {"time discount over by the evening", lunchTime, evening, 190, 5},
      {"the same cards with the purchase floor", halfOffFloored, evening, 120, 40},
      {"the floor belongs to its snapshot only", halfOff, evening, 100, 50},
      {"noon again: nothing carried over", lunchTime, noon, 180, 10},
  };
  const TSaleRecord sale(OneLine(), kPay, kSaleMoment);
  for (const auto& c : cases) {
    const TCalcResult result = CalculateDiscount(c.snapshot, sale.data(), c.now);
    EXPECT_EQ(result.sum, c.sum) << c.rule;
    EXPECT_DOUBLE_EQ(result.discountPercent, c.percent) << c.rule;
    EXPECT_TRUE(result.banLines.empty()) << c.rule;
  }
}

// The module is loaded with lists, settings and a clock of its own that would
// all give other answers; the calculation must go by its snapshot alone and
// leave the module as it was.
TEST_F(CalcSnapshotTest, ReadsAndChangesNothingButItsArguments) {
  test::ModuleScope scope;
  TPaymentRec rec{};
  rec.ID = kPay;
  rec.Discount = 30;
  PaymentList().Add(&rec);
  DiscountList().Add(Card(7, 0, "0=40%;"));
  {
    TSafeIniFile ini(Module().IniFileName);
    ini.WriteBool("SelvoDiscount", "RSumCanNotBeLowThenZSum", true);
  }
  Module().RSumCanNotBeLowThenZSum = false;
  int clockReads = 0;
  test::ScopedClock clock([&clockReads] {
    ++clockReads;
    return kDay + EncodeTime(3, 0, 0, 0);
  });
  test::ScriptedMessageService messages;
  SetModuleFormatSettings(TFormatSettings::English());

  std::vector<std::unique_ptr<TDiscountItem>> ban;
  ban.push_back(Card(1, 1, "", "9:0:0-18:0:0=10000000р;"));
  ban.back()->Goods.Add("10");
  const TCalcSnapshot snapshot({{kPay, 5}}, Cards(std::move(ban)), {}, TFormatSettings::Russian());
  const TSaleRecord sale(OneLine(), kPay, kSaleMoment);
  TCalcTrace trace;
  const TCalcResult result = CalculateDiscount(snapshot, sale.data(), kDay + EncodeTime(10, 30, 0, 0), &trace);

  EXPECT_EQ(result.sum, 0) << "the ban of the snapshot's card at its moment, not the module's 40 % card";
  EXPECT_DOUBLE_EQ(result.discountPercent, 100);
  const std::vector<std::string> banLines = {"2,00 x 100,00р.. Запрещено с 09:00:00 до 18:00:00."};
  EXPECT_EQ(result.banLines, banLines) << "in the snapshot's formats";
  EXPECT_EQ(trace.banLines, banLines);
  EXPECT_FALSE(trace.purchaseFloor) << "the snapshot's option, not the settings file's";
  EXPECT_EQ(trace.paymentPercent, 5);

  EXPECT_EQ(clockReads, 0);
  EXPECT_TRUE(messages.messages().empty()) << "the warning is the caller's to show";
  EXPECT_FALSE(Module().RSumCanNotBeLowThenZSum);
  EXPECT_EQ(PaymentList().Count(), 1);
  EXPECT_EQ(+PaymentList().GetItem(0)->Discount, 30);
  EXPECT_EQ(DiscountList().Count(), 1);
}

// The options follow their file through every change, however soon after
// the last read it comes. A file that has not changed since it was read is
// not read again: a sale does not wait for the file's lock then, as it must
// once the file has changed.
TEST(CalcOptionsTest, FollowTheirFileAndWaitForItsLockOnlyOnceItChanged) {
  using namespace std::chrono_literals;
  const test::TempDir dir;
  const std::string file = dir.file("Selvo.ini");
  const auto write = [&](char value) {
    ASSERT_EQ(ReplaceWholeFile(file, std::string("[SelvoDiscount]\nRSumCanNotBeLowThenZSum=") + value + "\n"), 0);
  };
  const auto floor = [&] { return ReadCalcOptions(file).purchaseFloor; };
  EXPECT_FALSE(floor()) << "no file";
  // Rewrites of the same size within a tick of the file system's clock.
  write('1');
  EXPECT_TRUE(floor());
  write('0');
  EXPECT_FALSE(floor());
  write('1');
  EXPECT_TRUE(floor());
  // The same file written in place: its inode and size stay.
  {
    std::FILE* same = std::fopen(file.c_str(), "r+");
    ASSERT_NE(same, nullptr);
    ASSERT_EQ(std::fseek(same, -2, SEEK_END), 0);
    ASSERT_EQ(std::fputc('0', same), '0');
    ASSERT_EQ(std::fclose(same), 0);
  }
  EXPECT_FALSE(floor()) << "written in place";
  ASSERT_EQ(std::remove(file.c_str()), 0);
  EXPECT_FALSE(floor()) << "removed";

  write('1');
  std::this_thread::sleep_for(2500ms);  // settles
  EXPECT_TRUE(floor());
  TProcessLock lock(TSafeIniFile::LockName(file));
  ASSERT_TRUE(lock.TryLockFor(5s));
  auto unchanged = std::async(std::launch::async, floor);
  ASSERT_EQ(unchanged.wait_for(30s), std::future_status::ready) << "the file has not changed: its lock is not needed";
  EXPECT_TRUE(unchanged.get());
  write('0');  // as an editor saves, under the lock
  auto changed = std::async(std::launch::async, floor);
  EXPECT_EQ(changed.wait_for(200ms), std::future_status::timeout) << "a changed file is read under its lock";
  lock.Unlock();
  EXPECT_FALSE(changed.get());
}

// Threads that calculate over one snapshot at once get what one thread gets.
// The sales differ in moment (a card holds only in its period) and in lines,
// and the group discount needs the lines of a sale added up together, so
// selections that shared their scratch space would mix up each other's cards.
TEST_F(CalcSnapshotTest, OneSnapshotServesThreadsAtOnce) {
  std::vector<std::unique_ptr<TDiscountItem>> cards;
  for (std::int32_t id = 1; id <= 12; ++id) {
    auto card = Card(id, 1, std::to_string(100 * id) + "=" + std::to_string(id) + "%;");
    card->Goods.Add(std::to_string(10 + id % 4));
    card->Categories.Add(std::to_string(id % 3));
    if (id % 2 == 0) {  // held in the first half of December only
      card->PeriodBegin.push_back(EncodeDate(2026, 12, 1));
      card->PeriodEnd.push_back(EncodeDate(2026, 12, 15));
      card->PeriodEnabled.push_back(true);
    }
    cards.push_back(std::move(card));
  }
  cards.push_back(Card(13, 0, "500=7%;"));
  const TCalcSnapshot snapshot({{kPay, 2}}, Cards(std::move(cards)), {}, TFormatSettings::Russian());

  std::vector<std::unique_ptr<TSaleRecord>> sales;
  for (int n = 0; n < 40; ++n) {
    TSale sale;
    for (int i = 0; i <= n % 7; ++i)
      sale.lines.push_back(TSaleLine{10 + (n + i) % 5, (n * i) % 4, 20, 50.0 + 10 * i + n, 1.0 + (n + i) % 3});
    sales.push_back(std::make_unique<TSaleRecord>(sale, kPay, EncodeDate(2026, 12, 1 + n % 30) + 0.5));
  }
  const double now = kDay + EncodeTime(15, 0, 0, 0);
  std::vector<double> expected;
  for (const auto& sale : sales) expected.push_back(CalculateDiscount(snapshot, sale->data(), now).sum);

  constexpr int kRounds = 200;
  int differences[2] = {0, 0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round)
        for (std::size_t n = 0; n < sales.size(); ++n) {
          // The two threads walk the sales in opposite orders.
          const std::size_t at = t == 0 ? n : sales.size() - 1 - n;
          differences[t] += CalculateDiscount(snapshot, sales[at]->data(), now).sum != expected[at];
        }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(differences[0], 0);
  EXPECT_EQ(differences[1], 0);
}

}  // namespace
}  // namespace selvo
