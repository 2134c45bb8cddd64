// The journal of sales a till service computed: one JSON object a line,
// appended with one write each, so that a service killed at any moment
// leaves whole lines (at most a torn last one, which the reader,
// JournalReader.h, skips and reports). Moving the file away and calling Reopen (the service does on
// SIGHUP) starts a new file under the same name.
//
// A write that fails (a full disk) is taken back whole: what it wrote of the
// line is cut off again, and when even that fails the next line begins on a
// line of its own, so no line ever continues a torn one. The journal says
// since when it cannot write, and says it once in the log.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace selvo::host {

// Whether the journal is written, for the service's health and counters.
struct TJournalHealth {
  bool writing = true;
  std::chrono::system_clock::time_point since;  // of the state above
  std::string error;                            // why not, when not
  std::uint64_t written = 0;                    // lines
  std::uint64_t failed = 0;                     // lines that could not be written
};

class TSaleJournal {
 public:
  using TLog = std::function<void(const std::string&)>;
  // Opens (creates) the file for appending; Exception naming the file when
  // it cannot. `log` is told, once, when writing stops and when it works
  // again.
  TSaleJournal(std::string path, TLog log);
  ~TSaleJournal();
  TSaleJournal(const TSaleJournal&) = delete;
  TSaleJournal& operator=(const TSaleJournal&) = delete;

  // Appends the entry as one line; false when the write failed (the
  // service then counts an error and goes on selling).
  bool Append(const nlohmann::json& entry);
  // Opens the file anew under its name and closes the old descriptor; when
  // the file cannot be opened the old descriptor is kept and the reason
  // answered (nothing is thrown).
  std::optional<std::string> Reopen();
  const std::string& Path() const { return path_; }
  TJournalHealth Health() const;

 private:
  int OpenFile() const;  // -1 and errno when it cannot
  void Failed(const std::string& why);

  const std::string path_;
  const TLog log_;
  mutable std::mutex mutex_;
  int fd_ = -1;
  // A torn line could not be cut off: the next line starts after a break.
  bool breakFirst_ = false;
  TJournalHealth health_;
};

}  // namespace selvo::host
