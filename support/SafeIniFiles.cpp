#include "support/SafeIniFiles.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <istream>
#include <iterator>
#include <mutex>
#include <ostream>
#include <thread>

#include "platform/FileIO.h"
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

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The part of a name that the file can hold on one line.
std::string_view CutAtLineBreak(std::string_view s) {
  return s.substr(0, s.find_first_of(std::string_view("\0\r\n", 3)));
}

// Codes of failures that waiting cannot mend: path not found, name too long,
// disk full, invalid name.
bool IsFinalWriteError(int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case EINVAL:
    case EILSEQ: return true;
    default: return false;
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
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
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

std::atomic<int> gLockTimeoutMs{0};
int LockTimeoutMs() {
  const int ms = gLockTimeoutMs.load();
  return ms > 0 ? ms : TSafeIniFile::kLockTimeoutMs;
}

// The lock file may be held by any process of any user, so the wait is
// bounded: a till must fail with a reason rather than hang.
void LockWithinTimeout(TProcessLock& lock, const std::string& fileName) {
  if (!lock.TryLockFor(std::chrono::milliseconds(LockTimeoutMs()))) {
    throw EIniFileException("Файл настроек " + fileName + " занят другим процессом: блокировка " + lock.Path() +
                            " не освободилась за " + std::to_string(LockTimeoutMs() / 1000.0).substr(0, 4) + " с");
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
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
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

TIniText TIniFile::Load() {
  TIniText text;
  const int rc = IniProfile().ReadText(FileName(), text);
  lastError_ = rc;
  // An unreadable file is not an empty one: every key of it would read as
  // missing and its defaults would pass for the settings.
  if (rc != 0) throw EIniFileException("Unable to read " + FileName() + ": " + FileErrorText(rc));
  return text;
}

void TIniFile::Modify(const std::function<bool(TIniText&)>& change) { Check(IniProfile().Modify(FileName(), change)); }

std::optional<std::string> TIniFile::ReadRaw(const TIniText& text, std::string_view section, std::string_view ident,
                                             std::size_t bufferSize) {
  auto value = text.Read(section, ident);
  if (value && value->size() >= bufferSize) value->resize(bufferSize > 0 ? bufferSize - 1 : 0);
  return value;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident, const std::string& def) {
  auto value = ReadRaw(Load(), ToFile(section), ToFile(ident), 2048);
  return value ? FromFile(*value) : def;
}

void TIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
  const std::string sec = ToFile(section), key = ToFile(ident), text = ToFile(value);
  if (TrimBlanks(CutAtLineBreak(key)).empty()) return Check(EINVAL);
  Modify([&](TIniText& ini) { return ini.Write(sec, key, text); });
}

void TIniFile::ReadSection(const std::string& section, std::vector<std::string>& strings) {
  strings = FromFile(Load().KeyNames(ToFile(section)));
}

void TIniFile::ReadSections(std::vector<std::string>& strings) { strings = FromFile(Load().SectionNames()); }

void TIniFile::ReadSectionValues(const std::string& section, std::vector<std::string>& strings) {
  strings = FromFile(Load().SectionLines(ToFile(section)));
}

void TIniFile::EraseSection(const std::string& section) {
  const std::string sec = ToFile(section);
  Modify([&](TIniText& ini) { return ini.DeleteSection(sec); });
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
  const std::string sec = ToFile(section), key = ToFile(ident);
  Modify([&](TIniText& ini) { return ini.DeleteKey(sec, key); });
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
  if (lock_->TryLockFor(std::chrono::milliseconds(LockTimeoutMs()))) Unlock();
}

void TSafeIniFile::SetLockTimeoutForTesting(int milliseconds) { gLockTimeoutMs = milliseconds; }

void TSafeIniFile::Lock() { LockWithinTimeout(*lock_, FileName()); }
void TSafeIniFile::Unlock() { lock_->Unlock(); }

TSafeIniFile::THeldLock::THeldLock(const std::string& fileName)
    : lock_(std::make_unique<TProcessLock>(LockName(fileName))) {
  LockWithinTimeout(*lock_, fileName);
}
TSafeIniFile::THeldLock::~THeldLock() { lock_->Unlock(); }

bool TSafeIniFile::HasLock() const { return lock_->Opened(); }
std::string TSafeIniFile::LockPath() const { return lock_->Path(); }

std::string TSafeIniFile::LockName(const std::string& fileName) {
  // Every sale makes its objects for the one settings file, so the last name
  // worked out is kept. Not per thread: thread-local objects of a library
  // that stays loaded trip the leak checker's walk over the threads.
  static std::mutex lastMutex;
  static std::string lastFile, lastName;
  {
    std::lock_guard<std::mutex> guard(lastMutex);
    if (!lastName.empty() && fileName == lastFile) return lastName;
  }
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
  std::lock_guard<std::mutex> guard(lastMutex);
  lastFile = fileName;
  lastName = name;
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

// A stored chunk as a read gives it: cut to the read buffer, its hash to
// *hash (when asked), line break markers decoded.
static std::optional<std::string> FinishChunk(std::optional<std::string> text, std::int32_t* hash) {
  if (!text) return std::nullopt;
  if (text->size() >= TSafeIniFile::kReadBufferSize) text->resize(TSafeIniFile::kReadBufferSize - 1);
  if (hash) *hash = TSafeIniFile::ChunkHash(*text);
  if (text->find(TSafeIniFile::kNewLineMarker) == std::string::npos) return text;
  return DecodeNewLines(*text);
}

std::optional<std::string> TSafeIniFile::RawRead(const TIniText& ini, const std::string& section,
                                                 const std::string& key, std::int32_t* hash) {
  return FinishChunk(ReadRaw(ini, section, key, kReadBufferSize), hash);
}

std::string TSafeIniFile::ReadString(const std::string& section, const std::string& ident, const std::string& def) {
  return WithOperationName("TSafeIniFile.ReadString", [&] {
    CheckSection(section);
    CheckIdent(ident);
    TLockGuard guard(*this);
    // One read of the file: the chunks of a value come from one version of it.
    const TIniText ini = Load();
    const std::string sec = ToFile(section), key = ToFile(ident);
    // The count and the first line in one pass over the section: every read
    // asks for both, and most values have no count.
    const std::string countKey = key + "__$Count";
    const std::string_view both[] = {countKey, key};
    std::vector<std::optional<std::string>> found = ini.ReadEach(sec, both);
    std::int32_t count = kNoCount;
    if (auto text = FinishChunk(std::move(found[0]), nullptr)) count = TryDecimal(*text).value_or(kNoCount);
    std::int32_t hash = 0;
    auto first = FinishChunk(std::move(found[1]), &hash);
    // A missing first line gives the default as it was passed, not after a
    // trip through the file's code page.
    std::string result = first ? FromFile(*first) : def;
    if (count > 1) {
      if (!first) hash = ChunkHash(ToFile(def));
      auto stored = RawRead(ini, sec, key + "__$Hash");
      if (stored && TryDecimal(*stored) == hash) {
        std::string rest;
        for (std::int32_t k = 2; k <= count; ++k) {
          if (auto chunk = RawRead(ini, sec, key + "__$Line" + std::to_string(k))) rest += *chunk;
        }
        result += FromFile(rest);
      }
    }
    return result;
  });
}

void TSafeIniFile::ModifyRetrying(const std::function<bool(TIniText&)>& change) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kRetryTimeoutMs);
  for (;;) {
    try {
      Modify(change);
      return;
    } catch (Exception& e) {
      const int code = LastError();
      if (Clock::now() >= deadline || IsFinalWriteError(code)) {
        PrefixOperation(e, FileErrorText(code));
        throw;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryPauseMs));
  }
}

// Removes the key's continuation keys (and the key itself when asked) from
// the text; answers whether anything went.
static bool DeleteContinuation(TIniText& ini, const std::string& sec, const std::string& key, bool withKey) {
  bool changed = false;
  if (auto stored = ini.Read(sec, key + "__$Count")) {
    const std::int32_t count = TryStrToInt(*stored).value_or(TSafeIniFile::kNoCount);
    changed |= ini.DeleteKey(sec, key + "__$Count");
    if (count != TSafeIniFile::kNoCount) {
      changed |= ini.DeleteKey(sec, key + "__$Hash");
      for (std::int32_t k = count; k >= 2; --k) changed |= ini.DeleteKey(sec, key + "__$Line" + std::to_string(k));
    }
  }
  if (withKey) changed |= ini.DeleteKey(sec, key);
  return changed;
}

void TSafeIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
  WithOperationName("TSafeIniFile.WriteString", [&] {
    CheckSection(section);
    CheckIdent(ident);
    const TSplitValue parts = SplitValue(ToFile(value));
    const std::string sec = ToFile(section), key = ToFile(ident);
    if (TrimBlanks(CutAtLineBreak(key)).empty()) {
      try {
        Check(EINVAL);  // "=value" would be no key
      } catch (Exception& e) {
        PrefixOperation(e, FileErrorText(EINVAL));
        throw;
      }
    }
    TLockGuard guard(*this);
    // Every key of the value in one replace of the file: a writer that dies
    // half-way leaves the whole old value, never its first chunk alone.
    ModifyRetrying([&](TIniText& ini) {
      bool changed = DeleteContinuation(ini, sec, key, false);
      if (parts.chunks.empty()) return ini.Write(sec, key, "") || changed;
      changed |= ini.Write(sec, key, parts.chunks[0]);
      const std::size_t n = parts.chunks.size();
      if (n >= 2) {
        changed |= ini.Write(sec, key + "__$Count", std::to_string(n));
        changed |= ini.Write(sec, key + "__$Hash", std::to_string(parts.hash));
        for (std::size_t k = 2; k <= n; ++k)
          changed |= ini.Write(sec, key + "__$Line" + std::to_string(k), parts.chunks[k - 1]);
      }
      return changed;
    });
  });
}

void TSafeIniFile::DeleteKey(const std::string& section, const std::string& ident) {
  WithOperationName("TSafeIniFile.DeleteKey", [&] {
    CheckSection(section);
    CheckIdent(ident);
    const std::string sec = ToFile(section), key = ToFile(ident);
    TLockGuard guard(*this);
    Modify([&](TIniText& ini) { return DeleteContinuation(ini, sec, key, true); });
  });
}

void TSafeIniFile::EraseSection(const std::string& section) {
  WithOperationName("TSafeIniFile.EraseSection", [&] {
    CheckSection(section);
    TLockGuard guard(*this);
    TIniFile::EraseSection(section);
  });
}

void TSafeIniFile::ReadSection(const std::string& section, std::vector<std::string>& strings) {
  WithOperationName("TSafeIniFile.ReadSection", [&] {
    CheckSection(section);
    TLockGuard guard(*this);
    TIniFile::ReadSection(section, strings);
  });
}

void TSafeIniFile::ReadSectionValues(const std::string& section, std::vector<std::string>& strings) {
  WithOperationName("TSafeIniFile.ReadSectionValues", [&] {
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
  return WithOperationName("TSafeIniFile.ReadDate",
                           [&] { return text.empty() ? def : TryStrToDate(text, InvariantFormat()).value_or(def); });
}

double TSafeIniFile::ReadDateTime(const std::string& section, const std::string& name, double def) {
  const std::string text = ReadString(section, name, "");
  return WithOperationName("TSafeIniFile.ReadDateTime", [&] {
    return text.empty() ? def : TryStrToDateTime(text, InvariantFormat()).value_or(def);
  });
}

double TSafeIniFile::ReadFloat(const std::string& section, const std::string& name, double def) {
  const std::string text = ReadString(section, name, "");
  return WithOperationName("TSafeIniFile.ReadFloat",
                           [&] { return text.empty() ? def : TryStrToFloat(text, InvariantFormat()).value_or(def); });
}

double TSafeIniFile::ReadTime(const std::string& section, const std::string& name, double def) {
  const std::string text = ReadString(section, name, "");
  return WithOperationName("TSafeIniFile.ReadTime",
                           [&] { return text.empty() ? def : TryStrToTime(text, InvariantFormat()).value_or(def); });
}

void TSafeIniFile::WriteDate(const std::string& section, const std::string& name, double value) {
  WithOperationName("TSafeIniFile.WriteDate", [&] { WriteString(section, name, DateToStr(value, InvariantFormat())); });
}

void TSafeIniFile::WriteDateTime(const std::string& section, const std::string& name, double value) {
  WithOperationName("TSafeIniFile.WriteDateTime",
                    [&] { WriteString(section, name, DateTimeToStr(value, InvariantFormat())); });
}

void TSafeIniFile::WriteFloat(const std::string& section, const std::string& name, double value) {
  WithOperationName("TSafeIniFile.WriteFloat",
                    [&] { WriteString(section, name, FloatToStr(value, InvariantFormat())); });
}

void TSafeIniFile::WriteTime(const std::string& section, const std::string& name, double value) {
  WithOperationName("TSafeIniFile.WriteTime", [&] { WriteString(section, name, TimeToStr(value, InvariantFormat())); });
}

}  // namespace selvo
