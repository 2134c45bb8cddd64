// Back-office computers on one shop database, for the tests of saves among
// several of them: this process as one computer (the module connected to its
// own data module as the host connects it, saving with the editor's own
// save), and other computers as processes of their own, each running its
// steps when the test says so.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "editor/SelvoPaymentsU.h"
#include "host/shopdb/ShopDataModule.h"

namespace selvo::test {

// The module on its own data module over `database`, with the last
// identifiers read from it; the module state must be installed.
class TBackOffice {
 public:
  explicit TBackOffice(const std::string& database);
  ~TBackOffice();
  TBackOffice(const TBackOffice&) = delete;
  TBackOffice& operator=(const TBackOffice&) = delete;

  // The editor's save of everything pending, on this computer's data module.
  TSaveResult Save();
  // A new card named `name` as the editor adds it, numbered by the module,
  // with one goods target (article) and one period.
  void AddCard(const std::string& name, std::int32_t article);
  void SetThreshold(std::int32_t card, const std::string& threshold);
  void DeleteCard(std::int32_t card);

  host::TShopDataModule dm;
};

// Another computer: a process that opens the shop as a TBackOffice and then
// runs one step each time Next is called, answering with the step's text
// (an exception's message, "error: ...", when the step raised).
class TOtherComputer {
 public:
  using TStep = std::function<std::string(TBackOffice&)>;
  // Returns once the other computer has loaded the shop.
  TOtherComputer(const std::string& database, std::vector<TStep> steps);
  ~TOtherComputer();
  TOtherComputer(const TOtherComputer&) = delete;
  TOtherComputer& operator=(const TOtherComputer&) = delete;

  // Runs the next step and answers its text; raises when the process does
  // not answer within 60 s.
  std::string Next();

 private:
  std::string ReadAnswer();

  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
};

// A save's result as test messages show it.
const char* SaveResultName(TSaveResult result);

}  // namespace selvo::test
