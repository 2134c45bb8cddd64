// The discount cards and the one discount list. (Cards arrive with the
// discount work; until then the list stays empty.)
#pragma once

namespace selvo {

class TDiscountList {
 public:
  TDiscountList() = default;
  TDiscountList(const TDiscountList&) = delete;
  TDiscountList& operator=(const TDiscountList&) = delete;
  int Count() const { return 0; }
  void Clear() {}
};

}  // namespace selvo
