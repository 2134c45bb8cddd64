#include "host/program/ServeCommand.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <thread>

#include "host/journal/SaleJournal.h"
#include "host/service/HttpFront.h"
#include "host/service/ServiceMetrics.h"
#include "host/service/ShopWatch.h"
#include "host/service/TillService.h"

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

// A thousand connections need more descriptors than the usual soft limit.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int RunServe(const TParsedCommand& command, const TCommandContext& context) {
  std::string host;
  int port = 0;
  try {
    ParseListen(command.Value("--listen", std::string(kDefaultHost) + ":" + std::to_string(kDefaultServicePort)), host,
                port);
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
    if (command.Has("--journal")) journal = std::make_unique<TSaleJournal>(command.Value("--journal", ""));
    TServiceMetrics metrics;
    THttpFront front(service, metrics, journal.get());
    std::string why;
    if (!front.Bind(host, port, why)) return FailCommand(context.err, why);
    watch.Start(service);

    std::atomic<bool> ranOut{false};
    std::thread signalThread([&] {
      for (;;) {
        int received = 0;
        if (sigwait(&signals, &received) != 0) continue;
        if (received == SIGHUP) {
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
      {"--journal", "ФАЙЛ", "дописывать каждую рассчитанную продажу строкой JSON"}},
     ""},
    &RunServe};

}  // namespace selvo::host
