#include "host/insight/Receipt.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>

#include "host/insight/Replay.h"
#include "host/journal/JournalFiles.h"
#include "host/journal/JournalReader.h"
#include "host/session/InProcessCalculation.h"
#include "host/shopdb/SettingsAtVersion.h"
#include "platform/DateUtils.h"

namespace selvo::host {
namespace {

std::string Place(const std::string& file, std::int64_t line) {
  return TerminalText(file) + ", строка " + std::to_string(line);
}

// The till's answer on the line; the reason when it is not one.
std::optional<TTillAnswer> EntryAnswer(const nlohmann::json& entry, std::string& reason) {
  const auto answer = entry.find("answer");
  if (answer == entry.end() || !answer->is_object()) {
    reason = "в записи нет ответа кассы (\"answer\" — не объект JSON)";
    return std::nullopt;
  }
  const auto sum = answer->find("sum");
  const auto percent = answer->find("discount_percent");
  const auto bans = answer->find("sale_bans");
  if (sum == answer->end() || !sum->is_number() || percent == answer->end() || !percent->is_number()) {
    reason = "в ответе кассы нет суммы или скидки числом (\"sum\", \"discount_percent\")";
    return std::nullopt;
  }
  TTillAnswer till;
  till.sum = sum->get<double>();
  till.discountPercent = percent->get<double>();
  if (bans == answer->end() || !bans->is_array()) {
    reason = "в ответе кассы нет списка запретов продажи (\"sale_bans\")";
    return std::nullopt;
  }
  for (const nlohmann::json& ban : *bans) {
    if (!ban.is_string()) {
      reason = "в ответе кассы запрет продажи — не текст";
      return std::nullopt;
    }
    till.saleBans.push_back(ban.get<std::string>());
  }
  return till;
}

// The settings version the line was computed under: a whole number from 1;
// the reason otherwise.
std::optional<std::int64_t> EntryVersion(const nlohmann::json& entry, std::string& reason) {
  const auto version = entry.find("settings_version");
  if (version == entry.end()) {
    reason =
        "в записи нет версии настроек (журнал записан службой, которая её ещё не указывала): "
        "по каким настройкам продажа рассчитана, неизвестно";
    return std::nullopt;
  }
  if (!version->is_number_integer() || version->get<std::int64_t>() < 0) {
    reason = "версия настроек в записи — не целое число от 0";
    return std::nullopt;
  }
  if (version->get<std::int64_t>() == 0) {
    reason =
        "продажа рассчитана по настройкам без версии (0: история настроек тогда не велась), "
        "их уже не восстановить";
    return std::nullopt;
  }
  return version->get<std::int64_t>();
}

// The till's clock when it computed the sale. The service fixes the moment
// of a sale sent without one from its clock just before computing it, and
// journals it to the millisecond the clock reads: that moment is the clock.
// A sale that names its own moment was computed at the service's clock all
// the same, which the line holds only as "at", in UTC to the second, taken
// just after: the local time of that second.
std::optional<double> TillClock(const nlohmann::json& entry, const TJournaledReceipt& receipt, std::string& reason) {
  if (!receipt.saleNamedItsMoment) return *receipt.sale.moment;
  const auto at = entry.find("at");
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char zone = 0, rest = 0;
  if (at == entry.end() || !at->is_string() ||
      std::sscanf(at->get_ref<const std::string&>().c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%c", &year, &month, &day, &hour,
                  &minute, &second, &zone, &rest) != 7 ||
      zone != 'Z' || !TryEncodeDate(year, month, day) || !TryEncodeTime(hour, minute, second, 0)) {
    reason =
        "продажа пришла со своим моментом, а когда касса её рассчитала (\"at\"), в записи не сказано: "
        "скидки по времени суток не восстановить";
    return std::nullopt;
  }
  std::tm utc{};
  utc.tm_year = year - 1900;
  utc.tm_mon = month - 1;
  utc.tm_mday = day;
  utc.tm_hour = hour;
  utc.tm_min = minute;
  utc.tm_sec = second;
  const std::time_t seconds = timegm(&utc);
  std::tm local{};
  localtime_r(&seconds, &local);
  return ComposeDateTime(EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
                         EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), 0));
}

TJournaledReceipt ReadReceipt(const nlohmann::json& entry, const std::string& saleId, const std::string& file,
                              std::int64_t line) {
  auto refuse = [&](const std::string& reason) {
    return EReceiptError("продажа " + saleId + " (" + Place(file, line) + "): " + reason);
  };
  std::string reason;
  std::optional<TSale> sale = EntrySaleAtItsMoment(entry, reason);
  if (!sale) throw refuse(reason);
  std::optional<TTillAnswer> answered = EntryAnswer(entry, reason);
  if (!answered) throw refuse(reason);
  const std::optional<std::int64_t> version = EntryVersion(entry, reason);
  if (!version) throw refuse(reason);
  TJournaledReceipt receipt;
  receipt.saleId = saleId;
  receipt.file = file;
  receipt.line = line;
  receipt.sale = std::move(*sale);
  receipt.moment = entry.at("moment").get<std::string>();
  receipt.settingsVersion = *version;
  receipt.answered = std::move(*answered);
  receipt.saleNamedItsMoment = entry.at("sale").contains("moment");
  const std::optional<double> clock = TillClock(entry, receipt, reason);
  if (!clock) throw refuse(reason);
  receipt.tillClock = *clock;
  return receipt;
}

}  // namespace

std::vector<std::string> ReceiptJournals(const std::vector<std::string>& named) {
  try {
    return ListJournalFiles(named, kMaxReceiptJournals, "укажите папку или файлы того времени, когда продана продажа");
  } catch (const EJournalFiles& e) {
    throw EReceiptError(e.Message());
  }
}

TJournaledReceipt FindJournaledSale(const std::vector<std::string>& journals, const std::string& saleId) {
  std::optional<nlohmann::json> found;
  std::string foundFile;
  std::int64_t foundLine = 0, linesRead = 0, linesSkipped = 0;
  for (const std::string& file : journals) {
    ReadJournal(
        file,
        [&](const TJournalLineRef& where, nlohmann::json& entry) {
          ++linesRead;
          if (EntrySaleId(entry) != saleId) return;
          // Identifiers are drawn at random, so two lines of one shows
          // a journal copied into another, or a forged line: which one is
          // the till's is not for this command to guess.
          if (found)
            throw EReceiptError("продажа " + saleId + " записана в журналах дважды: " + Place(foundFile, foundLine) +
                                " и " + Place(file, where.line) + "; какая запись верна, не определить");
          found = std::move(entry);
          foundFile = file;
          foundLine = where.line;
        },
        [&](TSkippedLine) {
          ++linesRead;
          ++linesSkipped;
        });
  }
  if (!found) {
    std::string message = "продажа " + saleId + " не найдена в журналах (файлов: " + std::to_string(journals.size()) +
                          ", строк: " + std::to_string(linesRead);
    if (linesSkipped > 0) message += ", из них не прочитано: " + std::to_string(linesSkipped);
    throw EReceiptError(message + ")");
  }
  return ReadReceipt(*found, saleId, foundFile, foundLine);
}

bool SameAnswer(const TTillAnswer& till, const TSaleAnswer& recomputed) {
  return till.sum == recomputed.sum && till.discountPercent == recomputed.discountPercent &&
         till.saleBans == recomputed.saleBans;
}

TReceipt RecomputeReceipt(const TJournaledReceipt& journaled, const std::string& database) {
  const std::unique_ptr<TShopDataModule> settings = LoadSettingsVersion(database, journaled.settingsVersion);
  TReceipt receipt;
  receipt.journaled = journaled;
  receipt.recomputed = CalculateSaleAt(LoadCalcSettings(*settings), journaled.sale, journaled.tillClock);
  receipt.equal = SameAnswer(journaled.answered, receipt.recomputed);
  return receipt;
}

}  // namespace selvo::host
