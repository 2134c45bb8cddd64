#include "tests/common/ServiceProcess.h"

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <stdexcept>

extern char** environ;

namespace selvo::test {
namespace {

// The null-terminated array posix_spawn takes; valid while `texts` is.
std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The headers of an answer the document speaks of (in lower case).
bool RecordedHeader(const std::string& name) {
  return name == "content-type" || name == "allow" || name == "www-authenticate" ||
         name == "access-control-allow-origin" || name == "access-control-allow-methods";
}

// The file of this process's answers, opened on the first one.
class TAnswerFile {
 public:
  // Nothing is recorded without SELVO_API_RECORD.
  bool Recording() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ == -2) fd_ = Open();
    return fd_ >= 0;
  }
  // True the first time `requestBody` is answered with `status`: a till's
  // sale sent ten thousand times is recorded once.
  bool FirstAnswered(const std::string& requestBody, int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    return answered_.insert(std::to_string(status) + " " + requestBody).second;
  }
  void Append(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) return;
    // One write per line: the file's lines stay whole also when threads of
    // the test answer at once.
    if (write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
      throw std::runtime_error("cannot record an answer in " + path_);
  }

 private:
  int Open() {
    const char* folder = std::getenv("SELVO_API_RECORD");
    if (!folder || !*folder) return -1;
    std::filesystem::create_directories(folder);
    path_ = std::string(folder) + "/answers-" + std::to_string(getpid()) + ".jsonl";
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot open " + path_);
    return fd;
  }

  std::mutex mutex_;
  int fd_ = -2;  // not opened yet; -1: nothing is recorded
  std::string path_;
  std::set<std::string> answered_;
};

// "Name: value" lines up to the blank line that ends them, from `at`; moves
// `at` past it. False when there is no blank line.
bool ReadHeaderLines(std::string_view bytes, std::size_t& at, std::string& firstLine,
                     std::vector<std::pair<std::string, std::string>>& headers) {
  const std::size_t end = bytes.find("\r\n\r\n", at);
  if (end == std::string_view::npos) return false;
  std::string_view block = bytes.substr(at, end - at);
  at = end + 4;
  std::size_t lineEnd = std::min(block.find("\r\n"), block.size());
  firstLine = std::string(block.substr(0, lineEnd));
  while (lineEnd < block.size()) {
    const std::size_t from = lineEnd + 2;
    lineEnd = std::min(block.find("\r\n", from), block.size());
    const std::string_view line = block.substr(from, lineEnd - from);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
  }
  return true;
}

// The Content-Length among `headers` (0 without one); -1 for a chunked body.
long long BodyLength(const std::vector<std::pair<std::string, std::string>>& headers) {
  for (const auto& [name, value] : headers) {
    const std::string lower = Lower(name);
    if (lower == "transfer-encoding") return -1;
    if (lower == "content-length") return std::atoll(value.c_str());
  }
  return 0;
}

}  // namespace

void RecordAnswer(const TRecordedAnswer& answer) {
  static TAnswerFile file;
  if (!file.Recording()) return;
  nlohmann::json headers = nlohmann::json::object();
  for (const auto& [name, value] : answer.headers)
    if (RecordedHeader(Lower(name))) headers[Lower(name)] = value;
  nlohmann::json line = {{"method", answer.method},
                         {"target", answer.target},
                         {"status", answer.status},
                         {"headers", headers},
                         {"body", answer.body}};
  if (!answer.requestBody.empty() && file.FirstAnswered(answer.requestBody, answer.status)) {
    line["request_type"] = answer.requestType;
    line["request_body"] = answer.requestBody;
  }
  file.Append(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

void RecordExchange(std::string_view sent, std::string_view received) {
  static const std::regex requestLine("([A-Z]+) (\\S+) HTTP/1\\.[01]");
  static const std::regex statusLine("HTTP/1\\.[01] ([0-9]{3}) .*");
  std::size_t request = 0, answer = 0;
  for (;;) {
    std::string first;
    std::vector<std::pair<std::string, std::string>> requestHeaders;
    std::smatch asked;
    if (!ReadHeaderLines(sent, request, first, requestHeaders) || !std::regex_match(first, asked, requestLine)) return;
    const long long requestBody = BodyLength(requestHeaders);
    TRecordedAnswer recorded{asked[1].str(), asked[2].str(), 0, {}, {}, {}, {}};
    for (const auto& [name, value] : requestHeaders)
      if (Lower(name) == "content-type") recorded.requestType = value;
    if (requestBody > 0 && request + static_cast<std::size_t>(requestBody) <= sent.size())
      recorded.requestBody = std::string(sent.substr(request, static_cast<std::size_t>(requestBody)));
    std::smatch told;
    if (!ReadHeaderLines(received, answer, first, recorded.headers) || !std::regex_match(first, told, statusLine))
      return;
    recorded.status = std::stoi(told[1].str());
    const long long length = BodyLength(recorded.headers);
    // An answer cut short is not one the service gave.
    if (length < 0 || answer + static_cast<std::size_t>(length) > received.size()) return;
    recorded.body = std::string(received.substr(answer, static_cast<std::size_t>(length)));
    answer += static_cast<std::size_t>(length);
    RecordAnswer(recorded);
    // The next request's bytes are known only after a whole body.
    if (requestBody < 0 || request + static_cast<std::size_t>(requestBody) > sent.size()) return;
    request += static_cast<std::size_t>(requestBody);
  }
}

TServiceProcess::TServiceProcess(const std::string& database, const std::string& windowsDir,
                                 const std::vector<std::string>& extra, const std::string& program) {
  const std::string path = program.empty() ? SELVO_HOST_PATH : program;
  std::vector<std::string> args = {path, "serve", "--db", database, "--listen", "127.0.0.1:0"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv = Pointers(args);
  std::vector<std::string> env = HostEnvironment(windowsDir);
  // Another build runs on its own module, which it finds in its build
  // folder: this build's module would measure this build's calculation.
  if (!program.empty()) std::erase_if(env, [](const std::string& e) { return e.rfind("SELVO_MODULE=", 0) == 0; });
  std::vector<char*> envp = Pointers(env);

  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  const int spawned = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(err[1]);
  if (spawned != 0) {
    close(err[0]);
    throw std::runtime_error("cannot start selvo-host serve");
  }
  reader_ = std::thread([this, fd = err[0]] {
    char buffer[4096];
    for (;;) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      std::lock_guard<std::mutex> lock(mutex_);
      if (got <= 0) {
        logClosed_ = true;
        grew_.notify_all();
        break;
      }
      log_.append(buffer, static_cast<std::size_t>(got));
      grew_.notify_all();
    }
    close(fd);
  });
  static const std::regex listening("слушает http://127\\.0\\.0\\.1:([0-9]+)");
  std::unique_lock<std::mutex> lock(mutex_);
  std::smatch found;
  const bool started = grew_.wait_for(lock, std::chrono::seconds(60),
                                      [&] { return std::regex_search(log_, found, listening) || logClosed_; });
  if (!started || found.empty()) {
    const std::string log = log_;
    lock.unlock();
    Stop(SIGKILL);
    throw std::runtime_error("selvo-host serve did not start: " + log);
  }
  port_ = std::stoi(found[1].str());
}

TServiceProcess::~TServiceProcess() {
  if (!ended_) Stop(SIGTERM);
}

std::unique_ptr<httplib::Client> TServiceProcess::Client() const { return TillClient(port_); }

nlohmann::json TServiceProcess::Get(const std::string& path) const {
  const auto client = Client();
  const httplib::Result result = client->Get(path.c_str());
  if (!result) throw std::runtime_error("no answer to GET " + path);
  return nlohmann::json::parse(result->body);
}

int TServiceProcess::Stop(int signal) {
  if (ended_) return exitCode_;
  kill(pid_, signal);
  int status = 0;
  waitpid(pid_, &status, 0);
  ended_ = true;
  if (reader_.joinable()) reader_.join();
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return exitCode_;
}

std::string TServiceProcess::Log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::string AnswerWithoutVersion(const std::string& body) {
  nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
  if (answer.is_discarded()) return "(not JSON) " + body;
  answer.erase("settings_version");
  answer.erase("sale_id");
  return answer.dump();
}

std::unique_ptr<httplib::Client> RecordedClient(int port) {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
  client->set_logger([](const httplib::Request& request, const httplib::Response& response) {
    TRecordedAnswer answer{
        request.method, request.path, response.status, {}, response.body, request.get_header_value("Content-Type"),
        request.body};
    for (const auto& [name, value] : response.headers) answer.headers.emplace_back(name, value);
    RecordAnswer(answer);
  });
  return client;
}

std::unique_ptr<httplib::Client> TillClient(int port) {
  auto client = RecordedClient(port);
  client->set_read_timeout(60, 0);
  client->set_keep_alive(true);
  // The library writes a request's headers and its body apart; the body
  // goes at once rather than after the service's delayed acknowledgement.
  client->set_tcp_nodelay(true);
  return client;
}

std::vector<std::string> HostEnvironment(const std::string& windowsDir) {
  std::vector<std::string> env = {"WINDIR=" + windowsDir, "SELVO_MODULE=" SELVO_MODULE_PATH};
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("WINDIR=", 0) != 0 && entry.rfind("SELVO_MODULE=", 0) != 0) env.push_back(entry);
  }
  return env;
}

int RunHost(const std::vector<std::string>& args, const std::string& windowsDir) {
  return RunHostMeasured(args, windowsDir).code;
}

TMeasuredRun RunHostMeasured(const std::vector<std::string>& args, const std::string& windowsDir,
                             const std::string& output) {
  std::vector<std::string> command = {SELVO_HOST_PATH};
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv = Pointers(command);
  std::vector<std::string> env = HostEnvironment(windowsDir);
  std::vector<char*> envp = Pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, SELVO_HOST_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start selvo-host");
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), usage.ru_maxrss};
}

}  // namespace selvo::test
