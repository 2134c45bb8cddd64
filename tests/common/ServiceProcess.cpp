#include "tests/common/ServiceProcess.h"

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
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

}  // namespace

TServiceProcess::TServiceProcess(const std::string& database, const std::string& windowsDir,
                                 const std::vector<std::string>& extra) {
  std::vector<std::string> args = {SELVO_HOST_PATH, "serve", "--db", database, "--listen", "127.0.0.1:0"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv = Pointers(args);
  std::vector<std::string> env = HostEnvironment(windowsDir);
  std::vector<char*> envp = Pointers(env);

  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  const int spawned = posix_spawn(&pid_, SELVO_HOST_PATH, &actions, nullptr, argv.data(), envp.data());
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

std::unique_ptr<httplib::Client> TillClient(int port) {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
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
  std::vector<std::string> command = {SELVO_HOST_PATH};
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv = Pointers(command);
  std::vector<std::string> env = HostEnvironment(windowsDir);
  std::vector<char*> envp = Pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, SELVO_HOST_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start selvo-host");
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

}  // namespace selvo::test
