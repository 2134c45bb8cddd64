#include "platform/IniProfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "platform/TextCodec.h"

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
  std::size_t begin = 0;  // first byte of the line
  std::size_t end = 0;    // end of its content, before the line end
  std::size_t next = 0;   // first byte of the following line
  std::string_view name;  // section or key name, blanks dropped
  std::string_view value;  // key value as stored, blanks dropped
  bool HasLineEnd() const { return next > end; }
};

Line ScanLine(std::string_view text, std::size_t pos) {
  Line line;
  line.begin = pos;
  std::size_t e = pos;
  while (e < text.size() && text[e] != '\r' && text[e] != '\n') ++e;
  line.end = e;
  if (e < text.size()) {
    line.next = (text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ? e + 2 : e + 1;
  } else {
    line.next = e;
  }
  std::string_view content = text.substr(pos, e - pos);
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

// Calls visit(line) for each line of the first section of that name, from
// its header on; visit answers false to stop early. Answers whether the
// section was found.
// Where the line after the one that holds `from` begins.
std::size_t NextLineStart(std::string_view text, std::size_t from) {
  while (from < text.size() && text[from] != '\r' && text[from] != '\n') ++from;
  if (from == text.size()) return from;
  return text[from] == '\r' && from + 1 < text.size() && text[from + 1] == '\n' ? from + 2 : from + 1;
}

template <class Visit>
bool ForEachLineOfSection(std::string_view text, std::string_view section, Visit&& visit) {
  bool inSection = false;
  for (std::size_t pos = 0; pos < text.size();) {
    if (!inSection) {
      // Until the section begins only headers matter: a line that does not
      // begin with "[" is passed over unparsed (every settings read walks
      // the sections before its own).
      std::size_t first = pos;
      while (first < text.size() && IsBlank(text[first])) ++first;
      if (first < text.size() && text[first] != '[') {
        pos = NextLineStart(text, first);
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

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section, std::string_view key) {
  section = NormalName(section);
  key = NormalName(key);
  std::optional<std::string_view> found;
  ForEachLineOfSection(text, section, [&](const Line& line) {
    if (line.kind == LineKind::Key && SameName(line.name, key)) {
      found = Unquote(line.value);
      return false;
    }
    return true;
  });
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

class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Reads a whole file. Answers 0 or the errno of the failure; st receives the
// file's status when it is given (one system call more: reads, the hot path,
// do without it).
int ReadWholeFile(const std::string& path, std::string& out, struct stat* st = nullptr) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  FdCloser closer(fd);
  std::size_t capacity = 16384;
  if (st) {
    if (::fstat(fd, st) != 0) return errno;
    if (S_ISDIR(st->st_mode)) return EISDIR;
    capacity = static_cast<std::size_t>(st->st_size) + 1;
  }
  out.resize(capacity);
  std::size_t filled = 0;
  for (;;) {
    ssize_t n = ::read(fd, out.data() + filled, out.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;  // a folder gives EISDIR here
    }
    filled += static_cast<std::size_t>(n);
    // A regular file reads short only at its end.
    if (n == 0 || filled < out.size()) break;
    out.resize(out.size() * 2);
  }
  out.resize(filled);
  return 0;
}

// The file a write really changes: the target of a symbolic link.
std::string WriteTarget(const std::string& file) {
  struct stat st {};
  if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(file.c_str(), nullptr)) {
      std::string target = real;
      std::free(real);
      return target;
    }
  }
  return file;
}

std::pair<std::string, std::string> SplitPath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// Puts the content in place of the file: a temporary file beside it, then a
// rename, which replaces the name in one step. `old` is the status of the
// file being replaced (its mode and owner are kept), nullptr for a new file.
int ReplaceFile(const std::string& target, std::string_view content, const struct stat* old) {
  static std::atomic<unsigned> counter{0};
  auto [dir, base] = SplitPath(target);
  // Short enough for NAME_MAX whatever the file's own name.
  std::string prefix = dir + "/." + base.substr(0, 200) + ".~" + std::to_string(::getpid()) + "-";
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = prefix + std::to_string(counter.fetch_add(1));
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;
  FdCloser closer(fd);
  int rc = WriteAll(fd, content);
  if (rc == 0 && old) {
    // Failures here leave the new file with the default mode or owner; the
    // content is still right, so they do not fail the write.
    (void)::fchmod(fd, old->st_mode & 07777);
    if (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) (void)::fchown(fd, old->st_uid, old->st_gid);
  }
  if (rc == 0 && ::close(closer.Release()) != 0) rc = errno;
  if (rc == 0 && ::rename(temp.c_str(), target.c_str()) != 0) rc = errno;
  if (rc != 0) ::unlink(temp.c_str());
  return rc;
}

template <class Change>
int ModifyFile(const std::string& file, Change&& change) {
  const std::string target = WriteTarget(file);
  std::string text;
  struct stat st {};
  int rc = ReadWholeFile(target, text, &st);
  const bool exists = rc == 0;
  // Only a file that is not there may start empty: one that cannot be read
  // must not be replaced by what little we know of it.
  if (rc != 0 && rc != ENOENT) return rc;
  TIniText ini(std::move(text));
  if (!change(ini)) return 0;
  return ReplaceFile(target, ini.Text(), exists ? &st : nullptr);
}

int SyncPath(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? 0 : errno;
  FdCloser closer(fd);
  return ::fsync(fd) == 0 ? 0 : errno;
}

class FileProfile final : public TIniProfile {
 public:
  std::optional<std::string> ReadKey(const std::string& file, std::string_view section, std::string_view key,
                                     std::size_t bufferSize) override {
    std::string text;
    if (ReadWholeFile(file, text) != 0) return std::nullopt;
    auto value = FindValue(text, section, key);
    if (!value) return std::nullopt;
    const std::size_t limit = bufferSize > 0 ? bufferSize - 1 : 0;
    return std::string(value->substr(0, limit));
  }

  std::vector<std::optional<std::string>> ReadKeys(const std::string& file, std::string_view section,
                                                   const std::vector<std::string_view>& keys,
                                                   std::size_t bufferSize) override {
    std::vector<std::optional<std::string>> values(keys.size());
    std::string text;
    if (ReadWholeFile(file, text) != 0) return values;
    const std::size_t limit = bufferSize > 0 ? bufferSize - 1 : 0;
    std::vector<std::string_view> wanted;
    for (std::string_view key : keys) wanted.push_back(NormalName(key));
    std::size_t missing = keys.size();
    // One pass over the section; the first line of each key wins.
    ForEachLineOfSection(text, NormalName(section), [&](const Line& line) {
      if (line.kind != LineKind::Key) return true;
      for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (!values[i] && SameName(line.name, wanted[i])) {
          values[i] = std::string(Unquote(line.value).substr(0, limit));
          --missing;
        }
      }
      return missing > 0;
    });
    return values;
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
    if (ReadWholeFile(file, text) != 0) return {};
    return TIniText(std::move(text)).SectionNames();
  }

  std::vector<std::string> KeyNames(const std::string& file, std::string_view section) override {
    std::string text;
    if (ReadWholeFile(file, text) != 0) return {};
    return TIniText(std::move(text)).KeyNames(section);
  }

  std::vector<std::string> SectionLines(const std::string& file, std::string_view section) override {
    std::string text;
    if (ReadWholeFile(file, text) != 0) return {};
    return TIniText(std::move(text)).SectionLines(section);
  }

  int Flush(const std::string& file) override {
    const std::string target = WriteTarget(file);
    if (int rc = SyncPath(target, O_RDONLY); rc != 0) return rc;
    return SyncPath(SplitPath(target).first, O_RDONLY | O_DIRECTORY);
  }
};

TIniProfile* gReplacement = nullptr;

}  // namespace

std::vector<std::optional<std::string>> TIniProfile::ReadKeys(const std::string& file, std::string_view section,
                                                              const std::vector<std::string_view>& keys,
                                                              std::size_t bufferSize) {
  std::vector<std::optional<std::string>> values;
  for (std::string_view key : keys) values.push_back(ReadKey(file, section, key, bufferSize));
  return values;
}

TIniProfile& FileIniProfile() {
  static FileProfile service;
  return service;
}

TIniProfile& IniProfile() { return gReplacement ? *gReplacement : FileIniProfile(); }

void SetIniProfile(TIniProfile* service) { gReplacement = service; }

}  // namespace selvo
