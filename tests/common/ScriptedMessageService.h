// A message service for tests: answers questions from a queue and records
// every message. A question is any box with more than an OK button; only
// questions take answers from the queue, a box with OK alone answers mrOk.
// A question with no answer queued fails the test (and is answered mrCancel),
// and so do answers still queued when the service goes: a question the test
// expected was never asked.
#pragma once

#include <deque>
#include <vector>

#include "platform/MessageService.h"

namespace selvo::test {

class ScriptedMessageService : public IMessageService {
 public:
  // Installs itself as the module's message service; restores the previous
  // one when destroyed.
  ScriptedMessageService();
  ~ScriptedMessageService() override;

  void Answer(TModalResult result) { answers_.push_back(result); }
  TModalResult Show(const TMessage& message) override;

  const std::vector<TMessage>& messages() const { return messages_; }
  std::size_t unusedAnswers() const { return answers_.size(); }

 private:
  std::deque<TModalResult> answers_;
  std::vector<TMessage> messages_;
  IMessageService* previous_;
};

}  // namespace selvo::test
