// Two readings of one sale alike, to the bit of every number.
#pragma once

#include <cstddef>
#include <cstring>

#include "host/session/SaleJson.h"

inline bool SameNumber(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline bool SameSale(const selvo::host::TSale& a, const selvo::host::TSale& b) {
  if (a.paymentID != b.paymentID || a.paymentName != b.paymentName) return false;
  if (a.moment.has_value() != b.moment.has_value() || (a.moment && !SameNumber(*a.moment, *b.moment))) return false;
  if (a.lines.size() != b.lines.size()) return false;
  for (std::size_t i = 0; i < a.lines.size(); ++i) {
    const auto& x = a.lines[i];
    const auto& y = b.lines[i];
    if (x.goods != y.goods || x.category != y.category || !SameNumber(x.zprice, y.zprice) ||
        !SameNumber(x.price, y.price) || !SameNumber(x.quantity, y.quantity))
      return false;
  }
  return true;
}
