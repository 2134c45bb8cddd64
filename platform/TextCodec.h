// Text helpers: Windows-1251 <-> UTF-8 and letter-case folding that covers
// Cyrillic as well as Latin letters. All module code works in UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace selvo {

// Converts UTF-8 to Windows-1251. Characters the code page lacks become '?'.
std::string Utf8ToCp1251(std::string_view utf8);
// Converts Windows-1251 to UTF-8 (every byte has a character).
std::string Cp1251ToUtf8(std::string_view cp1251);

// Number of characters (code points) in a UTF-8 text; invalid bytes count one each.
std::size_t Utf8Length(std::string_view utf8);
// The first `count` characters of a UTF-8 text.
std::string Utf8Left(std::string_view utf8, std::size_t count);

// Lower case of Latin and Cyrillic letters (including Ё/ё), other characters kept.
std::string LowerCase(std::string_view utf8);
std::string UpperCase(std::string_view utf8);
// Whole-text comparison without regard to letter case.
bool SameText(std::string_view a, std::string_view b);
// The text begins with `prefix`, letter case ignored: SameText of the text's
// first Utf8Length(prefix) characters and the prefix, without copying them.
bool StartsWithText(std::string_view text, std::string_view prefix);
// Lower case of one Windows-1251 byte (Latin and Cyrillic letters). Inline
// for the Latin letters: every settings read compares key names with it.
unsigned char LowerCp1251Upper(unsigned char c);  // c >= 0x80
inline unsigned char LowerCp1251(unsigned char c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
  return LowerCp1251Upper(c);
}

// Drops leading and trailing blanks and control characters (bytes <= 0x20).
std::string Trim(std::string_view text);

}  // namespace selvo
