#include "host/insight/Receipt.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "host/insight/Replay.h"
#include "host/journal/JournalReader.h"
#include "host/session/HostSession.h"
#include "host/session/InProcessCalculation.h"
#include "host/shopdb/SettingsAtVersion.h"

namespace selvo::host {
namespace {

namespace fs = std::filesystem;

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
    reason = "в записи нет версии настроек (журнал записан службой, которая её ещё не указывала): "
             "по каким настройкам продажа рассчитана, неизвестно";
    return std::nullopt;
  }
  if (!version->is_number_integer() || version->get<std::int64_t>() < 0) {
    reason = "версия настроек в записи — не целое число от 0";
    return std::nullopt;
  }
  if (version->get<std::int64_t>() == 0) {
    reason = "продажа рассчитана по настройкам без версии (0: история настроек тогда не велась), "
             "их уже не восстановить";
    return std::nullopt;
  }
  return version->get<std::int64_t>();
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
  return receipt;
}

}  // namespace

std::vector<std::string> ReceiptJournals(const std::vector<std::string>& named) {
  std::vector<std::string> files;
  auto add = [&](std::string file) {
    if (files.size() >= kMaxReceiptJournals)
      throw EReceiptError("журналов больше " + std::to_string(kMaxReceiptJournals) +
                          ": укажите папку или файлы того времени, когда продана продажа");
    files.push_back(std::move(file));
  };
  for (const std::string& name : named) {
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (fs::is_regular_file(status)) {
      add(name);
    } else if (fs::is_directory(status)) {
      std::vector<std::string> inside;
      for (fs::directory_iterator it(name, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) inside.push_back(it->path().string());
        if (inside.size() > kMaxReceiptJournals) break;
      }
      if (error) throw EReceiptError("не удалось прочитать папку журналов " + InputExcerpt(name, 200));
      std::sort(inside.begin(), inside.end());
      for (std::string& file : inside) add(std::move(file));
    } else {
      throw EReceiptError("журнал " + InputExcerpt(name, 200) + " не найден");
    }
  }
  return files;
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

TReceipt RecomputeReceipt(const TJournaledReceipt& journaled, const std::string& database,
                          const TModuleLocation& module) {
  const std::unique_ptr<TShopDataModule> settings = LoadSettingsVersion(database, journaled.settingsVersion);
  TModuleLibrary library(FindModuleFile(module.fileName, module.buildDir));
  const TModuleExports& exports = library.Exports();
  TConnectedModule connection(exports, *settings);
  exports.FillPaymentsList();
  exports.FillDiscountList();
  TReceipt receipt;
  receipt.journaled = journaled;
  receipt.recomputed = CalculateSale(exports, LoadCalcSettings(*settings), journaled.sale, true);
  receipt.equal = SameAnswer(journaled.answered, receipt.recomputed);
  return receipt;
}

}  // namespace selvo::host
