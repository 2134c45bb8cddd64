#include "tests/common/BackOffice.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "discounts/SelvoDiscountItemsU.h"
#include "editor/EditDiscountU.h"
#include "host/session/HostSession.h"
#include "state/SelvoModuleU.h"

namespace selvo::test {

TBackOffice::TBackOffice(const std::string& database) : dm(database) {
  const host::TLastIdentifiers ids = host::ReadLastIdentifiers(dm);
  host::SetCallbackDataModule(&dm);
  TModuleState& m = Module();
  m.DataModule = &dm;
  m.TransactionFunc = &host::TransactionCallback;
  m.LastPaymentID = ids.payment;
  m.LastDiscountID = ids.discount;
  m.LastDscGoodsID = ids.dscGoods;
  m.LastExclusionsID = ids.exclusions;
}

TBackOffice::~TBackOffice() {
  Module().DataModule = nullptr;
  Module().TransactionFunc = nullptr;
  host::SetCallbackDataModule(nullptr);
}

TSaveResult TBackOffice::Save() {
  // A host command run in this process in between connects its own.
  host::SetCallbackDataModule(&dm);
  Module().DataModule = &dm;
  return SaveEditorChanges(Module().TransactionFunc);
}

void TBackOffice::AddCard(const std::string& name, std::int32_t article) {
  TDiscountItem card;
  card.SetDiscountName(name);
  card.PayID = 2;
  card.DiscountTarget = 1;
  card.DecodeThresholdList("100=5%;");
  card.Goods.Add(std::to_string(article));
  card.PeriodBegin.push_back(46000.0);
  card.PeriodEnd.push_back(46100.0);
  card.PeriodEnabled.push_back(true);
  SaveCard(card, false, DiscountList(), {SelvoDiscountDataSet(), DiscountGoodsDataSet(), ExclusionsDataSet()});
}

namespace {

TDataSet& LocateCard(std::int32_t card) {
  TDataSet& cards = SelvoDiscountDataSet();
  if (!cards.Locate("td_ID", {TVariant(std::int64_t{card})}, loNone))
    throw std::runtime_error("card " + std::to_string(card) + " is not loaded");
  return cards;
}

}  // namespace

void TBackOffice::SetThreshold(std::int32_t card, const std::string& threshold) {
  TDataSet& cards = LocateCard(card);
  cards.Edit();
  cards.FieldByName("td_Threshold").SetAsString(threshold);
  cards.Post();
}

void TBackOffice::DeleteCard(std::int32_t card) { LocateCard(card).Delete(); }

const char* SaveResultName(TSaveResult result) {
  switch (result) {
    case TSaveResult::NothingToSave: return "nothing to save";
    case TSaveResult::Refused: return "refused";
    case TSaveResult::EntriesRefused: return "entries refused";
    case TSaveResult::ChangedElsewhere: return "changed elsewhere";
    case TSaveResult::CommitRefused: return "commit refused";
    case TSaveResult::Saved: return "saved";
  }
  return "?";
}

// ---------------------------------------------------------------------------
// Another computer

namespace {

void WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote <= 0) return;
    done += static_cast<std::size_t>(wrote);
  }
}

[[noreturn]] void RunOtherComputer(const std::string& database, const std::vector<TOtherComputer::TStep>& steps,
                                   int commands, int answers) {
  auto answer = [answers](std::string text) {
    for (char& c : text)
      if (c == '\n') c = ' ';
    WriteAll(answers, text + "\n");
  };
  try {
    TBackOffice office(database);
    answer("loaded");
    for (const TOtherComputer::TStep& step : steps) {
      char go = 0;
      if (read(commands, &go, 1) != 1) _exit(0);  // the test is gone
      try {
        answer(step(office));
      } catch (const std::exception& e) {
        answer(std::string("error: ") + e.what());
      }
    }
  } catch (const std::exception& e) {
    answer(std::string("error: ") + e.what());
  }
  _exit(0);
}

}  // namespace

TOtherComputer::TOtherComputer(const std::string& database, std::vector<TStep> steps) {
  int commands[2], answers[2];
  if (pipe(commands) != 0 || pipe(answers) != 0) throw std::runtime_error("pipe failed");
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    close(commands[1]);
    close(answers[0]);
    RunOtherComputer(database, steps, commands[0], answers[1]);
  }
  close(commands[0]);
  close(answers[1]);
  toChild_ = commands[1];
  fromChild_ = answers[0];
  const std::string loaded = ReadAnswer();
  if (loaded != "loaded") throw std::runtime_error("the other computer did not load the shop: " + loaded);
}

TOtherComputer::~TOtherComputer() {
  close(toChild_);  // a process still waiting for a step ends
  close(fromChild_);
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  pollfd ended{pidfd, POLLIN, 0};
  poll(&ended, 1, 60000);
  close(pidfd);
  if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::string TOtherComputer::Next() {
  WriteAll(toChild_, "x");
  return ReadAnswer();
}

std::string TOtherComputer::ReadAnswer() {
  std::string line;
  for (;;) {
    pollfd p{fromChild_, POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0) throw std::runtime_error("the other computer does not answer");
    char c = 0;
    if (read(fromChild_, &c, 1) != 1) throw std::runtime_error("the other computer has ended");
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace selvo::test
