// The one exception class that carries an engine failure to the layers above.
//
// It lives with the engine core because the engine's raise path (RaiseEngineError, in
// EngineErrors.h) builds it; it knows nothing of the engine itself: whoever raises it passes the
// code and the finished text.  Callers that only need the code read GetError(0).ErrorCode();
// callers that show the failure use the message, "Tessera Engine Error # <code> <text>".
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "classlib/rtl/Exceptions.h"

namespace tessera {

// One entry of an engine exception's error list: the engine code and its text.
class TTesseraError {
 public:
  TTesseraError(int error_code, std::string message)
      : error_code_(error_code), message_(std::move(message)) {}

  int ErrorCode() const { return error_code_; }
  const std::string& Message() const { return message_; }

 private:
  int error_code_;
  std::string message_;
};

// An engine failure.  The error list always holds exactly one item, whose code is the one in the
// message.  The items are values owned by the exception, so copies made while it propagates
// and its destruction need no care.
class ETesseraEngineError : public cl::EDatabaseError {
 public:
  // The message is "Tessera Engine Error # " + code + " " + text; the one error item holds the
  // code and the text.
  ETesseraEngineError(uint16_t code, std::string text);

  int ErrorCount() const { return static_cast<int>(errors_.size()); }

  // Item `index` of the error list; an index outside the list raises the list-index error.
  const TTesseraError& GetError(int index) const;

 private:
  std::vector<TTesseraError> errors_;
};

}  // namespace tessera
