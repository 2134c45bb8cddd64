#include "host/journal/SaleId.h"

#include <pthread.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <mutex>

#include "selvo/Errors.h"

namespace selvo::host {
namespace {

static_assert(kSaleIdAlphabet.size() == 32, "five bits a character");
static_assert(kSaleIdLength * 5 <= 64, "the bits of one 64-bit draw");

void FillRandom(unsigned char* into, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = getrandom(into + got, size - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Exception(std::string("нет случайных чисел для номера продажи: ") + std::strerror(errno));
    got += static_cast<std::size_t>(n);
  }
}

// The system's random bytes are drawn for many sales at once: one call a
// sale was a good part of what a sale cost the service besides its
// calculation. A child of fork() draws anew, so that no two processes
// give out the same identifiers.
std::mutex drawMutex;
std::uint64_t drawn[64];
std::size_t next = std::size(drawn);

std::uint64_t RandomBits() {
  static const bool forksDrawAnew = [] {
    pthread_atfork(nullptr, nullptr, [] { next = std::size(drawn); });
    return true;
  }();
  (void)forksDrawAnew;
  std::lock_guard lock(drawMutex);
  if (next == std::size(drawn)) {
    FillRandom(reinterpret_cast<unsigned char*>(drawn), sizeof drawn);
    next = 0;
  }
  const std::uint64_t bits = drawn[next];
  drawn[next++] = 0;  // a number given out is not kept
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
