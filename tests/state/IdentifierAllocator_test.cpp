#include "state/IdentifierAllocator.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "discounts/SelvoDiscountItemsU.h"
#include "payments/SelvoPaymentListU.h"
#include "selvo/Errors.h"
#include "state/SelvoModuleU.h"
#include "tests/common/TestSupport.h"

namespace selvo {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// Every kind of identifier, reached through the operation an editor calls.
struct TIdentifierKind {
  const char* name;
  std::function<void(std::int32_t last)> setLast;  // the host's last used one
  std::function<std::int32_t()> next;
};

class IdentifierLimitTest : public ::testing::TestWithParam<TIdentifierKind> {
 protected:
  test::ModuleScope scope_;
};

TEST_P(IdentifierLimitTest, HandsOutTheLargestThenRefusesWithoutWrapping) {
  const TIdentifierKind& kind = GetParam();
  kind.setLast(kMax - 2);
  EXPECT_EQ(kind.next(), kMax - 1);
  EXPECT_EQ(kind.next(), kMax);
  try {
    kind.next();
    FAIL() << "an identifier past the largest was handed out";
  } catch (const EListError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Нет свободного идентификатора для ", 0), 0u) << e.what();
  }
  // Refusing leaves the counter where it was: the next try refuses again
  // instead of handing out a negative identifier.
  EXPECT_THROW(kind.next(), EListError);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, IdentifierLimitTest,
    ::testing::Values(TIdentifierKind{"PaymentType", [](std::int32_t last) { Module().LastPaymentID = last; },
                                      [] { return PaymentList().NewID(); }},
                      TIdentifierKind{"DiscountCard", [](std::int32_t last) { Module().LastDiscountID = last; },
                                      [] { return DiscountList().NewID(); }},
                      TIdentifierKind{"CardTarget", [](std::int32_t last) { Module().LastDscGoodsID = last; },
                                      [] { return NextDscGoodsID(); }},
                      TIdentifierKind{"CardPeriod", [](std::int32_t last) { Module().LastExclusionsID = last; },
                                      [] { return NextExclusionsID(); }}),
    [](const ::testing::TestParamInfo<TIdentifierKind>& kind) { return std::string(kind.param.name); });

TEST(AllocateIdentifier, SkipsHeldIdentifiersUpToTheLimit) {
  std::int32_t counter = 0;
  const auto held = [](std::int32_t id) { return id >= kMax - 1; };
  EXPECT_EQ(AllocateIdentifier(counter, kMax - 3, "x", held), kMax - 2);
  EXPECT_THROW(AllocateIdentifier(counter, kMax - 3, "x", held), EListError) << "the last two are held";
  EXPECT_EQ(counter, kMax - 2);
}

}  // namespace
}  // namespace selvo
