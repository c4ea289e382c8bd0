#include "engine/storage/core/ETesseraEngineError.h"

namespace tessera {

ETesseraEngineError::ETesseraEngineError(uint16_t code, std::string text)
    : cl::EDatabaseError("Tessera Engine Error # " + std::to_string(code) + " " + text) {
  errors_.emplace_back(code, std::move(text));
}

const TTesseraError& ETesseraEngineError::GetError(int index) const {
  if (index < 0 || index >= ErrorCount()) cl::ListIndexError(index);
  return errors_[static_cast<size_t>(index)];
}

}  // namespace tessera
