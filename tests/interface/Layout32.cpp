// Compiled for a 32-bit and a 64-bit target: the records the host reads keep
// their byte layout.
#include <cstddef>

#include "interface/SelvoPaymentsTypes.h"

using selvo::TDiscountInData;
using selvo::TDiscountOutData;
using selvo::TPaymentRec;

constexpr std::size_t P = sizeof(void*);
constexpr std::size_t W = P - 4;  // how much one pointer field grows on 64-bit

static_assert(offsetof(TPaymentRec, ID) == 0);
static_assert(offsetof(TPaymentRec, Name) == 4);
static_assert(sizeof(TPaymentRec::Name) == 21);
static_assert(offsetof(TPaymentRec, Type) == 25);
static_assert(offsetof(TPaymentRec, Check) == 26);
static_assert(offsetof(TPaymentRec, Discount) == 27);
static_assert(offsetof(TPaymentRec, Enabled) == 35);
static_assert(sizeof(bool) == 1);
static_assert(offsetof(TPaymentRec, CheckItogPrec) == 36);
static_assert(offsetof(TPaymentRec, CheckPrecLimit) == 40);
static_assert(offsetof(TPaymentRec, GsmVO) == 48);
static_assert(offsetof(TPaymentRec, CustomCheck) == 52);
static_assert(offsetof(TPaymentRec, PrintCustomCheck) == 52 + P);
static_assert(sizeof(TPaymentRec) == 57 + W);

static_assert(offsetof(TDiscountInData, GoodsIDs) == 4);
static_assert(offsetof(TDiscountInData, CategoryIDs) == 4 + P);
static_assert(offsetof(TDiscountInData, ZPrices) == 4 + 2 * P);
static_assert(offsetof(TDiscountInData, Prices) == 4 + 3 * P);
static_assert(offsetof(TDiscountInData, Quantities) == 4 + 4 * P);
static_assert(offsetof(TDiscountInData, PayID) == 4 + 5 * P);
static_assert(offsetof(TDiscountInData, SaleTime) == 8 + 5 * P);
static_assert(sizeof(TDiscountInData) == 36 + 5 * W);

static_assert(offsetof(TDiscountOutData, Reserved1) == 4);
static_assert(offsetof(TDiscountOutData, DiscountPercent) == 4 + P);
static_assert(offsetof(TDiscountOutData, Reserved2) == 12 + P);
static_assert(offsetof(TDiscountOutData, Reserved3) == 12 + 2 * P);
static_assert(sizeof(TDiscountOutData) == 100 + 2 * W);

int main() { return 0; }
