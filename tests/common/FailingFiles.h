// A disk that refuses: while a TFailingFiles object lives, the chosen step of
// the next `count` whole-file replaces (platform/FileIO.h) fails with
// `error`, as a full disk or a refused rename would. Header only.
#pragma once

#include <cerrno>
#include <string>

#include "platform/FileIO.h"

namespace selvo::test {

class TFailingFiles {
 public:
  explicit TFailingFiles(TFileStep step, int error = ENOSPC, int count = 1) {
    SetFileFaultHook([this, step, error](TFileStep now, const std::string&) {
      if (now != step || remaining_ == 0) return 0;
      --remaining_;
      ++failed_;
      return error;
    });
    remaining_ = count;
  }
  ~TFailingFiles() { SetFileFaultHook(nullptr); }
  TFailingFiles(const TFailingFiles&) = delete;
  TFailingFiles& operator=(const TFailingFiles&) = delete;

  // How many replaces were failed so far.
  int Failed() const { return failed_; }

 private:
  int remaining_ = 0;
  int failed_ = 0;
};

}  // namespace selvo::test
