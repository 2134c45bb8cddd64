#include "host/journal/JournalReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "host/journal/SaleId.h"
#include "host/session/SaleJson.h"
#include "selvo/Errors.h"

namespace selvo::host {
namespace {

// The descriptor closed however the reading ends.
class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd) : fd_(fd) {}
  ~TFileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool IsBlank(std::string_view line) { return line.find_first_not_of(" \t\r") == std::string_view::npos; }

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

std::string ExamineJournalLine(const TJournalLine& line, nlohmann::json& entry, bool& torn) {
  torn = false;
  if (line.tooLong) return "строка длиннее " + std::to_string(kMaxJournalLineBytes >> 20) + " МБ";
  // The depth first: the parser nests as deep as its input.
  if (!JsonDepthWithin(line.text)) return "вложенность JSON глубже " + std::to_string(kMaxJsonDepth) + " уровней";
  entry = nlohmann::json::parse(line.text, nullptr, false);
  if (entry.is_discarded()) {
    torn = line.last;
    return line.last ? "последняя строка оборвана (запись прервана)" : "строка не является записью JSON";
  }
  if (!entry.is_object()) return "запись журнала не является объектом JSON";
  return {};
}

void ReadJournalLines(const std::string& path, const TJournalLineFunc& onLine) {
  TFileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw Exception("не удалось открыть журнал продаж " + Quoted(path) + ": " + std::strerror(errno));
  struct stat info {};
  if (fstat(fd.get(), &info) != 0)
    throw Exception("не удалось прочитать журнал продаж " + Quoted(path) + ": " + std::strerror(errno));
  if (S_ISDIR(info.st_mode)) throw Exception("журнал продаж " + Quoted(path) + " — папка, а не файл");

  std::int64_t number = 0;
  std::string line;
  bool tooLong = false;
  auto finish = [&](std::string_view text, bool last) {
    ++number;
    if (tooLong || !IsBlank(text)) onLine({tooLong ? std::string_view() : text, number, tooLong, last});
    line.clear();
    tooLong = false;
  };

  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw Exception("не удалось прочитать журнал продаж " + Quoted(path) + ": " + std::strerror(errno));
    if (got == 0) break;
    std::string_view chunk(buffer, static_cast<std::size_t>(got));
    while (!chunk.empty()) {
      const std::size_t end = chunk.find('\n');
      const std::string_view piece = chunk.substr(0, end);
      // A whole line inside the buffer is handed on from there, not copied.
      if (end != std::string_view::npos && line.empty() && !tooLong) {
        finish(piece, false);
        chunk.remove_prefix(end + 1);
        continue;
      }
      // A line past the bound is dropped as it comes, not held.
      if (!tooLong && line.size() + piece.size() > kMaxJournalLineBytes) {
        tooLong = true;
        line.clear();
        line.shrink_to_fit();
      }
      if (!tooLong) line.append(piece);
      if (end == std::string_view::npos) break;
      finish(line, false);
      chunk.remove_prefix(end + 1);
    }
  }
  if (tooLong || !line.empty()) finish(line, true);
}

void ReadJournal(const std::string& path, const TJournalEntryFunc& onEntry, const TSkippedLineFunc& onSkipped) {
  ReadJournalLines(path, [&](const TJournalLine& line) {
    nlohmann::json entry;
    bool torn = false;
    std::string reason = ExamineJournalLine(line, entry, torn);
    const TJournalLineRef where{&path, line.number};
    if (reason.empty())
      onEntry(where, entry);
    else
      onSkipped({path, line.number, std::move(reason), torn});
  });
}

std::string EntrySaleId(const nlohmann::json& entry) {
  const auto id = entry.find(kSaleIdField);
  if (id == entry.end() || !id->is_string() || !IsSaleId(id->get_ref<const std::string&>())) return {};
  return id->get<std::string>();
}

}  // namespace selvo::host
