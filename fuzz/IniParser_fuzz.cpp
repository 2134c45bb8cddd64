// Feeds arbitrary bytes to the INI text parser as a file, then reads, writes
// and deletes on it with names and values taken from the same input, and
// checks what every caller relies on: a written key reads back, a deleted one
// is gone, a write adds at most its own section, and nothing crashes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/IniProfile.h"
#include "platform/TextCodec.h"
#include "support/SafeIniFiles.h"

namespace {

using selvo::TIniText;

// Names the file syntax cannot misread: letters, digits and '_'.
std::string Name(FuzzedDataProvider& in) {
  std::string raw = in.ConsumeRandomLengthString(16);
  std::string name;
  for (char c : raw)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') name += c;
  return name.empty() ? "k" : name;
}

// What a read gives back of a written value.
std::string AsRead(std::string v) {
  std::size_t cut = v.find_first_of(std::string("\0\r\n", 3));
  if (cut != std::string::npos) v.resize(cut);
  std::size_t b = v.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  std::size_t e = v.find_last_not_of(" \t");
  v = v.substr(b, e - b + 1);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return v;
}

bool Listed(const std::vector<std::string>& names, const std::string& name) {
  for (const auto& n : names)
    if (selvo::SameText(selvo::Cp1251ToUtf8(n), name)) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  TIniText ini(in.ConsumeRandomLengthString(size));

  // Reading and listing whatever is there.
  const auto sections = ini.SectionNames();
  for (const auto& s : sections) {
    for (const auto& k : ini.KeyNames(s)) (void)ini.Read(s, k);
    (void)ini.SectionLines(s);
  }

  while (in.remaining_bytes() > 0) {
    const std::string section = Name(in), key = Name(in);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: {
        const std::string value = in.ConsumeRandomLengthString(64);
        const auto before = ini.SectionNames();
        ini.Write(section, key, value);
        if (ini.Read(section, key) != AsRead(value)) std::abort();
        const auto after = ini.SectionNames();
        if (after.size() != before.size() && after.size() != before.size() + 1) std::abort();
        break;
      }
      case 1:
        ini.DeleteKey(section, key);
        if (ini.Read(section, key).has_value()) std::abort();
        break;
      case 2:
        ini.DeleteSection(section);
        if (Listed(ini.SectionNames(), section)) std::abort();
        break;
      default: {
        // The stored chunks of a value always fit the read buffer.
        const auto parts = selvo::TSafeIniFile::SplitValue(in.ConsumeRandomLengthString(size));
        for (const auto& chunk : parts.chunks)
          if (chunk.size() > selvo::TSafeIniFile::kReadBufferSize - 1) std::abort();
        break;
      }
    }
  }
  return 0;
}
