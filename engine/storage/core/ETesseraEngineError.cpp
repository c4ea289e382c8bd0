#include "engine/storage/core/ETesseraEngineError.h"

#include "engine/storage/core/EngineErrors.h"

namespace tessera {

ETesseraEngineError::ETesseraEngineError(uint16_t code) : cl::EDatabaseError(std::string()) {
  std::string text = GetEngineErrorText(code);
  SetMessage("Tessera Engine Error # " + std::to_string(code) + " " + text);
  errors_.emplace_back(code, std::move(text));
}

const TTesseraError& ETesseraEngineError::GetError(int index) const {
  if (index < 0 || index >= ErrorCount()) cl::ListIndexError(index);
  return errors_[static_cast<size_t>(index)];
}

void TesseraError(uint16_t code) { throw ETesseraEngineError(code); }

void CheckEngineResult(uint16_t code) {
  if (code != 0) TesseraError(code);
}

bool CheckEngineStatus(uint16_t code) {
  if (code != 0) TesseraError(code);
  return true;
}

}  // namespace tessera
