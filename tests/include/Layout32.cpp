// Compiled for a 32-bit and a 64-bit target: the records the host reads keep
// their byte layout.
#include <cstddef>

#include "selvo/SelvoPaymentsTypes.h"

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

#if defined(__i386__)
// The host's layout, binding on a 32-bit target.
static_assert(offsetof(TDiscountInData, GoodsIDs) == 4);
static_assert(offsetof(TDiscountInData, CategoryIDs) == 8);
static_assert(offsetof(TDiscountInData, ZPrices) == 12);
static_assert(offsetof(TDiscountInData, Prices) == 16);
static_assert(offsetof(TDiscountInData, Quantities) == 20);
static_assert(offsetof(TDiscountInData, PayID) == 24);
static_assert(offsetof(TDiscountInData, SaleTime) == 28);
static_assert(sizeof(TDiscountInData) == 36);

static_assert(offsetof(TDiscountOutData, Reserved1) == 4);
static_assert(offsetof(TDiscountOutData, DiscountPercent) == 8);
static_assert(offsetof(TDiscountOutData, Reserved2) == 16);
static_assert(offsetof(TDiscountOutData, Reserved3) == 20);
static_assert(sizeof(TDiscountOutData) == 100);
#else
// On 64-bit the pointers widen and every field keeps its natural alignment.
static_assert(offsetof(TDiscountInData, GoodsIDs) == 8);
static_assert(offsetof(TDiscountInData, Quantities) == 40);
static_assert(offsetof(TDiscountInData, PayID) == 48);
static_assert(offsetof(TDiscountInData, SaleTime) == 56);
static_assert(offsetof(TDiscountOutData, DiscountPercent) == 16);
static_assert(offsetof(TDiscountOutData, Reserved3) == 32);
#endif
int main() { return 0; }
