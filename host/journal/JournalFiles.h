// The journal files an operator names: files (and pipes) as they are, a
// folder standing for its regular files in the order of their names (a service's journal and
// the ones moved away beside it). Shared by the commands that read journals.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "selvo/Errors.h"

namespace selvo::host {

// A name that is neither a file nor a folder, a folder that cannot be read,
// or more files than the command takes. The message is for the operator.
class EJournalFiles : public Exception {
  using Exception::Exception;
};

// The files of `named` in order, at most `maxFiles` of them; past that,
// EJournalFiles saying how many were too many followed by `advice` (what
// the operator may name instead).
std::vector<std::string> ListJournalFiles(const std::vector<std::string>& named, std::size_t maxFiles,
                                          const std::string& advice);

}  // namespace selvo::host
