#include "host/journal/SaleJournal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "selvo/Errors.h"

namespace selvo::host {

TSaleJournal::TSaleJournal(std::string path) : path_(std::move(path)) { Open(); }

TSaleJournal::~TSaleJournal() {
  if (fd_ >= 0) close(fd_);
}

void TSaleJournal::Open() {
  const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
  if (fd < 0) throw Exception("не удалось открыть журнал продаж \"" + path_ + "\": " + std::strerror(errno));
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

void TSaleJournal::Reopen() {
  std::lock_guard<std::mutex> lock(mutex_);
  Open();
}

bool TSaleJournal::Append(const nlohmann::json& entry) {
  // Invalid UTF-8 in a sale's texts is written escaped, never refused.
  const std::string line = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t wrote = write(fd_, line.data() + done, line.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace selvo::host
