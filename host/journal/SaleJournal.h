// The journal of sales a till service computed: one JSON object a line,
// appended with one write each, so that a service killed at any moment
// leaves whole lines (at most a torn last one, which the reader,
// JournalReader.h, skips and reports). Moving the file away and calling Reopen (the service does on
// SIGHUP) starts a new file under the same name.
#pragma once

#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace selvo::host {

class TSaleJournal {
 public:
  // Opens (creates) the file for appending; Exception naming the file when
  // it cannot.
  explicit TSaleJournal(std::string path);
  ~TSaleJournal();
  TSaleJournal(const TSaleJournal&) = delete;
  TSaleJournal& operator=(const TSaleJournal&) = delete;

  // Appends the entry as one line; false when the write failed (the
  // service then counts an error and goes on selling).
  bool Append(const nlohmann::json& entry);
  // Opens the file anew under its name; the old descriptor is closed.
  void Reopen();
  const std::string& Path() const { return path_; }

 private:
  void Open();

  const std::string path_;
  std::mutex mutex_;
  int fd_ = -1;
};

}  // namespace selvo::host
