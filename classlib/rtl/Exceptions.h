// The class library's exception hierarchy.
//
// Messages are Windows-1252 byte strings, as every text inside the system; convert them with
// Cp1252ToUtf8 before they reach a terminal or a window.  `what()` returns the raw message.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace cl {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  ~Exception() override = default;

  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// Misuse of a list (index, capacity or count out of range): a programming fault.
class EListError : public Exception {
 public:
  using Exception::Exception;
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// The silent exception: cancels an operation that a dialog has already explained.  Handlers
// report every exception except this one.
class EAbort : public Exception {
 public:
  using Exception::Exception;
};

// The list errors with the class library's texts, e.g. "List index out of bounds (5)".
[[noreturn]] void ListIndexError(long long index);
[[noreturn]] void ListCapacityError(long long capacity);
[[noreturn]] void ListCountError(long long count);

// Raises the silent exception.
[[noreturn]] void Abort();

}  // namespace cl
