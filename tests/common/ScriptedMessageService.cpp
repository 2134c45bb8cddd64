#include "tests/common/ScriptedMessageService.h"

#include <gtest/gtest.h>

namespace selvo::test {

ScriptedMessageService::ScriptedMessageService() : previous_(&Messages()) { SetMessageService(this); }

ScriptedMessageService::~ScriptedMessageService() {
  SetMessageService(previous_);
  if (!answers_.empty()) ADD_FAILURE() << answers_.size() << " queued answer(s) never asked for";
}

TModalResult ScriptedMessageService::Show(const TMessage& message) {
  messages_.push_back(message);
  if (message.buttons == TMsgButtons::OK) return TModalResult::mrOk;
  if (answers_.empty()) {
    ADD_FAILURE() << "unexpected question: " << message.caption << ": " << message.text;
    return TModalResult::mrCancel;
  }
  const TModalResult answer = answers_.front();
  answers_.pop_front();
  return answer;
}

}  // namespace selvo::test
