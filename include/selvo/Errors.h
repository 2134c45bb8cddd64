// The module's errors: one base class carrying the operator-facing message,
// one class per kind of failure, and the one way an operation passes an error
// on with its own name in front ("TSafeIniFile.ReadString -> ...").
//
// The host sees these classes too (the host-facing header includes this one):
// every failure of an exported function reaches it as one of them.
#pragma once

#ifndef __cplusplus
#error "selvo/Errors.h is a C++ header (classes, namespaces): include it from C++20, not from C"
#endif

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

// What a database failure says about the database, for callers that must act
// on it rather than show it: Unreachable - the file or server cannot be
// reached or the connection was lost (trying again later may work);
// Conflict - another user holds what was needed (a lock, a serialization
// failure); Constraint - the data broke a rule of the table (a unique key, a
// NOT NULL column); Corrupt - the database is damaged or not a database;
// Other - anything else (a statement the database refused, a missing field,
// an operation in the wrong state).
enum class TDatabaseErrorKind : unsigned char { Other, Unreachable, Conflict, Constraint, Corrupt };

// A dataset or database failure. Its kind stays when the message gets
// words put in front of it (SetMessage, PrefixOperation).
class EDatabaseError : public Exception {
 public:
  explicit EDatabaseError(std::string message, TDatabaseErrorKind kind = TDatabaseErrorKind::Other)
      : Exception(std::move(message)), kind_(kind) {}
  TDatabaseErrorKind Kind() const noexcept { return kind_; }

 private:
  TDatabaseErrorKind kind_;
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
