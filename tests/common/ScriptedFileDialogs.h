// File choosers for tests: answers from a queue (a file name or a cancel)
// and records every request. A chooser with no answer queued fails the test.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/QtFileDialogs.h"

namespace selvo::test {

class ScriptedFileDialogs {
 public:
  // Installs itself as the file dialog hook; puts the previous hook back when destroyed.
  ScriptedFileDialogs()
      : previous_(SetFileDialogHook([this](const TFileDialogRequest& request) { return Answer(request); })) {}
  ~ScriptedFileDialogs() {
    SetFileDialogHook(std::move(previous_));
    if (!answers_.empty()) ADD_FAILURE() << answers_.size() << " queued file name(s) never asked for";
  }
  ScriptedFileDialogs(const ScriptedFileDialogs&) = delete;
  ScriptedFileDialogs& operator=(const ScriptedFileDialogs&) = delete;

  void Choose(std::string fileName) { answers_.emplace_back(std::move(fileName)); }
  void Cancel() { answers_.emplace_back(std::nullopt); }

  const std::vector<TFileDialogRequest>& requests() const { return requests_; }

 private:
  std::optional<std::string> Answer(const TFileDialogRequest& request) {
    requests_.push_back(request);
    if (answers_.empty()) {
      ADD_FAILURE() << "unexpected file dialog: " << request.title;
      return std::nullopt;
    }
    std::optional<std::string> answer = std::move(answers_.front());
    answers_.pop_front();
    return answer;
  }

  std::deque<std::optional<std::string>> answers_;
  std::vector<TFileDialogRequest> requests_;
  TFileDialogHook previous_;
};

}  // namespace selvo::test
