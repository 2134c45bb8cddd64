#include "support/SafeIniFiles.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>
#include <thread>

#include "platform/IniProfile.h"
#include "platform/ProcessLock.h"
#include "platform/TextCodec.h"

namespace selvo {
namespace {

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// UTF-8 <-> the file's code page; plain ASCII, the common case, needs no
// conversion at all.
std::string ToFile(std::string_view utf8) { return IsAscii(utf8) ? std::string(utf8) : Utf8ToCp1251(utf8); }
std::string FromFile(std::string_view bytes) { return IsAscii(bytes) ? std::string(bytes) : Cp1251ToUtf8(bytes); }

std::vector<std::string> FromFile(std::vector<std::string> list) {
  for (auto& item : list) item = FromFile(item);
  return list;
}

std::string SystemErrorText(int code) {
  char buffer[256];
  return strerror_r(code, buffer, sizeof buffer);  // the GNU form: answers the text
}

// Codes of failures that waiting cannot mend: path not found, name too long,
// disk full, invalid name.
bool IsFinalWriteError(int code) {
  switch (code) {
    case ENOENT: case ENOTDIR: case ELOOP:
    case ENAMETOOLONG:
    case ENOSPC: case EDQUOT: case EFBIG:
    case EINVAL: case EILSEQ:
      return true;
    default:
      return false;
  }
}

std::optional<std::int32_t> TryDecimal(std::string_view s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  if (i == s.size()) return std::nullopt;
  std::int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    v = v * 10 + (s[i] - '0');
    if (v > 2147483648LL) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(v);
}

// Decimal with sign, or hexadecimal "$1F" / "0x1F" (up to 32 bits, taken as
// signed); leading blanks allowed.
std::optional<std::int32_t> TryStrToInt(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  std::string_view digits;
  if (!s.empty() && s.front() == '$') {
    digits = s.substr(1);
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    digits = s.substr(2);
  } else {
    return TryDecimal(s);
  }
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : digits) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<std::uint32_t>(d);
  }
  return static_cast<std::int32_t>(v);
}

std::string DecodeNewLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, TSafeIniFile::kNewLineMarker.size(), TSafeIniFile::kNewLineMarker) == 0) {
      out += "\r\n";
      i += TSafeIniFile::kNewLineMarker.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

bool NeedsQuotes(unsigned char c) { return c <= 32 || c == '"' || c == '\''; }

// Adds the operation's name in front of the message of a module error that
// leaves `work`; the error keeps its class.
template <class Work>
auto Wrapped(const char* operation, Work&& work) -> decltype(work()) {
  try {
    return work();
  } catch (Exception& e) {
    e.SetMessage(std::string(operation) + " -> " + e.Message());
    throw;
  }
}

}  // namespace

const TFormatSettings& InvariantFormat() {
  static const TFormatSettings format = [] {
    TFormatSettings fs = TFormatSettings::FromProcessLocale();
    fs.ShortDateFormat = "dd.mm.yyyy";
    fs.LongDateFormat = "dd.mm.yyyy";
    fs.ShortTimeFormat = "hh:nn:ss.zzzz";
    fs.LongTimeFormat = "hh:nn:ss.zzzz";
    fs.DateSeparator = '.';
    fs.TimeSeparator = ':';
    fs.DecimalSeparator = '.';
    return fs;
  }();
  return format;
}

// ---------------------------------------------------------------------------
// TCustomIniFile

std::int32_t TCustomIniFile::ReadInteger(const std::string& section, const std::string& ident, std::int32_t def) {
  return TryStrToInt(ReadString(section, ident, "")).value_or(def);
}

void TCustomIniFile::WriteInteger(const std::string& section, const std::string& ident, std::int32_t value) {
  WriteString(section, ident, std::to_string(value));
}

bool TCustomIniFile::ReadBool(const std::string& section, const std::string& ident, bool def) {
  return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

int TCustomIniFile::ReadBinaryStream(const std::string& section, const std::string& name, std::ostream& value) {
  const std::string text = ReadString(section, name, "");
  auto nibble = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    int high = nibble(text[i]), low = nibble(text[i + 1]);
    if (high < 0 || low < 0) break;
    bytes += static_cast<char>(high * 16 + low);
  }
  value.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<int>(bytes.size());
}

void TCustomIniFile::WriteBinaryStream(const std::string& section, const std::string& name, std::istream& value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::istreambuf_iterator<char> it(value), end; it != end; ++it) {
    const auto byte = static_cast<unsigned char>(*it);
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  WriteString(section, name, text);
}

double TCustomIniFile::ReadDate(const std::string& section, const std::string& name, double def) {
  std::string text = ReadString(section, name, "");
  return text.empty() ? def : TryStrToDate(text, ModuleFormatSettings()).value_or(def);
}

double TCustomIniFile::ReadDateTime(const std::string& section, const std::string& name, double def) {
  std::string text = ReadString(section, name, "");
  return text.empty() ? def : TryStrToDateTime(text, ModuleFormatSettings()).value_or(def);
}

double TCustomIniFile::ReadFloat(const std::string& section, const std::string& name, double def) {
  std::string text = ReadString(section, name, "");
  return text.empty() ? def : TryStrToFloat(text, ModuleFormatSettings()).value_or(def);
}

double TCustomIniFile::ReadTime(const std::string& section, const std::string& name, double def) {
  std::string text = ReadString(section, name, "");
  return text.empty() ? def : TryStrToTime(text, ModuleFormatSettings()).value_or(def);
}

void TCustomIniFile::WriteDate(const std::string& section, const std::string& name, double value) {
  WriteString(section, name, DateToStr(value, ModuleFormatSettings()));
}

void TCustomIniFile::WriteDateTime(const std::string& section, const std::string& name, double value) {
  WriteString(section, name, DateTimeToStr(value, ModuleFormatSettings()));
}

void TCustomIniFile::WriteFloat(const std::string& section, const std::string& name, double value) {
  WriteString(section, name, FloatToStr(value, ModuleFormatSettings()));
}

void TCustomIniFile::WriteTime(const std::string& section, const std::string& name, double value) {
  WriteString(section, name, TimeToStr(value, ModuleFormatSettings()));
}

void TCustomIniFile::ReadSections(const std::string& section, std::vector<std::string>& strings) {
  std::vector<std::string> all;
  ReadSections(all);
  strings.clear();
  const std::string prefix = section + "\\";
  const std::size_t prefixLength = Utf8Length(prefix);
  for (auto& name : all) {
    if (SameText(name, section) || SameText(Utf8Left(name, prefixLength), prefix)) strings.push_back(std::move(name));
  }
}

bool TCustomIniFile::ValueExists(const std::string& section, const std::string& ident) {
  std::vector<std::string> keys;
  ReadSection(section, keys);
  for (const auto& key : keys)
    if (SameText(key, ident)) return true;
  return false;
}

// ---------------------------------------------------------------------------
// TIniFile

void TIniFile::Check(int rc) {
  lastError_ = rc;
  if (rc != 0) throw EIniFileException("Unable to write to " + FileName());
}

std::optional<std::string> TIniFile::ReadRaw(std::string_view section, std::string_view ident,
                                             std::size_t bufferSize) {
  return IniProfile().ReadKey(FileName(), section, ident, bufferSize);
}

void TIniFile::WriteRaw(std::string_view section, std::string_view ident, std::string_view value) {
  Check(IniProfile().WriteKey(FileName(), section, ident, value));
}

void TIniFile::DeleteRaw(std::string_view section, std::string_view ident) {
  Check(IniProfile().DeleteKey(FileName(), section, ident));
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident, const std::string& def) {
  auto value = ReadRaw(ToFile(section), ToFile(ident), 2048);
  return value ? FromFile(*value) : def;
}

void TIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
  WriteRaw(ToFile(section), ToFile(ident), ToFile(value));
}

void TIniFile::ReadSection(const std::string& section, std::vector<std::string>& strings) {
  strings = FromFile(IniProfile().KeyNames(FileName(), ToFile(section)));
}

void TIniFile::ReadSections(std::vector<std::string>& strings) {
  strings = FromFile(IniProfile().SectionNames(FileName()));
}

void TIniFile::ReadSectionValues(const std::string& section, std::vector<std::string>& strings) {
  strings = FromFile(IniProfile().SectionLines(FileName(), ToFile(section)));
}

void TIniFile::EraseSection(const std::string& section) {
  Check(IniProfile().DeleteSection(FileName(), ToFile(section)));
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
  DeleteRaw(ToFile(section), ToFile(ident));
}

void TIniFile::UpdateFile() { Check(IniProfile().Flush(FileName())); }

// ---------------------------------------------------------------------------
// TSafeIniFile

class TSafeIniFile::TLockGuard {
 public:
  explicit TLockGuard(TSafeIniFile& file) : file_(file) { file_.Lock(); }
  ~TLockGuard() { file_.Unlock(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  TSafeIniFile& file_;
};

TSafeIniFile::TSafeIniFile(std::string fileName)
    : TIniFile(std::move(fileName)), lock_(std::make_unique<TProcessLock>(LockName(FileName()))) {}

TSafeIniFile::~TSafeIniFile() {
  Lock();
  Unlock();
}

void TSafeIniFile::Lock() { lock_->Lock(); }
void TSafeIniFile::Unlock() { lock_->Unlock(); }

bool TSafeIniFile::HasLock() const { return lock_->Opened(); }
std::string TSafeIniFile::LockPath() const { return lock_->Path(); }

std::string TSafeIniFile::LockName(const std::string& fileName) {
  std::string name = kLockNamePrefix + LowerCase(fileName);
  // Doubled separators name the same file; '/' is this system's separator
  // as '\' is the other's.
  for (const char* pair : {"\\\\", "//"}) {
    while (name.find(pair) != std::string::npos) {
      std::string collapsed;
      for (std::size_t i = 0; i < name.size();) {
        if (name.compare(i, 2, pair) == 0) {
          collapsed += pair[0];
          i += 2;
        } else {
          collapsed += name[i++];
        }
      }
      name = std::move(collapsed);
    }
  }
  for (char& c : name) {
    if (std::strchr("\"*/:<>?\\|", c) && c != '\0') c = '_';
  }
  return name;
}

std::int32_t TSafeIniFile::ChunkHash(std::string_view text) {
  std::uint32_t h = 0;
  for (unsigned char b : text) {
    h += b;
    h -= (h << 13) | (h >> 19);
  }
  return static_cast<std::int32_t>(h);
}

TSafeIniFile::TSplitValue TSafeIniFile::SplitValue(std::string_view value) {
  TSplitValue result;
  std::string buffer;
  std::string first;
  auto flush = [&] {
    if (result.chunks.empty()) first = buffer;
    const bool quote = NeedsQuotes(static_cast<unsigned char>(buffer.front())) ||
                       NeedsQuotes(static_cast<unsigned char>(buffer.back()));
    result.chunks.push_back(quote ? "\"" + buffer + "\"" : buffer);
    buffer.clear();
  };
  for (char c : value) {
    if (buffer.size() >= kMaxChunkLength) flush();
    if (c == '\n') {
      if (buffer.size() + kNewLineMarker.size() > kMaxChunkLength) flush();
      buffer += kNewLineMarker;
    } else if (c != '\r') {
      buffer += c;
    }
  }
  if (!buffer.empty()) flush();
  if (result.chunks.size() >= 2) result.hash = ChunkHash(first);
  return result;
}

void TSafeIniFile::CheckSection(const std::string& section) const {
  if (section.empty()) throw EIniFileException("Не указано название секции. Имя файла: " + FileName());
}

void TSafeIniFile::CheckIdent(const std::string& ident) const {
  if (ident.empty()) throw EIniFileException("Не указано название переменной. Имя файла: " + FileName());
}

std::optional<std::string> TSafeIniFile::RawRead(const std::string& section, const std::string& key,
                                                 std::int32_t* hash) {
  return Decoded(ReadRaw(section, key, kReadBufferSize), hash);
}

std::optional<std::string> TSafeIniFile::Decoded(std::optional<std::string> text, std::int32_t* hash) {
  if (!text) return std::nullopt;
  if (hash) *hash = ChunkHash(*text);
  if (text->find(kNewLineMarker) == std::string::npos) return text;
  return DecodeNewLines(*text);
}

std::string TSafeIniFile::ReadString(const std::string& section, const std::string& ident, const std::string& def) {
  return Wrapped("TSafeIniFile.ReadString", [&] {
    CheckSection(section);
    CheckIdent(ident);
    TLockGuard guard(*this);
    const std::string sec = ToFile(section), key = ToFile(ident);
    // The count and the first line come from one read of the file.
    const std::string countKey = key + "__$Count";
    auto both = IniProfile().ReadKeys(FileName(), sec, {countKey, key}, kReadBufferSize);
    std::int32_t count = kNoCount;
    if (auto text = Decoded(std::move(both[0]), nullptr)) count = TryDecimal(*text).value_or(kNoCount);
    std::int32_t hash = 0;
    auto first = Decoded(std::move(both[1]), &hash);
    // A missing first line gives the default as it was passed, not after a
    // trip through the file's code page.
    std::string result = first ? FromFile(*first) : def;
    if (count > 1) {
      if (!first) hash = ChunkHash(ToFile(def));
      auto stored = RawRead(sec, key + "__$Hash");
      if (stored && TryDecimal(*stored) == hash) {
        std::string rest;
        for (std::int32_t k = 2; k <= count; ++k) {
          if (auto chunk = RawRead(sec, key + "__$Line" + std::to_string(k))) rest += *chunk;
        }
        result += FromFile(rest);
      }
    }
    return result;
  });
}

void TSafeIniFile::RawWrite(const std::string& section, const std::string& key, std::string_view text) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kRetryTimeoutMs);
  for (;;) {
    try {
      WriteRaw(section, key, text);
      return;
    } catch (Exception& e) {
      const int code = LastError();
      if (Clock::now() >= deadline || IsFinalWriteError(code)) {
        e.SetMessage(SystemErrorText(code) + " -> " + e.Message());
        throw;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs));
  }
}

void TSafeIniFile::DeleteContinuation(const std::string& section, const std::string& ident, bool withKey) {
  TLockGuard guard(*this);
  const std::int32_t count = ReadInteger(section, ident + "__$Count", kNoCount);
  const std::string sec = ToFile(section), key = ToFile(ident);
  if (count != kNoCount) {
    DeleteRaw(sec, key + "__$Count");
    DeleteRaw(sec, key + "__$Hash");
    for (std::int32_t k = count; k >= 2; --k) DeleteRaw(sec, key + "__$Line" + std::to_string(k));
  }
  if (withKey) DeleteRaw(sec, key);
}

void TSafeIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
  Wrapped("TSafeIniFile.WriteString", [&] {
    CheckSection(section);
    CheckIdent(ident);
    const TSplitValue parts = SplitValue(ToFile(value));
    TLockGuard guard(*this);
    DeleteContinuation(section, ident, false);
    const std::string sec = ToFile(section), key = ToFile(ident);
    if (parts.chunks.empty()) {
      RawWrite(sec, key, "");
      return;
    }
    RawWrite(sec, key, parts.chunks[0]);
    const std::size_t n = parts.chunks.size();
    if (n >= 2) {
      RawWrite(sec, key + "__$Count", std::to_string(n));
      RawWrite(sec, key + "__$Hash", std::to_string(parts.hash));
      for (std::size_t k = 2; k <= n; ++k) RawWrite(sec, key + "__$Line" + std::to_string(k), parts.chunks[k - 1]);
    }
  });
}

void TSafeIniFile::DeleteKey(const std::string& section, const std::string& ident) {
  Wrapped("TSafeIniFile.DeleteKey", [&] {
    CheckSection(section);
    CheckIdent(ident);
    TLockGuard guard(*this);
    DeleteContinuation(section, ident, true);
  });
}

void TSafeIniFile::EraseSection(const std::string& section) {
  Wrapped("TSafeIniFile.EraseSection", [&] {
    CheckSection(section);
    TLockGuard guard(*this);
    TIniFile::EraseSection(section);
  });
}

void TSafeIniFile::ReadSection(const std::string& section, std::vector<std::string>& strings) {
  Wrapped("TSafeIniFile.ReadSection", [&] {
    CheckSection(section);
    TLockGuard guard(*this);
    TIniFile::ReadSection(section, strings);
  });
}

void TSafeIniFile::ReadSectionValues(const std::string& section, std::vector<std::string>& strings) {
  Wrapped("TSafeIniFile.ReadSectionValues", [&] {
    CheckSection(section);
    TLockGuard guard(*this);
    TIniFile::ReadSectionValues(section, strings);
  });
}

void TSafeIniFile::ReadSections(std::vector<std::string>& strings) {
  TLockGuard guard(*this);
  TIniFile::ReadSections(strings);
}

void TSafeIniFile::UpdateFile() {
  TLockGuard guard(*this);
  TIniFile::UpdateFile();
}

// Conversions never raise: a text that does not convert gives the default.
// An error of ReadString leaves with ReadString's name alone.

double TSafeIniFile::ReadDate(const std::string& section, const std::string& name, double def) {
  const std::string text = ReadString(section, name, "");
  return Wrapped("TSafeIniFile.ReadDate", [&] {
    return text.empty() ? def : TryStrToDate(text, InvariantFormat()).value_or(def);
  });
}

double TSafeIniFile::ReadDateTime(const std::string& section, const std::string& name, double def) {
  const std::string text = ReadString(section, name, "");
  return Wrapped("TSafeIniFile.ReadDateTime", [&] {
    return text.empty() ? def : TryStrToDateTime(text, InvariantFormat()).value_or(def);
  });
}

double TSafeIniFile::ReadFloat(const std::string& section, const std::string& name, double def) {
  const std::string text = ReadString(section, name, "");
  return Wrapped("TSafeIniFile.ReadFloat", [&] {
    return text.empty() ? def : TryStrToFloat(text, InvariantFormat()).value_or(def);
  });
}

double TSafeIniFile::ReadTime(const std::string& section, const std::string& name, double def) {
  const std::string text = ReadString(section, name, "");
  return Wrapped("TSafeIniFile.ReadTime", [&] {
    return text.empty() ? def : TryStrToTime(text, InvariantFormat()).value_or(def);
  });
}

void TSafeIniFile::WriteDate(const std::string& section, const std::string& name, double value) {
  Wrapped("TSafeIniFile.WriteDate", [&] { WriteString(section, name, DateToStr(value, InvariantFormat())); });
}

void TSafeIniFile::WriteDateTime(const std::string& section, const std::string& name, double value) {
  Wrapped("TSafeIniFile.WriteDateTime", [&] { WriteString(section, name, DateTimeToStr(value, InvariantFormat())); });
}

void TSafeIniFile::WriteFloat(const std::string& section, const std::string& name, double value) {
  Wrapped("TSafeIniFile.WriteFloat", [&] { WriteString(section, name, FloatToStr(value, InvariantFormat())); });
}

void TSafeIniFile::WriteTime(const std::string& section, const std::string& name, double value) {
  Wrapped("TSafeIniFile.WriteTime", [&] { WriteString(section, name, TimeToStr(value, InvariantFormat())); });
}

}  // namespace selvo
