// A journal line as `replay` reads it: the fast reader and the general one
// must agree on every line, to the bit of every number and the word of
// every reason, whatever the bytes (the fast one hands the general one
// whatever it is not sure of). A difference stops the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "host/insight/ReplayLineReader.h"

namespace {

using selvo::host::TLineSale;
using selvo::host::TSale;

bool SameNumber(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SameSale(const TSale& a, const TSale& b) {
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

bool Same(const TLineSale& a, const TLineSale& b) {
  if (a.sale.has_value() != b.sale.has_value() || (a.sale && !SameSale(*a.sale, *b.sale))) return false;
  return a.saleId == b.saleId && a.reason == b.reason && a.torn == b.torn;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static selvo::host::TLineSaleReader reader;
  // The reader's buffer holds the padding the fast parser may read past the line.
  std::string buffer(reinterpret_cast<const char*>(data), size);
  buffer.append(selvo::host::kLineReadPadding, ' ');
  for (const bool last : {false, true}) {
    selvo::host::TJournalLine line;
    line.text = std::string_view(buffer.data(), size);
    line.number = 1;
    line.last = last;
    TLineSale fast;
    reader.Read(line, fast);
    if (!Same(fast, selvo::host::ReadLineSaleGenerally(line))) __builtin_trap();
  }
  return 0;
}
