#include "host/journal/SaleJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/session/SaleJson.h"
#include "selvo/Errors.h"

namespace selvo::host {

namespace {

// A file whose last byte is not a line break ends in a torn line (a write
// cut short by a kill or a power cut): the next line must start anew.
bool EndsInsideALine(int fd) {
  struct stat st {};
  char last = '\n';
  return fstat(fd, &st) == 0 && st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
}

}  // namespace

TSaleJournal::TSaleJournal(std::string path, TLog log) : path_(std::move(path)), log_(std::move(log)) {
  fd_ = OpenFile();
  if (fd_ < 0) throw Exception("не удалось открыть журнал продаж \"" + path_ + "\": " + std::strerror(errno));
  breakFirst_ = EndsInsideALine(fd_);
  health_.since = std::chrono::system_clock::now();
}

TSaleJournal::~TSaleJournal() {
  if (fd_ >= 0) close(fd_);
}

int TSaleJournal::OpenFile() const { return open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0640); }

std::optional<std::string> TSaleJournal::Reopen() {
  // Opened under the lock: once the new file is there, every line written
  // goes into it.
  std::unique_lock<std::mutex> lock(mutex_);
  const int fd = OpenFile();
  if (fd < 0) {
    const int error = errno;
    lock.unlock();
    const std::string why =
        "журнал продаж \"" + path_ + "\" не открыт заново, запись идёт в прежний файл: " + std::strerror(error);
    log_(why);
    return why;
  }
  close(fd_);
  fd_ = fd;
  breakFirst_ = EndsInsideALine(fd_);
  return std::nullopt;
}

TJournalHealth TSaleJournal::Health() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return health_;
}

void TSaleJournal::Failed(const std::string& why) {
  ++health_.failed;
  if (!health_.writing) return;
  health_.writing = false;
  health_.since = std::chrono::system_clock::now();
  health_.error = why;
  log_("журнал продаж \"" + path_ + "\" не пишется, продажи идут без записи: " + why);
}

bool TSaleJournal::Append(const nlohmann::json& entry) {
  // Invalid UTF-8 in a sale's texts is written escaped, never refused.
  const std::string line = JsonText(entry) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string text = breakFirst_ ? "\n" + line : line;
  // Appends go to the end, and this is the only writer.
  const off_t start = lseek(fd_, 0, SEEK_END);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd_, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      const std::string why = wrote < 0 ? std::strerror(errno) : "записано 0 байт";
      // What was written of it is cut off again; when that fails, the torn
      // piece must not run on into the next line.
      if (done > 0 && (start < 0 || ftruncate(fd_, start) != 0)) breakFirst_ = true;
      Failed(why);
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  breakFirst_ = false;
  ++health_.written;
  if (!health_.writing) {
    health_.writing = true;
    health_.since = std::chrono::system_clock::now();
    health_.error.clear();
    log_("журнал продаж \"" + path_ + "\" снова пишется");
  }
  return true;
}

}  // namespace selvo::host
