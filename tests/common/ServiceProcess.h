// `selvo-host serve` as a process of its own for the tests: started on an
// address it chooses, asked over HTTP, stopped with a signal.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Client;
}

namespace selvo::test {

class TServiceProcess {
 public:
  // Starts the service on `database` with WINDIR = windowsDir and the
  // further arguments; returns once it listens (raises when it ends first
  // or does not listen within 60 s). `program`: another selvo-host than the
  // one built with the tests, on its own build's module (a benchmark
  // compares two builds).
  TServiceProcess(const std::string& database, const std::string& windowsDir,
                  const std::vector<std::string>& extra = {}, const std::string& program = {});
  // Stops it with SIGTERM when it still runs.
  ~TServiceProcess();
  TServiceProcess(const TServiceProcess&) = delete;
  TServiceProcess& operator=(const TServiceProcess&) = delete;

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  // A client of its own (one per thread).
  std::unique_ptr<httplib::Client> Client() const;
  // GET of a JSON answer; raises when there is none.
  nlohmann::json Get(const std::string& path) const;
  // Sends `signal` and waits for the end: the exit code, or -signal.
  int Stop(int signal = SIGTERM);
  // What the service wrote on its standard error so far.
  std::string Log() const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int exitCode_ = 0;
  bool ended_ = false;
  mutable std::mutex mutex_;
  std::condition_variable grew_;
  std::string log_;
  bool logClosed_ = false;
  std::thread reader_;
};

// The sale's answer without the settings version and the sale's
// identifier, for comparing answers of
// several services and of `calc --json`.
std::string AnswerWithoutVersion(const std::string& body);

// A client of the service on 127.0.0.1 with the library's defaults; every
// answer it receives is recorded (RecordAnswer).
std::unique_ptr<httplib::Client> RecordedClient(int port);

// A client as a till holds one (a recorded one): the connection kept open
// between requests, a request sent without delay, an answer waited for up
// to 60 s.
std::unique_ptr<httplib::Client> TillClient(int port);

// The answers the tests receive, kept for tests/api/check_openapi.py, which
// holds each against docs/openapi.json: when SELVO_API_RECORD names a
// folder, every answer is one JSON line (method, target, status, the headers
// the document describes, body) of the file answers-PID.jsonl there. The
// request's body and type come along the first time a body is answered with
// a status. A no-op otherwise.
struct TRecordedAnswer {
  std::string method;
  std::string target;  // path and query, as sent
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // names in any letter case
  std::string body;
  std::string requestType;  // the request's Content-Type
  std::string requestBody;
};
void RecordAnswer(const TRecordedAnswer& answer);

// The same for bytes sent and received on a raw socket: each request read
// from `sent` (request line, headers, a Content-Length body) is paired with
// the answer in its turn in `received`; what does not parse as HTTP ends
// the pairs.
void RecordExchange(std::string_view sent, std::string_view received);

// This process's environment for selvo-host, with WINDIR = windowsDir and
// SELVO_MODULE = the built module.
std::vector<std::string> HostEnvironment(const std::string& windowsDir);

// Runs selvo-host with `args` (the command and its arguments) and waits for
// it, its input and both outputs on /dev/null: the exit code, or -signal.
int RunHost(const std::vector<std::string>& args, const std::string& windowsDir);

// selvo-host run as RunHost runs it, its standard output written to
// `output`: its exit code (or -signal) and its peak resident memory.
struct TMeasuredRun {
  int code = -1;
  long peakKilobytes = 0;
};
TMeasuredRun RunHostMeasured(const std::vector<std::string>& args, const std::string& windowsDir,
                             const std::string& output = "/dev/null");

}  // namespace selvo::test
