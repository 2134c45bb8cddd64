// How a watch hears of the saves of other computers to one shop database,
// and whether the database can be reached, without holding a connection of
// the database's kind itself:
//
// - TServerSaveFeed: a connection of its own to the server that listens on
//   kSaveChannel (every save notifies it inside its transaction, so it is
//   heard only when the save commits) and asks the server a trivial
//   question now and then, because a server that froze keeps its
//   connections open and sends nothing;
// - TFileSaveFeed: a read-only connection of its own to an SQLite file, whose
//   data version moves when another connection commits, and which file it
//   is, since a new shop takes the file's name as a whole file.
//
// Neither is safe to use from two threads at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <sys/types.h>

struct pg_conn;
struct sqlite3;

namespace selvo::host {

// The longest save notice payload read; a longer one is no version number.
inline constexpr std::size_t kMaxSavePayloadBytes = 32;

// The settings version a save notice announces: its payload when that is a
// decimal number (digits only) that fits; none for an empty payload (sent
// by older programs), any other text, or one longer than
// kMaxSavePayloadBytes, which a save is still taken for.
std::optional<std::int64_t> AnnouncedVersion(std::string_view payload);

class TServerSaveFeed {
 public:
  // How often the server is asked whether it answers, and how long its
  // answer may take before the connection counts as lost.
  static constexpr int kProbeEveryMs = 1000;
  static constexpr int kProbeAnswerMs = 2000;

  // `address`: the server's address as the shop database is named by it.
  // Connects nothing yet.
  explicit TServerSaveFeed(std::string address);
  ~TServerSaveFeed();
  TServerSaveFeed(const TServerSaveFeed&) = delete;
  TServerSaveFeed& operator=(const TServerSaveFeed&) = delete;

  // Opens the connection anew (closing one held) and listens; false, with
  // the reason (one line, without passwords) in `why`, when the server
  // cannot be reached or refuses. Waits at most a few seconds.
  bool Connect(std::string& why);
  bool Connected() const { return conn_ != nullptr; }
  void Close();

  using TSaveHeard = std::function<void(std::string_view payload)>;
  // Waits up to `ms` for what the server sends and hands the payload of
  // every save notice heard to `onSave` (empty when the save sent none),
  // in the order sent. Asks the trivial question when it is due. False,
  // with the reason in `why`, when the connection is lost or the server
  // left the question unanswered too long: the connection is then closed.
  // True at once when not connected.
  bool Wait(int ms, const TSaveHeard& onSave, std::string& why);

  // The connection's last message, its first line, without passwords (it
  // goes to the log).
  std::string LastMessage() const;

 private:
  bool Lose(std::string why, std::string& out);

  const std::string address_;
  pg_conn* conn_ = nullptr;
  bool asking_ = false;  // a question sent, its answer not read whole yet
  std::chrono::steady_clock::time_point askedAt_;
};

class TFileSaveFeed {
 public:
  // Opens the file read-only; one that cannot be opened now is left closed
  // (Reopen tries again).
  explicit TFileSaveFeed(std::string path);
  ~TFileSaveFeed();
  TFileSaveFeed(const TFileSaveFeed&) = delete;
  TFileSaveFeed& operator=(const TFileSaveFeed&) = delete;

  // Closes the connection and opens the file found under the name now;
  // true when it could be opened. Its data version is taken as seen.
  bool Reopen();
  bool IsOpen() const { return db_ != nullptr; }
  // Another file than the one opened stands under the name now.
  bool Replaced() const;
  // True when another connection committed since the data version was last
  // seen (it is seen now). False when the file is locked for a moment and
  // the version cannot be read.
  bool CommittedSinceSeen();

 private:
  const std::string path_;
  sqlite3* db_ = nullptr;
  std::pair<dev_t, ino_t> identity_{};
  long long seenVersion_ = 0;
};

}  // namespace selvo::host
