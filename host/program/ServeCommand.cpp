#include "host/program/ServeCommand.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <ostream>
#include <thread>

#include "host/journal/SaleJournal.h"
#include "host/service/ChainReport.h"
#include "host/service/HttpFront.h"
#include "host/service/ServiceMetrics.h"
#include "host/service/ShopWatch.h"
#include "host/service/TillService.h"
#include "host/shopdb/SettingsHistory.h"

namespace selvo::host {
namespace {

constexpr const char* kDefaultHost = "127.0.0.1";

// "ADDR:PORT", ":PORT" or "PORT"; EUsageError for anything else.
void ParseListen(const std::string& text, std::string& host, int& port) {
  const std::size_t colon = text.rfind(':');
  host = colon == std::string::npos || colon == 0 ? kDefaultHost : text.substr(0, colon);
  const std::string digits = colon == std::string::npos ? text : text.substr(colon + 1);
  port = -1;
  if (!digits.empty() && digits.size() <= 5 && digits.find_first_not_of("0123456789") == std::string::npos)
    port = std::stoi(digits);
  if (port < 0 || port > 65535) throw EUsageError("--listen: ожидается АДРЕС:ПОРТ, а не \"" + text + "\"");
}

// The service's key: the file's first line, without the blanks around it.
// EUsageError when it cannot be read, is empty, is too long to be a key or
// holds anything but visible characters.
std::string ReadToken(const std::string& file) {
  constexpr std::size_t kLongestToken = 4096;
  std::ifstream in(file, std::ios::binary);
  std::string token;
  if (!in || !std::getline(in, token)) throw EUsageError("--token-file: не удалось прочитать \"" + file + "\"");
  while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back()))) token.pop_back();
  token.erase(0, std::min(token.find_first_not_of(" \t"), token.size()));
  if (token.empty() || token.size() > kLongestToken)
    throw EUsageError("--token-file: в \"" + file + "\" нет ключа (ожидается одна строка до 4096 символов)");
  for (char c : token)
    if (c <= ' ' || c == 0x7F)
      throw EUsageError("--token-file: ключ в \"" + file + "\" может состоять только из видимых символов");
  return token;
}

// "a,b,c" -> its non-empty parts.
std::vector<std::string> ListOf(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find(',', at), text.size());
    if (end > at) parts.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

TFrontOptions FrontOptions(const TParsedCommand& command, const std::string& host) {
  TFrontOptions options;
  // The installed unit names the key's file in the environment
  // (/etc/default/selvo-till), where an unset key is an empty value.
  const char* tokenFromEnvironment = std::getenv("SELVO_TOKEN_FILE");
  const std::string tokenFile =
      command.Value("--token-file", tokenFromEnvironment ? std::string(tokenFromEnvironment) : std::string());
  if (!tokenFile.empty()) options.token = ReadToken(tokenFile);
  options.allowedOrigins = ListOf(command.Value("--allow-origin", ""));
  for (std::string name : ListOf(command.Value("--allow-host", ""))) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    options.allowedHosts.push_back(name);
  }
  // Other computers reach the service: a sale or a journal line must not
  // be had for the asking.
  const std::string bare = host.size() > 1 && host.front() == '[' ? host.substr(1, host.size() - 2) : host;
  if (!IsLoopbackAddress(bare) && options.token.empty())
    throw EUsageError("--listen " + host +
                      ": служба будет доступна с других компьютеров, укажите ключ доступа (--token-file ФАЙЛ)");
  return options;
}

// A thousand connections need more descriptors than the usual soft limit.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// How the service is named among its station's: its computer and where it listens.
std::string ServiceName(const std::string& host, int port) {
  const std::string computer = ComputerName();
  return (computer.empty() ? "" : computer + " ") + host + ":" + std::to_string(port);
}

int RunServe(const TParsedCommand& command, const TCommandContext& context) {
  std::string host;
  int port = 0;
  TFrontOptions frontOptions;
  try {
    ParseListen(command.Value("--listen", std::string(kDefaultHost) + ":" + std::to_string(kDefaultServicePort)), host,
                port);
    frontOptions = FrontOptions(command, host);
  } catch (const EUsageError& e) {
    return FailCommand(context.err, e.Message());
  }
  // The signals are taken by one thread of their own: every thread made
  // from here on has them blocked.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  RaiseDescriptorLimit();
  try {
    const std::string database = DatabaseOf(command);
    TShopWatch watch(database);
    TTillService service(database, context.module, context.err);
    std::unique_ptr<TSaleJournal> journal;
    if (command.Has("--journal"))
      journal = std::make_unique<TSaleJournal>(command.Value("--journal", ""),
                                               [&service](const std::string& line) { service.Log(line); });
    TServiceMetrics metrics;
    THttpFront front(service, metrics, journal.get(), std::move(frontOptions));
    std::string why;
    if (!front.Bind(host, port, why)) return FailCommand(context.err, why);
    watch.Start(service);
    // At a station, the head office hears which version this service answers with.
    TChainReport chainReport(database, ServiceName(host, front.Port()));
    chainReport.Start(service);

    std::atomic<bool> ranOut{false};
    std::thread signalThread([&] {
      for (;;) {
        int received = 0;
        if (sigwait(&signals, &received) != 0) continue;
        if (received == SIGHUP) {
          // A journal that cannot be opened anew goes on in the old file
          // and says so; the service keeps selling.
          if (journal) journal->Reopen();
          continue;
        }
        if (received == SIGUSR1) return;  // the answers ran out by themselves
        // SIGTERM, SIGINT: a stop that came before the server listens finds
        // nothing to stop, so it is asked again until the answers end.
        while (!ranOut) {
          front.Stop();
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return;
      }
    });
    context.err << kHostProgram << " serve: слушает http://" << host << ":" << front.Port() << std::endl;
    front.Run();
    ranOut = true;
    pthread_kill(signalThread.native_handle(), SIGUSR1);
    signalThread.join();
    chainReport.Stop();
    watch.Stop();
    context.err << kHostProgram << " serve: остановлена" << std::endl;
    return 0;
  } catch (const Exception& e) {
    return FailCommand(context.err, e.Message());
  }
}

}  // namespace

const THostCommand kServeCommand{
    {"serve",
     "служба кассы: загрузить модуль и настройки один раз и отвечать на продажи по HTTP (JSON)",
     {DatabaseOption(),
      {"--listen", "АДРЕС:ПОРТ", "где отвечать (по умолчанию 127.0.0.1:8750)"},
      {"--journal", "ФАЙЛ", "дописывать каждую рассчитанную продажу строкой JSON"},
      {"--token-file", "ФАЙЛ",
       "ключ доступа (первая строка файла): каждый запрос, кроме /health, несёт Authorization: Bearer КЛЮЧ; "
       "обязателен, когда АДРЕС не только этого компьютера; без параметра файл берётся из SELVO_TOKEN_FILE"},
      {"--allow-origin", "ИСТОЧНИК,...", "страницы (Origin), запросы которых принимаются"},
      {"--allow-host", "ИМЯ,...", "имена узла (Host), под которыми службу спрашивают, кроме localhost и АДРЕСА"}},
     ""},
    &RunServe};

}  // namespace selvo::host
