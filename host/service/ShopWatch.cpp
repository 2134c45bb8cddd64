#include "host/service/ShopWatch.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>

#include "host/service/TillService.h"
#include "host/shopdb/PgConnection.h"

namespace selvo::host {
namespace {

// How often the file's data version is asked between sales, and how the
// pause between two tries to reach the server grows.
constexpr int kFileRoundMs = 100;
constexpr int kFirstRetryMs = 250;
constexpr int kLongestRetryMs = 5000;
constexpr int kFailedLoadRetryMs = 2000;
// The listener asks the server a trivial question this often and counts it
// unreachable when no answer comes within the wait: a server that froze
// keeps its connections open and sends nothing.
constexpr int kProbeEveryMs = 1000;
constexpr int kProbeAnswerMs = 2000;

long long DataVersion(sqlite3* db) {
  sqlite3_stmt* statement = nullptr;
  long long version = -1;
  if (sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW)
    version = sqlite3_column_int64(statement, 0);
  sqlite3_finalize(statement);
  return version;
}

}  // namespace

TShopWatch::TShopWatch(const std::string& database) : database_(database), server_(IsServerAddress(database)) {
  if (server_) {
    std::string why;
    ConnectListener(why);
    return;
  }
  OpenFile();
}

void TShopWatch::OpenFile() {
  if (file_) sqlite3_close(file_);
  file_ = nullptr;
  struct stat st {};
  fileIdentity_ = stat(database_.c_str(), &st) == 0 ? std::pair{st.st_dev, st.st_ino} : std::pair<dev_t, ino_t>{};
  if (sqlite3_open_v2(database_.c_str(), &file_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(file_);
    file_ = nullptr;
    return;
  }
  dataVersion_ = DataVersion(file_);
}

bool TShopWatch::FileReplaced() const {
  struct stat st {};
  return stat(database_.c_str(), &st) == 0 && std::pair{st.st_dev, st.st_ino} != fileIdentity_;
}

TShopWatch::~TShopWatch() {
  Stop();
  if (listener_) PQfinish(listener_);
  if (file_) sqlite3_close(file_);
}

bool TShopWatch::ConnectListener(std::string& why) {
  if (listener_) PQfinish(listener_);
  // Keepalives find a server whose machine went away; a short connect wait
  // keeps the pauses between tries short.
  const char* keys[] = {"connect_timeout",  "keepalives",       "keepalives_idle", "keepalives_interval",
                        "keepalives_count", "application_name", "dbname",          nullptr};
  const char* values[] = {"3", "1", "5", "2", "2", "selvo-host serve", database_.c_str(), nullptr};
  listener_ = PQconnectdbParams(keys, values, 1);
  if (PQstatus(listener_) == CONNECTION_OK) {
    PGresult* listen = PQexec(listener_, (std::string("LISTEN ") + kSaveChannel).c_str());
    const bool listening = PQresultStatus(listen) == PGRES_COMMAND_OK;
    PQclear(listen);
    if (listening) return true;
  }
  why = ListenerMessage();
  PQfinish(listener_);
  listener_ = nullptr;
  return false;
}

std::string TShopWatch::ListenerMessage() const {
  std::string message = PQerrorMessage(listener_);
  message.erase(std::min(message.find('\n'), message.size()));
  return WithoutPasswords(message, database_);  // it goes to the log
}

void TShopWatch::Start(TTillService& service) {
  service_ = &service;
  if (!server_) service.SetChangeCheck([this] { return ChangedSinceLastAsk(); });
  thread_ = std::thread([this] { Run(); });
}

void TShopWatch::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool TShopWatch::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

bool TShopWatch::ChangedSinceLastAsk() {
  if (server_) return false;
  std::lock_guard<std::mutex> lock(fileMutex_);
  // A new shop takes the file's name as a whole file (init --force): the
  // connection to the old one would never see a change.
  if (!file_ || FileReplaced()) {
    OpenFile();
    return file_ != nullptr;
  }
  const long long now = DataVersion(file_);
  // -1: the file is locked for a moment; asked again at the next round.
  if (now < 0 || now == dataVersion_) return false;
  dataVersion_ = now;
  return true;
}

void TShopWatch::Run() {
  if (server_)
    RunServer();
  else
    RunFile();
}

void TShopWatch::RunFile() {
  for (int round = 1; Pause(kFileRoundMs); ++round) {
    if (ChangedSinceLastAsk() ||
        (round % (kFailedLoadRetryMs / kFileRoundMs) == 0 && !service_->Health().lastReloadError.empty()))
      service_->RequestReload();
  }
}

void TShopWatch::RunServer() {
  using std::chrono::steady_clock;
  int retryMs = kFirstRetryMs;
  auto lastRetry = steady_clock::now();
  auto lastProbe = steady_clock::now();
  bool probing = false;
  auto lose = [&](const std::string& why) {
    PQfinish(listener_);
    listener_ = nullptr;
    probing = false;
    service_->SetReachable(false, why);
  };
  while (true) {
    if (!listener_) {
      std::string why;
      if (!ConnectListener(why)) {
        service_->SetReachable(false, why);
        if (!Pause(retryMs)) return;
        retryMs = std::min(retryMs * 2, kLongestRetryMs);
        continue;
      }
      // Back: what was saved meanwhile was never announced here.
      retryMs = kFirstRetryMs;
      lastProbe = steady_clock::now();
      service_->SetReachable(true, "");
      service_->RequestReload();
    }
    pollfd wait{PQsocket(listener_), POLLIN, 0};
    const int ready = poll(&wait, 1, kFileRoundMs);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
    }
    if (ready > 0) {
      if (!PQconsumeInput(listener_) || PQstatus(listener_) != CONNECTION_OK) {
        const std::string why = ListenerMessage();
        lose(why.empty() ? "соединение с сервером потеряно" : why);
        continue;
      }
      while (probing && !PQisBusy(listener_)) {
        PGresult* answer = PQgetResult(listener_);
        if (!answer) {
          probing = false;  // answered whole
          break;
        }
        PQclear(answer);
      }
      bool saved = false;
      while (PGnotify* notice = PQnotifies(listener_)) {
        saved = true;
        PQfreemem(notice);
      }
      if (saved) service_->RequestReload();
    }
    const auto now = steady_clock::now();
    if (probing && now - lastProbe > std::chrono::milliseconds(kProbeAnswerMs)) {
      lose("сервер базы данных магазина не ответил за " + std::to_string(kProbeAnswerMs / 1000) + " с");
      continue;
    }
    if (!probing && now - lastProbe >= std::chrono::milliseconds(kProbeEveryMs)) {
      lastProbe = now;
      if (!PQsendQuery(listener_, "SELECT 1")) {
        lose(ListenerMessage());
        continue;
      }
      probing = true;
    }
    if (now - lastRetry >= std::chrono::milliseconds(kFailedLoadRetryMs)) {
      lastRetry = now;
      if (!service_->Health().lastReloadError.empty()) service_->RequestReload();
    }
  }
}

}  // namespace selvo::host
