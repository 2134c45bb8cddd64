// The module's one payment list as the host sees it: five operations in a
// fixed order of virtual slots.
#pragma once

#ifndef __cplusplus
#error "selvo/SelvoPaymentList.h is a C++ header (classes, namespaces): include it from C++20, not from C"
#endif

#include <cstdint>
#include <vector>

#include "selvo/SelvoRecords.h"

namespace selvo {

// The five virtual operations are the first five slots of the vtable, in this
// order. Only the module creates the list.
class TPaymentList {
 public:
  virtual void Clear();
  // Raises EListError for a position outside the list.
  virtual TPaymentRec* GetItem(std::int32_t index);
  virtual std::int32_t Count();
  // Appends a copy; the CustomCheck text is shared by reference count.
  virtual void Add(const TPaymentRec* record);
  // The name in Windows-1251, the encoding of TPaymentRec::Name (at most its
  // 20 bytes), compared without regard to letter case; nullptr when absent.
  virtual TPaymentRec* FindByName(const char* name);
  virtual ~TPaymentList();

  TPaymentList(const TPaymentList&) = delete;
  TPaymentList& operator=(const TPaymentList&) = delete;

 protected:
  TPaymentList();
  std::vector<TPaymentRec*> items_;
};

}  // namespace selvo
