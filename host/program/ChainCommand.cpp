#include "host/program/ChainCommand.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <ostream>

#include "host/session/SaleJson.h"
#include "host/shopdb/ShopChain.h"

namespace selvo::host {
namespace {

using nlohmann::json;

constexpr const char* kActions = "publish, join, status или leave";

void AllowOnly(const TParsedCommand& command, const std::string& action, std::initializer_list<const char*> allowed) {
  for (const auto& [option, value] : command.options) {
    bool known = option == "--db";
    for (const char* name : allowed) known = known || option == name;
    if (!known) throw EUsageError("chain " + action + " не принимает " + option);
  }
}

std::string Ago(double seconds) {
  if (seconds < 0) return "никогда";
  const long long s = std::llround(seconds);
  if (s < 120) return std::to_string(s) + " с назад";
  if (s < 7200) return std::to_string(s / 60) + " мин назад";
  return std::to_string(s / 3600) + " ч назад";
}

int Publish(const TParsedCommand& command, const TCommandContext& context) {
  AllowOnly(command, "publish", {});
  const TPublishResult result = PublishSettings(DatabaseOf(command));
  context.out << "Головной офис публикует настройки станциям (версия " << result.version
              << "); станции входят в сеть командой selvo-host chain join\n";
  return 0;
}

int Join(const TParsedCommand& command, const TCommandContext& context) {
  AllowOnly(command, "join", {"--head", "--name", "--station-address"});
  if (!command.Has("--head")) throw EUsageError("chain join: укажите головной офис (--head АДРЕС)");
  TJoinRequest request;
  request.station = DatabaseOf(command);
  request.head = command.Value("--head", "");
  request.name = command.Value("--name", "");
  request.stationFromHead = command.Value("--station-address", "");
  const TJoinResult result = JoinChain(request);
  context.out << "Станция «" << TerminalText(result.name)
              << "» в сети: её настройки приходят из головного офиса (сейчас версия " << result.version << ")\n";
  return 0;
}

int Leave(const TParsedCommand& command, const TCommandContext& context) {
  AllowOnly(command, "leave", {"--head"});
  const TLeaveResult result = LeaveChain(DatabaseOf(command), command.Value("--head", ""));
  context.out << "Станция «" << TerminalText(result.name) << "» вышла из сети: настройки версии " << result.version
              << " теперь её собственные\n";
  for (const std::string& line : result.leftAtHead) context.out << "  " << TerminalText(line) << "\n";
  return 0;
}

json StatusJson(const TChainStatus& status) {
  json stations = json::array();
  for (const TStationStanding& s : status.stations) {
    json services = json::array();
    for (const TServiceStanding& service : s.services)
      services.push_back({{"service", service.service},
                          {"version", service.version},
                          {"heard_at", service.heardAt},
                          {"seconds_ago", service.secondsAgo},
                          {"answering", service.secondsAgo <= kServiceSilentSeconds}});
    stations.push_back({{"name", s.name},
                        {"held_version", s.heldVersion},
                        {"behind", s.behind},
                        {"services", services},
                        {"last_heard", s.lastHeard.empty() ? json(nullptr) : json(s.lastHeard)},
                        {"seconds_since_heard", s.secondsSinceHeard < 0 ? json(nullptr) : json(s.secondsSinceHeard)},
                        {"receiving", s.receiving}});
  }
  return {{"head_version", status.headVersion}, {"stations", stations}};
}

void PrintStatus(const TChainStatus& status, std::ostream& out) {
  out << "Головной офис: версия " << status.headVersion << ", станций " << status.stations.size() << "\n";
  for (const TStationStanding& s : status.stations) {
    out << "«" << TerminalText(s.name) << "»: в базе версия " << s.heldVersion;
    out << (s.behind == 0 ? ", не отстаёт" : ", отстаёт на " + std::to_string(s.behind) + " верс.");
    out << "; на связи "
        << (s.lastHeard.empty() ? std::string("никогда") : s.lastHeard + " (" + Ago(s.secondsSinceHeard) + ")");
    if (!s.receiving) out << "; линия к ней не работает";
    out << "\n";
    for (const TServiceStanding& service : s.services) {
      out << "    служба " << TerminalText(service.service) << ": версия " << service.version << ", " << service.heardAt
          << " (" << Ago(service.secondsAgo) << ")";
      if (service.secondsAgo > kServiceSilentSeconds) out << ", молчит";
      out << "\n";
    }
  }
}

int Status(const TParsedCommand& command, const TCommandContext& context) {
  AllowOnly(command, "status", {"--json"});
  const TChainStatus status = ReadChainStatus(DatabaseOf(command));
  if (command.Has("--json"))
    context.out << JsonText(StatusJson(status)) << "\n";
  else
    PrintStatus(status, context.out);
  return 0;
}

int RunChain(const TParsedCommand& command, const TCommandContext& context) {
  if (command.arguments.size() != 1) throw EUsageError(std::string("chain: укажите действие: ") + kActions);
  const std::string& action = command.arguments.front();
  if (!command.Has("--db")) throw EUsageError("chain " + action + ": укажите базу данных (--db АДРЕС)");
  try {
    if (action == "publish") return Publish(command, context);
    if (action == "join") return Join(command, context);
    if (action == "status") return Status(command, context);
    if (action == "leave") return Leave(command, context);
  } catch (const EUsageError&) {
    throw;
  } catch (const Exception& e) {
    return FailCommand(context.err, e.Message());
  }
  throw EUsageError("chain: неизвестное действие \"" + TerminalText(action) + "\" (" + kActions + ")");
}

}  // namespace

const THostCommand kChainCommand{
    {"chain",
     "сеть станций: головной офис публикует настройки (publish), станция входит в сеть (join) и выходит из неё "
     "(leave), головной офис видит, где какая станция (status)",
     {DatabaseOption(),
      {"--head", "АДРЕС",
       "join: адрес базы головного офиса, как его видит сервер станции; leave: адрес для уборки там"},
      {"--name", "ИМЯ", "join: имя станции (по умолчанию имя компьютера)"},
      {"--station-address", "АДРЕС",
       "join: адрес базы станции, как его видит сервер головного офиса (по умолчанию --db)"},
      {"--json", "", "status: вывести одним объектом JSON"}},
     "publish|join|status|leave"},
    &RunChain};

}  // namespace selvo::host
