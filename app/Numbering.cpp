#include "app/Numbering.h"

#include "app/RetryClock.h"
#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Variant.h"
#include "components/data/Helpers.h"

namespace mirvel {

namespace {

constexpr const char* kNoNumberText =
    "Affectation d'un num\xE9ro impossible, r\xE9\xE9ssayer plus tard";

// The counter's key: the name in upper case, cut before its first ".".
std::string CounterKey(const std::string& table_name) {
  return cl::UpperCase(table_name.substr(0, table_name.find('.')));
}

void TryOpen(tessera::TTesseraTable& table) {
  try {
    table.Open();
  } catch (const std::exception&) {
    // Held elsewhere (or momentarily unreachable): the caller looks at Active and tries again.
  }
}

// Closes `table` and gives it back its Exclusive setting; on an error path, where the error
// being passed on matters more than one from the close.
void Restore(tessera::TTesseraTable& table, bool exclusive, bool quietly) {
  if (quietly) {
    try {
      table.Close();
    } catch (const std::exception&) {
      // The error already on its way says what went wrong; the handle is gone either way.
    }
  } else {
    table.Close();
  }
  table.SetExclusive(exclusive);
}

}  // namespace

void OpenWithRetry(tessera::TTesseraTable& table) {
  const uint64_t start = RetryTicks();
  TryOpen(table);
  while (!table.Active() && RetryTicks() - start < kOpenRetryLimit) {
    RetrySleep(kOpenRetryInterval);
    TryOpen(table);
  }
}

int32_t NextNumber(tessera::TTesseraTable& numbers, const std::string& table_name) {
  const bool saved = numbers.Exclusive();
  if (numbers.Active()) numbers.Close();
  numbers.SetExclusive(true);
  const std::string key = CounterKey(table_name);
  int32_t result = 0;
  try {
    OpenWithRetry(numbers);
    if (!numbers.Active()) throw comp::ENextNumberError(kNoNumberText);
    if (numbers.FindKey({cl::Variant(key)})) {
      numbers.Edit();
      result = numbers.FieldByName("Numero")->AsInteger() + 1;
      numbers.FieldByName("Numero")->SetAsInteger(result);
    } else {
      numbers.Append();
      numbers.FieldByName("NomTable")->SetAsString(key);
      numbers.FieldByName("Numero")->SetAsInteger(1);
      result = 1;
    }
    if (numbers.State() == cl::dsEdit || numbers.State() == cl::dsInsert) numbers.Post();
    numbers.FlushBuffers();
  } catch (...) {
    Restore(numbers, saved, true);
    throw;
  }
  Restore(numbers, saved, false);
  return result;
}

void SetNextNumber(tessera::TTesseraTable& numbers, tessera::TTesseraTable& data_set,
                   const std::string& field_name) {
  if (data_set.State() != cl::dsInsert) return;
  cl::TField* field = data_set.FieldByName(field_name);
  if (!field->IsNull()) return;
  field->SetAsInteger(NextNumber(numbers, data_set.TableName()));
}

}  // namespace mirvel
