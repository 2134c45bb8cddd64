#include "platform/TextCodec.h"

#include <algorithm>

namespace selvo {
namespace {

// Windows-1251 0x80..0xBF as Unicode code points; 0xC0..0xFF are А..я in order.
constexpr char32_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

// The code page is converted with this table in both directions. Byte 0x98
// has no character in it; it stands for U+0098, as the other system's own
// conversion has it, so that every byte of a stored name or template comes
// back unchanged. The tests check the table against iconv.

char32_t NextCodePoint(std::string_view s, std::size_t& i);

// Decodes one code point; advances i. Invalid bytes give U+FFFD.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (std::size_t k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += len;
  return cp;
}

void AppendCodePoint(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t LowerCodePoint(char32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 32;
  if (cp >= 0x0410 && cp <= 0x042F) return cp + 32;  // А..Я
  if (cp >= 0x0400 && cp <= 0x040F) return cp + 80;  // Ѐ..Џ (Ё, Ђ, Є, І, Ї, Ј, Љ, Њ, Ў ...)
  if (cp == 0x0490) return 0x0491;                   // Ґ
  return cp;
}

char32_t UpperCodePoint(char32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 32;
  if (cp >= 0x0430 && cp <= 0x044F) return cp - 32;
  if (cp >= 0x0450 && cp <= 0x045F) return cp - 80;
  if (cp == 0x0491) return 0x0490;
  return cp;
}

template <class Map>
std::string MapCase(std::string_view s, Map map) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    std::size_t start = i;
    char32_t cp = NextCodePoint(s, i);
    if (cp == 0xFFFD && i == start + 1 && static_cast<unsigned char>(s[start]) >= 0x80) {
      out += s[start];  // keep invalid bytes as they are
    } else {
      AppendCodePoint(out, map(cp));
    }
  }
  return out;
}

}  // namespace

std::string Utf8ToCp1251(std::string_view utf8) {
  // One byte per character, never more bytes than the UTF-8 text has.
  std::string out(utf8.size(), '\0');
  std::size_t n = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      out[n++] = utf8[i++];
      continue;
    }
    const char32_t cp = NextCodePoint(utf8, i);  // broken UTF-8 gives U+FFFD, which becomes '?'
    char byte = '?';                             // also for a character the code page lacks
    if (cp >= 0x0410 && cp <= 0x044F) {
      byte = static_cast<char>(0xC0 + (cp - 0x0410));
    } else {
      for (int k = 0; k < 64; ++k) {
        if (kCp1251High[k] == cp) {
          byte = static_cast<char>(0x80 + k);
          break;
        }
      }
    }
    out[n++] = byte;
  }
  out.resize(n);
  return out;
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (unsigned char c : cp1251) {
    const char32_t cp = c < 0x80 ? char32_t(c) : c >= 0xC0 ? char32_t(0x0410 + (c - 0xC0)) : kCp1251High[c - 0x80];
    AppendCodePoint(out, cp);
  }
  return out;
}

std::size_t Utf8Length(std::string_view utf8) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < utf8.size(); ++n) NextCodePoint(utf8, i);
  return n;
}

std::string Utf8Left(std::string_view utf8, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < count && i < utf8.size(); ++n) NextCodePoint(utf8, i);
  return std::string(utf8.substr(0, i));
}

std::string LowerCase(std::string_view utf8) { return MapCase(utf8, LowerCodePoint); }
std::string UpperCase(std::string_view utf8) { return MapCase(utf8, UpperCodePoint); }

namespace {

// The next code point for comparing: a byte that is not valid UTF-8 stands
// for itself, outside Unicode, so that two different broken texts never
// compare equal (as they would if both were U+FFFD).
char32_t NextForCompare(std::string_view s, std::size_t& i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    ++i;
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
  }
  const std::size_t start = i;
  const char32_t cp = NextCodePoint(s, i);
  if (cp == 0xFFFD && i == start + 1) return 0x110000 + static_cast<unsigned char>(s[start]);
  return LowerCodePoint(cp);
}

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  // Equal bytes are equal characters: start decoding at the character in
  // which the texts first differ.
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t k = 0;
  while (k < common && a[k] == b[k]) ++k;
  if (k == a.size() && k == b.size()) return true;
  auto inside = [](std::string_view s, std::size_t at) {
    return at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80;
  };
  while (k > 0 && (inside(a, k) || inside(b, k))) --k;
  std::size_t i = k, j = k;
  while (i < a.size() && j < b.size()) {
    if (NextForCompare(a, i) != NextForCompare(b, j)) return false;
  }
  return i == a.size() && j == b.size();
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  std::size_t i = 0, j = 0;
  while (j < prefix.size()) {
    if (i == text.size() || NextForCompare(text, i) != NextForCompare(prefix, j)) return false;
  }
  return true;
}

unsigned char LowerCp1251Upper(unsigned char c) {
  if (c >= 0xC0 && c <= 0xDF) return c + 32;  // А..Я
  switch (c) {
    case 0xA8: return 0xB8;  // Ё
    case 0x80: return 0x90;  // Ђ
    case 0x81: return 0x83;  // Ѓ
    case 0x8A: return 0x9A;  // Љ
    case 0x8C: return 0x9C;  // Њ
    case 0x8D: return 0x9D;  // Ќ
    case 0x8E: return 0x9E;  // Ћ
    case 0x8F: return 0x9F;  // Џ
    case 0xA1: return 0xA2;  // Ў
    case 0xA3: return 0xBC;  // Ј
    case 0xA5: return 0xB4;  // Ґ
    case 0xAA: return 0xBA;  // Є
    case 0xAF: return 0xBF;  // Ї
    case 0xB2: return 0xB3;  // І
    case 0xBD: return 0xBE;  // Ѕ
    default: return c;
  }
}

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20) --e;
  return std::string(text.substr(b, e - b));
}

}  // namespace selvo
