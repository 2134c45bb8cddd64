// Splitting text into lines. A line ends at CR LF, CR or LF, whichever comes
// first; files of either convention, or a mix, read the same.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace selvo {

// One line of a text: its content without the break, and the position where
// the next line starts (text.size() after the last one).
struct TTextLine {
  std::string_view text;
  std::size_t next;
};

// The first CR or LF from `from` on, `last` when there is none. Eight bytes
// are looked at in one step, and both are inline: every settings read walks
// the lines of its section this way.
inline const char* FindLineBreak(const char* from, const char* last) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    // A high bit set in the lowest byte that is zero, and only above it
    // where borrows run on, so the lowest set bit is exact.
    auto zeroBytes = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    for (; last - from >= 8; from += 8) {
      std::uint64_t word;
      std::memcpy(&word, from, 8);
      const std::uint64_t breaks = zeroBytes(word ^ (kOnes * '\r')) | zeroBytes(word ^ (kOnes * '\n'));
      if (breaks != 0) return from + std::countr_zero(breaks) / 8;
    }
  }
  while (from < last && *from != '\r' && *from != '\n') ++from;
  return from;
}

// The line starting at `start` (start <= text.size()).
inline TTextLine LineAt(std::string_view text, std::size_t start) {
  const char* const base = text.data();
  std::size_t end = static_cast<std::size_t>(FindLineBreak(base + start, base + text.size()) - base);
  std::size_t next = end;
  if (next < text.size()) next += (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
  return {text.substr(start, end - start), next};
}

// Every line of the text; a break at the very end adds no empty line, and an
// empty text has none. The views point into `text`.
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace selvo
