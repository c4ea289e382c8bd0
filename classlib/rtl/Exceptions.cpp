#include "classlib/rtl/Exceptions.h"

namespace cl {

void ListIndexError(long long index) {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

void ListCapacityError(long long capacity) {
  throw EListError("List capacity out of bounds (" + std::to_string(capacity) + ")");
}

void ListCountError(long long count) {
  throw EListError("List count out of bounds (" + std::to_string(count) + ")");
}

void Abort() { throw EAbort("Operation aborted"); }

}  // namespace cl
