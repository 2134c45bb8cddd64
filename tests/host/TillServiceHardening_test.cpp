// What outside the till service must not be able to do to it, tried as real
// processes over real sockets: hostile requests, clients that trickle or
// idle, a database that is locked or frozen while tills sell, a journal on
// a full disk, and requests without the service's key.
#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "host/service/HttpFront.h"
#include "host/shopdb/SampleShop.h"
#include "platform/ProcessLock.h"
#include "support/SafeIniFiles.h"
#include "tests/common/BackOffice.h"
#include "tests/common/PgTestServer.h"
#include "tests/common/ServiceProcess.h"
#include "tests/common/ShopDatabases.h"

namespace selvo::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads what arrives until the other side closes or `quiet` passes without
// a byte.
std::string ReadUntilQuiet(int fd, std::chrono::milliseconds quiet) {
  std::string got;
  char buffer[65536];
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(quiet.count())) <= 0) break;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// One whole answer (its headers and Content-Length bytes of body), or what
// came before the connection ended or went quiet for 5 s.
std::string ReadAnswer(int fd) {
  std::string got;
  char buffer[4096];
  for (;;) {
    const std::size_t headerEnd = got.find("\r\n\r\n");
    if (headerEnd != std::string::npos) {
      const std::size_t length = got.find("Content-Length: ");
      const std::size_t body = length == std::string::npos ? 0 : std::stoul(got.substr(length + 16));
      if (got.size() >= headerEnd + 4 + body) return got;
    }
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 5000) <= 0) return got;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return got;
    got.append(buffer, static_cast<std::size_t>(n));
  }
}

// True once the service has closed the connection (within `within`).
bool ClosedByService(int fd, std::chrono::seconds within) {
  const auto deadline = Clock::now() + within;
  char buffer[4096];
  while (Clock::now() < deadline) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 200) <= 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return true;
  }
  return false;
}

// Sends the request bytes on a connection of their own (all of them, also
// while the service answers: a chunked flood is sent by a thread until the
// service closes) and answers what came back.
// `pipelined`: several requests are sent at once and every answer is read
// (until the service goes quiet); otherwise the one answer.
std::string Exchange(int port, const std::string& bytes, std::size_t floodBytes = 0, bool pipelined = false) {
  const int fd = Connect(port);
  if (fd < 0) return "(no connection)";
  std::thread writer([&] {
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
    for (std::size_t sent = 0; sent < floodBytes; sent += 0x10000)
      if (send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
  });
  std::string answer = pipelined ? ReadUntilQuiet(fd, 3000ms) : ReadAnswer(fd);
  shutdown(fd, SHUT_RDWR);
  writer.join();
  close(fd);
  RecordExchange(bytes, answer);
  return answer;
}

std::string Post(const std::string& body, const std::string& extraHeaders = "",
                 const std::string& type = "application/json") {
  return "POST /calc HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

std::string SaleWithLine(const std::string& line) {
  return R"({"payment": 1, "moment": "2026-12-08T12:30:00", "lines": [)" + line + "]}";
}

int StatusOf(const std::string& answer) {
  return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : -1;
}

std::uintmax_t SizeOf(const std::string& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  return ec ? 0 : size;
}

// Every line of the journal, checked to be a whole JSON object.
std::vector<nlohmann::json> JournalLines(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<nlohmann::json> lines;
  EXPECT_TRUE(whole.empty() || whole.back() == '\n') << "the journal ends inside a line";
  std::size_t at = 0;
  while (at < whole.size()) {
    const std::size_t end = whole.find('\n', at);
    const std::string line = whole.substr(at, end - at);
    at = end == std::string::npos ? whole.size() : end + 1;
    nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    EXPECT_TRUE(entry.is_object()) << "not a whole line: " << line.substr(0, 200);
    lines.push_back(std::move(entry));
  }
  return lines;
}

void RaiseDescriptorLimit() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

class TillServiceFrontTest : public ::testing::Test {
 protected:
  TillServiceFrontTest() : db(TShopDbKind::File), address(db.Address()) { host::CreateSampleShop(address, false); }

  ModuleScope scope;
  TempDir windows;
  TTestShopDatabase db;
  std::string address;
};

TEST_F(TillServiceFrontTest, HostileRequestsGetAClearRefusalAndTheServiceGoesOn) {
  const std::string journal = windows.file("sales.jsonl");
  TServiceProcess service(address, windows.path(), {"--journal", journal});
  const std::string deep = std::string(50000, '[') + std::string(50000, ']');
  const struct {
    const char* what;
    std::string request;
    int status;
    const char* names;
    std::size_t floodBytes = 0;
  } cases[] = {
      {"an extra member nested 50,000 deep", Post(R"({"payment": 1, "extra": )" + deep + R"(, "lines": []})"), 400,
       "вложены глубже 32"},
      {"a price of 1e308",
       Post(SaleWithLine(R"({"goods": 1, "category": 1, "zprice": 1, "price": 1e308, "quantity": 1})")), 400,
       "lines[0].price"},
      {"a price of 1e309",
       Post(SaleWithLine(R"({"goods": 1, "category": 1, "zprice": 1, "price": 1e309, "quantity": 1})")), 400,
       "lines[0].price"},
      {"a negative price",
       Post(SaleWithLine(R"({"goods": 1, "category": 1, "zprice": 1, "price": -5, "quantity": 1})")), 400,
       "lines[0].price"},
      {"a negative quantity",
       Post(SaleWithLine(R"({"goods": 1, "category": 1, "zprice": 1, "price": 5, "quantity": -2})")), 400,
       "lines[0].quantity"},
      {"a sale sent as a form would be", Post(SaleWithLine(""), "", "text/plain"), 415, "application/json"},
      {"a web page's request", Post(SaleWithLine(""), "Origin: http://example.org\r\n"), 403, "браузере"},
      {"a name that leads here by DNS only", "GET /payments HTTP/1.1\r\nHost: shop.example.org\r\n\r\n", 403,
       "shop.example.org"},
      {"headers over 8 KB", "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: " + std::string(10000, 'a') + "\r\n\r\n",
       431, "8 КБ"},
      {"a chunked body of 60 MB",
       "POST /calc HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n",
       413, "256 КБ", 60u << 20},
      {"a chunk size line without end",
       "POST /calc HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nTransfer-Encoding: "
       "chunked\r\n\r\n1;" +
           std::string(200000, 'a'),
       400, "запрос не разобран"},
      {"a body coded otherwise than chunked",
       "POST /calc HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nTransfer-Encoding: gzip\r\n\r\n",
       400, "chunked"},
      {"two Host headers", "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: shop.example.org\r\n\r\n", 400, "Host"},
      {"a sale asked with GET", "GET /calc HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 405, "POST"},
      {"no such address", "GET /nowhere HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 404, "нет такого адреса"},
      {"not HTTP", "HELLO\r\n\r\n", 400, "запрос не разобран"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string answer = Exchange(service.Port(), c.request, c.floodBytes);
    EXPECT_EQ(StatusOf(answer), c.status) << answer.substr(0, 300);
    EXPECT_NE(answer.find(c.names), std::string::npos) << answer.substr(0, 300);
  }
  EXPECT_LT(SizeOf(journal), 4096u) << "refused requests reach the journal";

  // Requests sent ahead on one connection are answered, each in its turn.
  const std::string three = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" + Post(test::kSampleGroupSale) +
                            "GET /payments HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const std::string answers = Exchange(service.Port(), three, 0, true);
  const std::size_t health = answers.find("\"status\""), sale = answers.find("\"sum\""),
                    payments = answers.find("\"payments\"");
  ASSERT_NE(payments, std::string::npos) << answers;
  EXPECT_LT(health, sale) << answers;
  EXPECT_LT(sale, payments) << answers;

  // The sale's moment is journaled to the millisecond.
  std::string sale250 = test::kSampleGroupSale;
  sale250.replace(sale250.find("12:30:00"), 8, "12:30:00.250");
  EXPECT_EQ(StatusOf(Exchange(service.Port(), Post(sale250))), 200);
  const std::vector<nlohmann::json> lines = JournalLines(journal);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines.back()["moment"], "2026-12-08T12:30:00.250");
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

TEST_F(TillServiceFrontTest, SlowAndIdleClientsAreCutWhileTillsAreServed) {
  RaiseDescriptorLimit();
  TServiceProcess service(address, windows.path());
  // 200 clients that send their headers one byte a second, and 2,000 that
  // send nothing.
  std::vector<int> slow, idle;
  for (int i = 0; i < 200; ++i) slow.push_back(Connect(service.Port()));
  for (int i = 0; i < 2000; ++i) idle.push_back(Connect(service.Port()));
  ASSERT_EQ(std::count(slow.begin(), slow.end(), -1) + std::count(idle.begin(), idle.end(), -1), 0);
  std::atomic<bool> trickling{true};
  std::thread trickle([&] {
    const std::string header = "POST /calc HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(200, 'a');
    for (std::size_t at = 0; trickling && at < header.size(); ++at) {
      for (int fd : slow) send(fd, &header[at], 1, MSG_NOSIGNAL);
      std::this_thread::sleep_for(1s);
    }
  });

  // A till that opens a connection for each sale, and one that keeps its
  // connection: both are answered all the while.
  int sales = 0, failed = 0;
  double slowest = 0;
  const auto until = Clock::now() + std::chrono::seconds(host::kRequestSeconds + 2);
  while (Clock::now() < until) {
    const auto till = RecordedClient(service.Port());
    till->set_read_timeout(10, 0);
    till->set_connection_timeout(10, 0);
    const auto asked = Clock::now();
    const auto result = till->Post("/calc", kSampleGroupSale, "application/json");
    slowest = std::max(slowest, std::chrono::duration<double>(Clock::now() - asked).count());
    (result && result->status == 200) ? ++sales : ++failed;
  }
  EXPECT_EQ(failed, 0) << "of " << sales + failed << " sales, each on a new connection";
  RecordProperty("sales_on_new_connections", sales);
  RecordProperty("slowest_sale_seconds", std::to_string(slowest));

  const int kept = Connect(service.Port());
  const std::string request = Post(kSampleGroupSale);
  int answered = 0;
  for (int i = 0; i < 3000; ++i) {
    if (send(kept, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) break;
    const std::string answer = ReadAnswer(kept);
    if (StatusOf(answer) != 200 || answer.find("Connection: close") != std::string::npos) break;
    ++answered;
  }
  EXPECT_EQ(answered, 3000) << "a kept connection carries every request of a busy till";
  close(kept);

  // Every trickling and idle client has been cut by now, or is soon.
  for (const std::vector<int>* group : {&slow, &idle}) {
    int open = 0;
    for (int fd : *group) open += ClosedByService(fd, std::chrono::seconds(host::kRequestSeconds)) ? 0 : 1;
    EXPECT_EQ(open, 0) << (group == &slow ? "trickling" : "idle") << " clients still connected";
  }
  // A request begun and not finished in time is counted; silence is not.
  const auto metrics = service.Client()->Get("/metrics");
  ASSERT_TRUE(metrics && metrics->status == 200);
  EXPECT_NE(metrics->body.find("selvo_errors_total{kind=\"timeout\"} 200\n"), std::string::npos) << metrics->body;
  trickling = false;
  trickle.join();
  for (int fd : slow) close(fd);
  for (int fd : idle) close(fd);
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

TEST_F(TillServiceFrontTest, AKeyIsAskedOfEveryRequestButHealth) {
  const std::string tokenFile = windows.file("token");
  std::ofstream(tokenFile) << "  s3cret-key\n";
  TServiceProcess service(address, windows.path(), {"--token-file", tokenFile});
  const std::string health = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  EXPECT_EQ(StatusOf(Exchange(service.Port(), health)), 200);
  EXPECT_EQ(StatusOf(Exchange(service.Port(), Post(kSampleGroupSale))), 401);
  EXPECT_EQ(StatusOf(Exchange(service.Port(), Post(kSampleGroupSale, "Authorization: Bearer s3cret-kez\r\n"))), 401);
  EXPECT_EQ(StatusOf(Exchange(service.Port(), Post(kSampleGroupSale, "Authorization: bearer s3cret-key\r\n"))), 200);
  const std::string told = Exchange(service.Port(), health);
  EXPECT_EQ(told.find("database"), std::string::npos) << "without the key /health tells only how it is: " << told;
  EXPECT_EQ(service.Stop(), 0) << service.Log();

  // The installed unit names the key's file in the environment instead,
  // where an empty value means no key.
  setenv("SELVO_TOKEN_FILE", tokenFile.c_str(), 1);
  TServiceProcess keyed(address, windows.path());
  unsetenv("SELVO_TOKEN_FILE");
  EXPECT_EQ(StatusOf(Exchange(keyed.Port(), Post(kSampleGroupSale))), 401);
  EXPECT_EQ(StatusOf(Exchange(keyed.Port(), Post(kSampleGroupSale, "Authorization: Bearer s3cret-key\r\n"))), 200);
  EXPECT_EQ(keyed.Stop(), 0) << keyed.Log();

  // A page of an allowed origin may ask, and read the answer.
  TServiceProcess allowing(address, windows.path(), {"--allow-origin", "http://till.local"});
  const std::string preflight =
      Exchange(allowing.Port(),
               "OPTIONS /calc HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://till.local\r\n"
               "Access-Control-Request-Method: POST\r\nAccess-Control-Request-Headers: content-type\r\n\r\n");
  EXPECT_EQ(StatusOf(preflight), 204) << preflight;
  EXPECT_NE(preflight.find("Access-Control-Allow-Headers: Content-Type"), std::string::npos) << preflight;
  const std::string sale = Exchange(allowing.Port(), Post(kSampleGroupSale, "Origin: http://till.local\r\n"));
  EXPECT_EQ(StatusOf(sale), 200) << sale;
  EXPECT_NE(sale.find("Access-Control-Allow-Origin: http://till.local"), std::string::npos) << sale;
  EXPECT_EQ(StatusOf(Exchange(allowing.Port(), Post(kSampleGroupSale, "Origin: http://other.local\r\n"))), 403);
  EXPECT_EQ(allowing.Stop(), 0) << allowing.Log();

  // Other computers may not reach a service that asks for no key (an empty
  // SELVO_TOKEN_FILE is none), and a key's file that cannot be read stops
  // the start.
  struct TRefusedStart {
    std::string environment, listen;
  };
  for (const TRefusedStart& start : {TRefusedStart{"SELVO_TOKEN_FILE=", "0.0.0.0:0"},
                                     TRefusedStart{"SELVO_TOKEN_FILE=/nonexistent", "127.0.0.1:0"}}) {
    const std::string command = start.environment + " WINDIR='" + windows.path() +
                                "' SELVO_MODULE='" SELVO_MODULE_PATH "' '" SELVO_HOST_PATH "' serve --db '" + address +
                                "' --listen " + start.listen + " 2>&1";
    FILE* serve = popen(command.c_str(), "r");
    char line[1024] = {};
    const bool said = fgets(line, sizeof line, serve) != nullptr;
    const int status = pclose(serve);
    EXPECT_TRUE(said) << start.environment;
    EXPECT_EQ(WEXITSTATUS(status), 1) << line;
    EXPECT_NE(std::string(line).find("--token-file"), std::string::npos) << line;
  }
}

// HEAD is refused like any method a path does not take, and its answer is
// the header alone: a body after it would be read as the next answer.
TEST_F(TillServiceFrontTest, AnAnswerToHeadIsItsHeaderAlone) {
  TServiceProcess service(address, windows.path());
  for (const std::string path : {"/calc", "/health", "/nowhere"}) {
    const std::string answer = Exchange(service.Port(), "HEAD " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const std::size_t end = answer.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos) << path << ": " << answer;
    EXPECT_EQ(answer.size(), end + 4) << path << ": " << answer;
    EXPECT_NE(answer.find("Content-Length: "), std::string::npos) << path << ": " << answer;
  }
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

// A full disk under the journal: the service goes on selling, says so once
// in its log, in /health and in its counters, leaves no torn line, and
// writes again once there is room. The file system is a small one of the
// test's own.
TEST_F(TillServiceFrontTest, AJournalOnAFullDiskIsToldAndNeverTorn) {
  const std::string mountPoint = windows.file("small");
  std::filesystem::create_directory(mountPoint);
  if (mount("selvo-test", mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "a small file system cannot be mounted here: " << std::strerror(errno);
  struct TUnmount {
    std::string at;
    ~TUnmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{mountPoint};
  // What is left of the room holds a few dozen lines.
  const std::string filler = mountPoint + "/filler";
  {
    std::ofstream fill(filler, std::ios::binary);
    fill << std::string(256 * 1024 - 24 * 1024, 'f');
  }
  const std::string journal = mountPoint + "/sales.jsonl";
  TServiceProcess service(address, windows.path(), {"--journal", journal});
  auto till = service.Client();
  int sold = 0;
  for (int i = 0; i < 200; ++i) {
    const auto result = till->Post("/calc", kSampleGroupSale, "application/json");
    sold += result && result->status == 200;
  }
  EXPECT_EQ(sold, 200) << "sales go on without the journal";
  const nlohmann::json health = service.Get("/health");
  EXPECT_EQ(health["status"], "degraded") << health.dump();
  EXPECT_EQ(health["journal"]["writing"], false) << health.dump();
  EXPECT_NE(health["journal"].value("error", "").find("No space"), std::string::npos) << health.dump();
  const std::string metrics = till->Get("/metrics")->body;
  EXPECT_NE(metrics.find("selvo_journal_up 0"), std::string::npos) << metrics;
  const std::size_t written = JournalLines(journal).size();
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, 200u);

  std::filesystem::remove(filler);
  for (int i = 0; i < 5; ++i) till->Post("/calc", kSampleGroupSale, "application/json");
  EXPECT_EQ(JournalLines(journal).size(), written + 5) << "whole lines once there is room again";
  EXPECT_EQ(service.Get("/health")["status"], "ok");
  const std::string log = service.Log();
  const std::size_t told = log.find("не пишется");
  ASSERT_NE(told, std::string::npos) << log;
  EXPECT_EQ(log.find("не пишется", told + 1), std::string::npos) << "told more than once:\n" << log;
  EXPECT_NE(log.find("снова пишется"), std::string::npos) << log;
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

TEST_F(TillServiceFrontTest, AJournalThatCannotBeOpenedAnewKeepsTheServiceRunning) {
  const std::string folder = windows.file("journal");
  std::filesystem::create_directory(folder);
  // The last run was killed in the middle of a line.
  const std::string torn = R"({"sale": {"payment": 1, "li)";
  std::ofstream(folder + "/sales.jsonl", std::ios::binary) << torn;
  TServiceProcess service(address, windows.path(), {"--journal", folder + "/sales.jsonl"});
  auto till = service.Client();
  ASSERT_EQ(till->Post("/calc", kSampleGroupSale, "application/json")->status, 200);
  std::filesystem::rename(folder, folder + ".moved");
  kill(service.Pid(), SIGHUP);
  const auto deadline = Clock::now() + 20s;
  while (service.Log().find("не открыт заново") == std::string::npos && Clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  EXPECT_NE(service.Log().find("не открыт заново"), std::string::npos) << service.Log();
  ASSERT_EQ(till->Post("/calc", kSampleGroupSale, "application/json")->status, 200);
  std::ifstream in(folder + ".moved/sales.jsonl", std::ios::binary);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, torn) << "the torn line stays a line of its own";
  int whole = 0;
  while (std::getline(in, line)) whole += nlohmann::json::parse(line, nullptr, false).is_object();
  EXPECT_EQ(whole, 2) << "the old file goes on, in whole lines";
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

// The figures of /metrics as numbers, by their line's name and labels.
std::map<std::string, double> MetricFigures(const TServiceProcess& service) {
  const auto result = service.Client()->Get("/metrics");
  std::map<std::string, double> figures;
  if (!result || result->status != 200) return figures;
  std::istringstream lines(result->body);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t space = line.rfind(' ');
    if (line.empty() || line[0] == '#' || space == std::string::npos) continue;
    figures[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  return figures;
}

// The observations of a histogram above its bucket `le`.
double Above(std::map<std::string, double>& figures, const std::string& histogram, const std::string& le) {
  return figures[histogram + "_count"] - figures[histogram + "_bucket{le=\"" + le + "\"}"];
}

// Two sales at once while the module waits for its settings file, whose
// lock this test holds: the one holding the module has that wait in its
// calculation, the other waits for the module, and that time is counted as
// waiting, not as calculation.
TEST_F(TillServiceFrontTest, ASaleHeldUpBehindAnotherCountsItsWaitApartFromItsCalculation) {
  TServiceProcess service(address, windows.path());
  std::map<std::string, double> before = MetricFigures(service);
  ASSERT_EQ(before["selvo_module_calls_waiting"], 0);

  std::string settingsFile = windows.path();
  if (settingsFile.back() != '/') settingsFile += '/';
  // Just written: the module reads the file again, under its lock.
  WriteFileBytes(settingsFile + "Selvo.ini", "[SelvoDiscount]\nRSumCanNotBeLowThenZSum=0\n");
  TProcessLock settingsLock(TSafeIniFile::LockName(settingsFile + "Selvo.ini"));
  ASSERT_TRUE(settingsLock.TryLockFor(5s));
  std::atomic<int> answered200{0};
  std::vector<std::thread> tills;
  for (int i = 0; i < 2; ++i)
    tills.emplace_back([&] {
      const auto result = service.Client()->Post("/calc", kSampleGroupSale, "application/json");
      if (result && result->status == 200) ++answered200;
    });
  // One sale holds the module, stuck on the lock; the other is queued.
  bool queued = false;
  for (const auto until = Clock::now() + 30s; !queued && Clock::now() < until;) {
    queued = MetricFigures(service)["selvo_module_calls_waiting"] == 1;
    if (!queued) std::this_thread::sleep_for(10ms);
  }
  // Meanwhile the service answers all else, the payment types too.
  const auto payments = service.Client()->Get("/payments");
  EXPECT_TRUE(payments && payments->status == 200) << "GET /payments while the module is held up";
  const auto health = service.Client()->Get("/health");
  EXPECT_TRUE(health && health->status == 200) << "GET /health while the module is held up";
  constexpr auto kHold = 400ms;
  std::this_thread::sleep_for(kHold);
  settingsLock.Unlock();
  for (std::thread& till : tills) till.join();
  ASSERT_TRUE(queued) << "no sale waited for the module";
  EXPECT_EQ(answered200, 2);

  std::map<std::string, double> after = MetricFigures(service);
  const double held = std::chrono::duration<double>(kHold).count();
  EXPECT_EQ(after["selvo_calc_wait_seconds_count"] - before["selvo_calc_wait_seconds_count"], 2);
  EXPECT_EQ(after["selvo_calc_seconds_count"] - before["selvo_calc_seconds_count"], 2);
  EXPECT_GE(after["selvo_calc_wait_seconds_sum"] - before["selvo_calc_wait_seconds_sum"], held)
      << "the queued sale waited at least as long as the lock was held after it came";
  // The hold lies in one calculation (the module's own wait for its file)
  // and in one wait; counted in both of the calculations, it would be the
  // waiting sale's too.
  EXPECT_EQ(Above(after, "selvo_calc_wait_seconds", "0.25") - Above(before, "selvo_calc_wait_seconds", "0.25"), 1);
  EXPECT_EQ(Above(after, "selvo_calc_seconds", "0.25") - Above(before, "selvo_calc_seconds", "0.25"), 1);
  EXPECT_EQ(after["selvo_module_calls_waiting"], 0);
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

// Sales while the database cannot be read: answered at once from the
// settings held, the whole time.
struct TSalesDuring {
  int sales = 0;
  int failed = 0;
  std::set<std::uint64_t> versions;
  double slowest = 0;
  bool degraded = false;
};
TSalesDuring SellFor(const TServiceProcess& service, std::chrono::seconds during) {
  TSalesDuring seen;
  auto till = service.Client();
  const auto until = Clock::now() + during;
  while (Clock::now() < until) {
    const auto asked = Clock::now();
    const auto result = till->Post("/calc", kSampleGroupSale, "application/json");
    seen.slowest = std::max(seen.slowest, std::chrono::duration<double>(Clock::now() - asked).count());
    if (!result || result->status != 200) {
      ++seen.failed;
      continue;
    }
    ++seen.sales;
    seen.versions.insert(nlohmann::json::parse(result->body)["settings_version"].get<std::uint64_t>());
    if (seen.sales % 50 == 0) seen.degraded = seen.degraded || service.Get("/health")["status"] == "degraded";
  }
  return seen;
}

bool AwaitHealth(const TServiceProcess& service, const std::function<bool(const nlohmann::json&)>& wanted) {
  const auto deadline = Clock::now() + 30s;
  while (Clock::now() < deadline) {
    if (wanted(service.Get("/health"))) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

class TillServiceStallTest : public ::testing::TestWithParam<TShopDbKind> {
 protected:
  TillServiceStallTest() : db(GetParam()), address(db.Address()) { host::CreateSampleShop(address, false); }

  ModuleScope scope;
  TempDir windows;
  TTestShopDatabase db;
  std::string address;
};

TEST_P(TillServiceStallTest, ALockedDatabaseNeverHoldsASaleUp) {
  TServiceProcess service(address, windows.path());
  const std::uint64_t before = service.Get("/health")["settings_version"];
  TBackOffice office(address);
  office.SetThreshold(4, "200=20%;");
  ASSERT_EQ(office.Save(), TSaveResult::Saved);
  ASSERT_TRUE(AwaitHealth(service, [&](const nlohmann::json& h) { return h["settings_version"] > before; }));
  const std::uint64_t held = service.Get("/health")["settings_version"];
  const std::uint64_t loads = service.Get("/health")["reloads"];

  // Another computer holds the cards' table while a change is announced.
  std::function<void()> release;
  if (GetParam() == TShopDbKind::Server) {
    PGconn* holder = PQconnectdb(address.c_str());
    ASSERT_EQ(PQstatus(holder), CONNECTION_OK);
    PQclear(PQexec(holder, "BEGIN; LOCK TABLE selvodiscountds IN ACCESS EXCLUSIVE MODE"));
    PgExec(address, "NOTIFY selvo_shop_saved");
    release = [holder] { PQfinish(holder); };
  } else {
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(address.c_str(), &holder), SQLITE_OK);
    // The change and the lock one after the other, before the service's
    // next look at the file.
    ASSERT_EQ(
        sqlite3_exec(holder, "UPDATE SelvoDiscountDS SET td_Threshold = '300=10%;' WHERE td_ID = 4; BEGIN EXCLUSIVE",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    release = [holder] {
      sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(holder);
    };
  }
  const TSalesDuring seen = SellFor(service, 6s);
  const nlohmann::json during = service.Get("/health");
  release();
  EXPECT_EQ(seen.failed, 0);
  EXPECT_EQ(seen.versions, std::set<std::uint64_t>{held}) << "answered from the settings held";
  if (GetParam() == TShopDbKind::Server) {
    EXPECT_TRUE(seen.degraded || during["status"] == "degraded") << "a load waiting for the lock is told";
  }
  RecordProperty("sales_while_locked", seen.sales);
  RecordProperty("slowest_sale_seconds", std::to_string(seen.slowest));
  // Loaded once the lock is gone: on a file the change held back, on the
  // server the same settings again (only a notice came).
  EXPECT_TRUE(AwaitHealth(service, [&](const nlohmann::json& h) {
    return h["reloads"] > loads && h["status"] == "ok" &&
           (GetParam() == TShopDbKind::Server || h["settings_version"] > held);
  })) << service.Log();
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

SELVO_ON_BOTH_DATABASES(TillServiceStallTest);

TEST(TillServiceFrozenServerTest, AServerThatAnswersNothingIsToldAndSalesGoOn) {
  ModuleScope scope;
  TempDir windows;
  TPrivatePgServer server;
  host::CreateSampleShop(server.ConnInfo(), false);
  TServiceProcess service(server.ConnInfo(), windows.path());
  ASSERT_EQ(service.Get("/health")["status"], "ok");
  const std::uint64_t held = service.Get("/health")["settings_version"];

  server.Freeze();
  const TSalesDuring seen = SellFor(service, 5s);
  const bool degraded = AwaitHealth(
      service, [](const nlohmann::json& h) { return h["status"] == "degraded" && !h["database"]["reachable"]; });
  server.Thaw();
  EXPECT_EQ(seen.failed, 0);
  EXPECT_EQ(seen.versions, std::set<std::uint64_t>{held});
  EXPECT_TRUE(degraded) << service.Get("/health").dump();
  RecordProperty("slowest_sale_seconds", std::to_string(seen.slowest));
  EXPECT_TRUE(AwaitHealth(service, [](const nlohmann::json& h) { return h["status"] == "ok"; })) << service.Log();
  EXPECT_EQ(service.Stop(), 0) << service.Log();
}

}  // namespace
}  // namespace selvo::test
