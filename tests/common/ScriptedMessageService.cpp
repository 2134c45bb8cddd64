#include "tests/common/ScriptedMessageService.h"

#include <gtest/gtest.h>

namespace selvo::test {

ScriptedMessageService::ScriptedMessageService() : previous_(&Messages()) { SetMessageService(this); }

ScriptedMessageService::~ScriptedMessageService() {
  SetMessageService(previous_);
}

TModalResult ScriptedMessageService::Show(const TMessage& message) {
  messages_.push_back(message);
  if (!answers_.empty()) {
    TModalResult answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  if (message.buttons != TMsgButtons::OK) {
    ADD_FAILURE() << "unexpected question: " << message.caption << ": " << message.text;
    return TModalResult::mrCancel;
  }
  return TModalResult::mrOk;
}

}  // namespace selvo::test
