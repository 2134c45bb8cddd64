// The one header a host includes to use the payments and discounts module.
//
// It gathers the small headers of what host and module share: the error
// classes, the data module and dataset interfaces the host implements, the two
// host callbacks, the records with their fixed byte layout (with the host's
// reference-counted array and text forms), the payment list's operations, and
// here the fifteen exported functions.
//
// Texts crossing this interface are UTF-8, except the fields of TPaymentRec
// that the host reads as 8-bit Windows-1251 (Name, CustomCheck).
#pragma once

#ifndef __cplusplus
#error "selvo/SelvoPaymentsTypes.h is a C++ header (classes, namespaces): include it from C++20, not from C"
#endif

#include <cstdint>

#include "selvo/Errors.h"
#include "selvo/SelvoCallbacks.h"
#include "selvo/SelvoDataSets.h"
#include "selvo/SelvoPaymentList.h"
#include "selvo/SelvoRecords.h"

// ---------------------------------------------------------------------------
// The exported functions, by their plain names.
extern "C" {
selvo::TPaymentList* GetPaymentList();
void SetDataModule(selvo::TDataModule* dataModule);
void SetLastPaymentID(std::int32_t id);
void SetLastDiscountID(std::int32_t id);
void SetLastDscGoodsID(std::int32_t id);
void SetLastExclusionsID(std::int32_t id);
std::int32_t GetPaymentsVersion();
void PaymentsCanEditSmartCardDiscount(bool canEdit);
void SetTransactionFunc(selvo::TTransactionFunc func);
void SetRoundPrecision(std::int32_t precision);
void SetGoodsSelectFormShow(selvo::TGoodsSelectFormShow func);
void FillPaymentsList();
void FillDiscountList();
double CalcDiscount(const selvo::TDiscountInData* inData, selvo::TDiscountOutData* outData);
void ShowSelvoPaymentsForm();
}
