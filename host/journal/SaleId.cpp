#include "host/journal/SaleId.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "selvo/Errors.h"

namespace selvo::host {
namespace {

static_assert(kSaleIdAlphabet.size() == 32, "five bits a character");
static_assert(kSaleIdLength * 5 <= 64, "the bits of one 64-bit draw");

std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  auto* into = reinterpret_cast<unsigned char*>(&bits);
  std::size_t got = 0;
  while (got < sizeof bits) {
    const ssize_t n = getrandom(into + got, sizeof bits - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Exception(std::string("нет случайных чисел для номера продажи: ") + std::strerror(errno));
    got += static_cast<std::size_t>(n);
  }
  return bits;
}

}  // namespace

std::string NewSaleId() {
  std::uint64_t bits = RandomBits();
  std::string id(kSaleIdLength, '0');
  for (char& c : id) {
    c = kSaleIdAlphabet[bits & 31];
    bits >>= 5;
  }
  return id;
}

bool IsSaleId(std::string_view text) {
  return text.size() == kSaleIdLength && text.find_first_not_of(kSaleIdAlphabet) == std::string_view::npos;
}

}  // namespace selvo::host
