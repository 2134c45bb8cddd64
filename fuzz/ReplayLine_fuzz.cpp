// A journal line as `replay` reads it: the fast reader and the general one
// must agree on every line, to the bit of every number and the word of
// every reason, whatever the bytes (the fast one hands the general one
// whatever it is not sure of). A difference stops the fuzzer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "SameSale.h"
#include "host/insight/ReplayLineReader.h"

namespace {

using selvo::host::TLineSale;

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
