// The module's errors: one base class carrying the operator-facing message,
// one class per kind of failure, and the one way an operation passes an error
// on with its own name in front ("TSafeIniFile.ReadString -> ...").
//
// The host sees these classes too (the host-facing header includes this one):
// every failure of an exported function reaches it as one of them.
#pragma once

#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace selvo {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

// A dataset failure: a field that is not there, an operation in the wrong state.
class EDatabaseError : public Exception {
  using Exception::Exception;
};
// A text or value that does not convert to the type asked for.
class EConvertError : public Exception {
  using Exception::Exception;
};
// A position outside a list, or a list that cannot grow any further.
class EListError : public Exception {
  using Exception::Exception;
};
// A violated precondition of the module's own code.
class EAssertionFailed : public Exception {
  using Exception::Exception;
};
// A sale record that the calculation cannot take (short line sequences,
// numbers that are not finite).
class EInvalidSale : public Exception {
  using Exception::Exception;
};
// A function of the module that this build does not provide.
class ENotAvailable : public Exception {
  using Exception::Exception;
};

// Puts "operation -> " in front of the error's message; the class is kept.
inline void PrefixOperation(Exception& error, std::string_view operation) {
  error.SetMessage(std::string(operation) + " -> " + error.Message());
}

// Runs work. A module error leaving it gets the operation's name in front of
// its message and keeps its class; any other standard error but a failed
// allocation becomes an Exception with the same prefix, so callers see one
// kind of failure.
template <class Work>
auto WithOperationName(std::string_view operation, Work&& work) -> decltype(work()) {
  try {
    return work();
  } catch (Exception& e) {
    PrefixOperation(e, operation);
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw Exception(std::string(operation) + " -> " + e.what());
  }
}

}  // namespace selvo
