#include "host/shopdb/ShopChangeFeed.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>

#include "host/shopdb/PgConnection.h"
#include "host/shopdb/ServerAddress.h"

namespace selvo::host {
namespace {

// -1 when the file is locked for a moment.
long long DataVersion(sqlite3* db) {
  sqlite3_stmt* statement = nullptr;
  long long version = -1;
  if (sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW)
    version = sqlite3_column_int64(statement, 0);
  sqlite3_finalize(statement);
  return version;
}

std::pair<dev_t, ino_t> FileIdentity(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? std::pair{st.st_dev, st.st_ino} : std::pair<dev_t, ino_t>{};
}

}  // namespace

std::optional<std::int64_t> AnnouncedVersion(std::string_view payload) {
  if (payload.empty() || payload.size() > kMaxSavePayloadBytes) return std::nullopt;
  if (payload.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  std::int64_t version = 0;
  const auto [end, ec] = std::from_chars(payload.data(), payload.data() + payload.size(), version);
  if (ec != std::errc() || end != payload.data() + payload.size()) return std::nullopt;  // too large
  return version;
}

TServerSaveFeed::TServerSaveFeed(std::string address) : address_(std::move(address)) {}

TServerSaveFeed::~TServerSaveFeed() { Close(); }

void TServerSaveFeed::Close() {
  if (conn_) PQfinish(conn_);
  conn_ = nullptr;
  asking_ = false;
}

bool TServerSaveFeed::Connect(std::string& why) {
  Close();
  // Keepalives find a server whose machine went away; a short connect wait
  // keeps the pauses between tries short.
  const std::string libpqAddress = LibpqAddress(address_);
  const char* keys[] = {"connect_timeout",  "keepalives",       "keepalives_idle", "keepalives_interval",
                        "keepalives_count", "application_name", "dbname",          nullptr};
  const char* values[] = {"3", "1", "5", "2", "2", "selvo-host serve", libpqAddress.c_str(), nullptr};
  conn_ = PQconnectdbParams(keys, values, 1);
  if (PQstatus(conn_) == CONNECTION_OK) {
    PGresult* listen = PQexec(conn_, (std::string("LISTEN ") + kSaveChannel).c_str());
    const bool listening = PQresultStatus(listen) == PGRES_COMMAND_OK;
    PQclear(listen);
    if (listening) {
      askedAt_ = std::chrono::steady_clock::now();  // the connection just answered
      return true;
    }
  }
  why = LastMessage();
  Close();
  return false;
}

std::string TServerSaveFeed::LastMessage() const {
  std::string message = PQerrorMessage(conn_);
  message.erase(std::min(message.find('\n'), message.size()));
  return WithoutPasswords(message, address_);
}

bool TServerSaveFeed::Lose(std::string why, std::string& out) {
  out = std::move(why);
  Close();
  return false;
}

bool TServerSaveFeed::Wait(int ms, const TSaveHeard& onSave, std::string& why) {
  if (!conn_) return true;
  pollfd wait{PQsocket(conn_), POLLIN, 0};
  if (poll(&wait, 1, ms) > 0) {
    if (!PQconsumeInput(conn_) || PQstatus(conn_) != CONNECTION_OK) {
      const std::string message = LastMessage();
      return Lose(message.empty() ? "соединение с сервером потеряно" : message, why);
    }
    while (asking_ && !PQisBusy(conn_)) {
      PGresult* answer = PQgetResult(conn_);
      if (!answer) {
        asking_ = false;  // answered whole
        break;
      }
      PQclear(answer);
    }
    while (PGnotify* notice = PQnotifies(conn_)) {
      const std::string_view payload = notice->extra ? notice->extra : "";
      try {
        onSave(payload);
      } catch (...) {
        PQfreemem(notice);
        throw;
      }
      PQfreemem(notice);
    }
  }
  const auto now = std::chrono::steady_clock::now();
  if (asking_ && now - askedAt_ > std::chrono::milliseconds(kProbeAnswerMs))
    return Lose("сервер базы данных магазина не ответил за " + std::to_string(kProbeAnswerMs / 1000) + " с", why);
  if (!asking_ && now - askedAt_ >= std::chrono::milliseconds(kProbeEveryMs)) {
    askedAt_ = now;
    if (!PQsendQuery(conn_, "SELECT 1")) return Lose(LastMessage(), why);
    asking_ = true;
  }
  return true;
}

TFileSaveFeed::TFileSaveFeed(std::string path) : path_(std::move(path)) { Reopen(); }

TFileSaveFeed::~TFileSaveFeed() {
  if (db_) sqlite3_close(db_);
}

bool TFileSaveFeed::Reopen() {
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
  identity_ = FileIdentity(path_);
  if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  seenVersion_ = DataVersion(db_);
  return true;
}

bool TFileSaveFeed::Replaced() const {
  const auto now = FileIdentity(path_);
  return now != std::pair<dev_t, ino_t>{} && now != identity_;
}

bool TFileSaveFeed::CommittedSinceSeen() {
  if (!db_) return false;
  const long long now = DataVersion(db_);
  if (now < 0 || now == seenVersion_) return false;
  seenVersion_ = now;
  return true;
}

}  // namespace selvo::host
