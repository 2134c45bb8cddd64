#include "platform/IniProfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/FileIO.h"
#include "platform/TextCodec.h"
#include "platform/TextLines.h"

namespace selvo {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The part of a caller's text that can stand on one line.
std::string_view CutAtLineBreak(std::string_view s) {
  std::size_t n = 0;
  while (n < s.size() && s[n] != '\0' && s[n] != '\r' && s[n] != '\n') ++n;
  return s.substr(0, n);
}

// A caller's section or key name as the file would hold it.
std::string_view NormalName(std::string_view s) { return TrimBlanks(CutAtLineBreak(s)); }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && LowerCp1251(static_cast<unsigned char>(a[i])) != LowerCp1251(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

enum class LineKind { Other, Section, Key };

struct Line {
  LineKind kind = LineKind::Other;
  std::size_t begin = 0;   // first byte of the line
  std::size_t end = 0;     // end of its content, before the line end
  std::size_t next = 0;    // first byte of the following line
  std::string_view name;   // section or key name, blanks dropped
  std::string_view value;  // key value as stored, blanks dropped
  bool HasLineEnd() const { return next > end; }
};

// Where the content of the line at pos begins. A byte order mark before the
// first line is no part of it: editors add one, and the first section must
// not be lost to it.
std::size_t ContentStart(std::string_view text, std::size_t pos) {
  return pos == 0 && text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : pos;
}

Line ScanLine(std::string_view text, std::size_t pos) {
  Line line;
  line.begin = pos;
  const TTextLine found = LineAt(text, pos);
  const std::size_t e = pos + found.text.size();
  line.end = e;
  line.next = found.next;
  const std::size_t first = ContentStart(text, pos);
  std::string_view content = text.substr(first, e - first);
  std::size_t start = 0;
  while (start < content.size() && IsBlank(content[start])) ++start;
  content.remove_prefix(start);
  if (content.empty() || content.front() == ';') return line;
  if (content.front() == '[') {
    std::size_t close = content.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = LineKind::Section;
      line.name = TrimBlanks(content.substr(1, close - 1));
    }
    return line;
  }
  std::size_t eq = content.find('=');
  if (eq == std::string_view::npos) return line;
  line.name = TrimBlanks(content.substr(0, eq));
  if (line.name.empty()) return line;
  line.kind = LineKind::Key;
  line.value = TrimBlanks(content.substr(eq + 1));
  return line;
}

bool IsBlankLine(std::string_view text, const Line& line) {
  return TrimBlanks(text.substr(line.begin, line.end - line.begin)).empty();
}

// The start of the next line after `from` whose content begins with "[",
// blanks before it passed over; the end of the text when there is none. It
// jumps from one "[" to the next instead of walking the lines one by one.
std::size_t NextHeaderCandidate(std::string_view text, std::size_t from) {
  for (std::size_t at = from; at < text.size(); ++at) {
    const void* found = std::memchr(text.data() + at, '[', text.size() - at);
    if (!found) break;
    at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    std::size_t start = at;
    while (start > 0 && IsBlank(text[start - 1])) --start;
    if (start > from && (text[start - 1] == '\r' || text[start - 1] == '\n')) return start;
  }
  return text.size();
}

// Every line of a section may matter.
struct TAnyLine {
  bool operator()(char) const { return true; }
};

// Calls visit(line) for each line of the first section of that name, from
// its header on; visit answers false to stop early. Answers whether the
// section was found. A line of the section whose first character (blanks
// passed over) is not "[" and that `wanted` turns down is not visited: a
// reader looking for certain keys passes over the others unparsed.
template <class Visit, class Wanted = TAnyLine>
bool ForEachLineOfSection(std::string_view text, std::string_view section, Visit&& visit, Wanted wanted = {}) {
  bool inSection = false;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t first = ContentStart(text, pos);
    while (first < text.size() && IsBlank(text[first])) ++first;
    if (first < text.size() && text[first] != '[') {
      if (!inSection) {
        // Until the section begins only headers matter (every settings read
        // walks the sections before its own).
        pos = NextHeaderCandidate(text, first);
        continue;
      }
      if (!wanted(text[first])) {
        pos = LineAt(text, first).next;
        continue;
      }
    }
    Line line = ScanLine(text, pos);
    pos = line.next;
    if (line.kind == LineKind::Section) {
      if (inSection) return true;
      if (SameName(line.name, section)) inSection = true;
      if (!inSection) continue;
    }
    if (inSection && !visit(line)) return true;
  }
  return inSection;
}

// Whether a line beginning with c can hold one of the keys (names as
// NormalName gives them; letter case ignored as SameName does): the keys'
// first bytes in both cases, looked up by byte.
class TKeyFirstBytes {
 public:
  explicit TKeyFirstBytes(std::span<const std::string_view> names) {
    for (std::string_view name : names)
      if (!name.empty()) folded_[LowerCp1251(static_cast<unsigned char>(name.front()))] = true;
  }
  bool operator()(char c) const { return folded_[LowerCp1251(static_cast<unsigned char>(c))]; }

 private:
  std::array<bool, 256> folded_{};
};

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section, std::string_view key) {
  section = NormalName(section);
  key = NormalName(key);
  std::optional<std::string_view> found;
  ForEachLineOfSection(
      text, section,
      [&](const Line& line) {
        if (line.kind == LineKind::Key && SameName(line.name, key)) {
          found = Unquote(line.value);
          return false;
        }
        return true;
      },
      TKeyFirstBytes(std::span<const std::string_view>(&key, 1)));
  return found;
}

void EraseRanges(std::string& text, const std::vector<std::pair<std::size_t, std::size_t>>& ranges) {
  for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) text.erase(it->first, it->second - it->first);
}

}  // namespace

// ---------------------------------------------------------------------------
// TIniText

std::optional<std::string> TIniText::Read(std::string_view section, std::string_view key) const {
  auto value = FindValue(text_, section, key);
  if (!value) return std::nullopt;
  return std::string(*value);
}

std::vector<std::optional<std::string>> TIniText::ReadEach(std::string_view section,
                                                           std::span<const std::string_view> keys) const {
  std::vector<std::optional<std::string>> values(keys.size());
  std::vector<std::string_view> names;
  names.reserve(keys.size());
  for (std::string_view key : keys) names.push_back(NormalName(key));
  std::size_t missing = keys.size();
  if (missing == 0) return values;
  ForEachLineOfSection(
      text_, NormalName(section),
      [&](const Line& line) {
        if (line.kind != LineKind::Key) return true;
        for (std::size_t i = 0; i < names.size(); ++i) {
          if (!values[i] && SameName(line.name, names[i])) {  // the first line of a key counts, as in Read
            values[i] = std::string(Unquote(line.value));
            --missing;
          }
        }
        return missing > 0;
      },
      TKeyFirstBytes(names));
  return values;
}

bool TIniText::Write(std::string_view section, std::string_view key, std::string_view value) {
  section = NormalName(section);
  key = NormalName(key);
  value = CutAtLineBreak(value);
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  if (key.empty()) return false;  // "=value" would be no key: nothing to write

  std::optional<Line> keyLine;
  std::optional<Line> lastNonBlank;  // the header at least, once found
  bool found = ForEachLineOfSection(text_, section, [&](const Line& line) {
    if (line.kind == LineKind::Key && SameName(line.name, key)) {
      keyLine = line;
      return false;
    }
    if (line.kind == LineKind::Section || !IsBlankLine(text_, line)) lastNonBlank = line;
    return true;
  });

  std::string replacement;
  if (keyLine) {
    replacement.append(keyLine->name).append("=").append(value).append("\r\n");
    const std::size_t length = keyLine->next - keyLine->begin;
    if (text_.compare(keyLine->begin, length, replacement) == 0) return false;
    text_.replace(keyLine->begin, length, replacement);
    return true;
  }
  if (found) {
    if (!lastNonBlank->HasLineEnd()) replacement = "\r\n";
    replacement.append(key).append("=").append(value).append("\r\n");
    text_.insert(lastNonBlank->next, replacement);
    return true;
  }
  if (!text_.empty() && text_.back() != '\n' && text_.back() != '\r') text_ += "\r\n";
  text_.append("[").append(section).append("]\r\n");
  text_.append(key).append("=").append(value).append("\r\n");
  return true;
}

bool TIniText::DeleteKey(std::string_view section, std::string_view key) {
  section = NormalName(section);
  key = NormalName(key);
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  ForEachLineOfSection(text_, section, [&](const Line& line) {
    if (line.kind == LineKind::Key && SameName(line.name, key)) ranges.emplace_back(line.begin, line.next);
    return true;
  });
  EraseRanges(text_, ranges);
  return !ranges.empty();
}

bool TIniText::DeleteSection(std::string_view section) {
  section = NormalName(section);
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  bool erasing = false;
  for (std::size_t pos = 0; pos < text_.size();) {
    Line line = ScanLine(text_, pos);
    if (line.kind == LineKind::Section) {
      if (erasing) ranges.back().second = line.begin;
      erasing = SameName(line.name, section);
      if (erasing) ranges.emplace_back(line.begin, text_.size());
    }
    pos = line.next;
  }
  EraseRanges(text_, ranges);
  return !ranges.empty();
}

std::vector<std::string> TIniText::SectionNames() const {
  std::vector<std::string> names;
  for (std::size_t pos = 0; pos < text_.size();) {
    Line line = ScanLine(text_, pos);
    if (line.kind == LineKind::Section) names.emplace_back(line.name);
    pos = line.next;
  }
  return names;
}

std::vector<std::string> TIniText::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  ForEachLineOfSection(text_, NormalName(section), [&](const Line& line) {
    if (line.kind == LineKind::Key) names.emplace_back(line.name);
    return true;
  });
  return names;
}

std::vector<std::string> TIniText::SectionLines(std::string_view section) const {
  std::vector<std::string> lines;
  ForEachLineOfSection(text_, NormalName(section), [&](const Line& line) {
    if (line.kind == LineKind::Key) lines.push_back(std::string(line.name) + "=" + std::string(line.value));
    return true;
  });
  return lines;
}

// ---------------------------------------------------------------------------
// The file service

namespace {

// The file's text; a missing file is an empty one. Any other failure to
// read (permissions, a folder or a FIFO in its place, an I/O error) is
// answered, never taken for an empty file.
int LoadText(const std::string& file, std::string& text) {
  int rc = ReadWholeFile(file, text);
  if (rc == ENOENT) {
    text.clear();
    return 0;
  }
  return rc;
}

int ModifyFile(const std::string& file, const std::function<bool(TIniText&)>& change) {
  RemoveStaleTemporaryFiles(file);
  std::string text;
  // Only a file that is not there may start empty: one that cannot be read
  // must not be replaced by what little we know of it.
  if (int rc = LoadText(file, text); rc != 0) return rc;
  TIniText ini(std::move(text));
  if (!change(ini)) return 0;
  return ReplaceWholeFile(file, ini.Text());
}

int SyncPath(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  const int rc = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return rc;
}

class FileProfile final : public TIniProfile {
 public:
  std::optional<std::string> ReadKey(const std::string& file, std::string_view section, std::string_view key,
                                     std::size_t bufferSize) override {
    std::string text;
    if (LoadText(file, text) != 0) return std::nullopt;
    auto value = FindValue(text, section, key);
    if (!value) return std::nullopt;
    const std::size_t limit = bufferSize > 0 ? bufferSize - 1 : 0;
    return std::string(value->substr(0, limit));
  }

  int WriteKey(const std::string& file, std::string_view section, std::string_view key,
               std::string_view value) override {
    if (NormalName(key).empty()) return EINVAL;
    return ModifyFile(file, [&](TIniText& ini) { return ini.Write(section, key, value); });
  }

  int DeleteKey(const std::string& file, std::string_view section, std::string_view key) override {
    return ModifyFile(file, [&](TIniText& ini) { return ini.DeleteKey(section, key); });
  }

  int DeleteSection(const std::string& file, std::string_view section) override {
    return ModifyFile(file, [&](TIniText& ini) { return ini.DeleteSection(section); });
  }

  std::vector<std::string> SectionNames(const std::string& file) override {
    std::string text;
    if (LoadText(file, text) != 0) return {};
    return TIniText(std::move(text)).SectionNames();
  }

  std::vector<std::string> KeyNames(const std::string& file, std::string_view section) override {
    std::string text;
    if (LoadText(file, text) != 0) return {};
    return TIniText(std::move(text)).KeyNames(section);
  }

  std::vector<std::string> SectionLines(const std::string& file, std::string_view section) override {
    std::string text;
    if (LoadText(file, text) != 0) return {};
    return TIniText(std::move(text)).SectionLines(section);
  }

  int ReadText(const std::string& file, TIniText& out) override {
    std::string text;
    int rc = LoadText(file, text);
    out = TIniText(std::move(text));
    return rc;
  }

  int Modify(const std::string& file, const std::function<bool(TIniText&)>& change) override {
    return ModifyFile(file, change);
  }

  int Flush(const std::string& file) override {
    std::string target = file;
    if (char* real = ::realpath(file.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
    if (int rc = SyncPath(target, O_RDONLY); rc != 0) return rc;
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    return SyncPath(dir, O_RDONLY | O_DIRECTORY);
  }
};

TIniProfile* gReplacement = nullptr;

}  // namespace

TIniProfile& FileIniProfile() {
  static FileProfile service;
  return service;
}

TIniProfile& IniProfile() { return gReplacement ? *gReplacement : FileIniProfile(); }

void SetIniProfile(TIniProfile* service) { gReplacement = service; }

}  // namespace selvo
