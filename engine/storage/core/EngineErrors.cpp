#include "engine/storage/core/EngineErrors.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/ETesseraEngineError.h"

namespace tessera {
namespace {

struct ErrorText {
  uint16_t code;
  // Literal text with the names put in where {file}, {field}, {index} and {sql} stand.
  std::string_view text;
};

// Every engine code with its text, in ascending order of code.  Callers above the engine show
// these texts and compare against these numbers: both are a contract.
// clang-format off
constexpr ErrorText kErrorTexts[] = {
    {8705, "Beginning of file encountered in data file {file}"},
    {8706, "End of file encountered in data file {file}"},
    {8708, "Key not found in index {index} of data file {file}"},
    {8710, "Record not found in data file {file}"},
    {8711, "End of blob data in data file {file} reached prematurely"},
    {8961, "Header information corrupt in data file {file}"},
    {8962, "Data record buffers corrupt in data file {file}"},
    {8963, "BLOB block buffers corrupt in data file {file}"},
    {8965, "Index page buffers corrupt in data file {file}"},
    {9217, "Error reading from data file {file}"},
    {9218, "Error writing to data file {file}"},
    {9220, "Cannot delete data file {file}"},
    {9221, "Error accessing file header information for data file {file}"},
    {9477, "Maximum record size exceeded in data file {file}"},
    {9479, "The data file {file} is full and cannot contain any more data"},
    {9482, "Too many filters defined for data file {file}"},
    {9487, "Maximum or minimum limits on number of indexes or fields in an index exceeded in data file {file}"},
    {9492, "Maximum or minimum limits on number of fields or field size exceeded in data file {file}"},
    {9494, "Too many blobs opened in data file {file}"},
    {9498, "Too many blob fields or invalid blob block size specified for data file {file}"},
    {9729, "Duplicate key found in index {index} of data file {file}"},
    {9730, "The value for the field {field} in data file {file} is below the minimum allowable value"},
    {9731, "The value for the field {field} in data file {file} is above the maximum allowable value"},
    {9732, "A value must be provided for the field {field} in data file {file}"},
    {9985, "Invalid field number or name {field} specified for data file {file}"},
    {9993, "A primary index is already defined for data file {file} and cannot be added again"},
    {9998, "Invalid blob offset into data file {file} specified"},
    {10000, "Invalid field definition specified for the field {field} in data file {file}"},
    {10006, "Invalid default, min or max validity check, or expression specified for {field} in data file {file}"},
    {10010, "The secondary index name is missing or not specified for data file {file}"},
    // No blank before "is": callers match this text as it stands.
    {10015, "Password provided for data file {file}is invalid"},
    {10022, "Invalid secondary index name {index} specified for data file {file}"},
    {10023, "Invalid field number {field} specified in index {index} for data file {file}"},
    {10026, "Invalid key size specified in index {index} for data file {file}"},
    {10027, "The secondary index {index} already exists for data file {file}"},
    {10029, "Invalid blob length in data file {file}"},
    {10030, "Invalid blob handle for data file {file} specified"},
    {10031, "Data file {file} is already in use"},
    {10038, "Invalid or duplicate field name {field} specified for data file {file}"},
    {10050, "Invalid filter handle specified for data file {file}"},
    {10051, "Invalid filter expression specified for data file {file}"},
    {10055, "The primary index cannot be removed from data file {file}"},
    {10241, "The data file {file} is already locked by another user"},
    {10242, "Cannot unlock data file or record in data file {file}"},
    {10249, "General lock failure with data file {file}"},
    {10253, "Data file {file} must be opened exclusively"},
    {10258, "Record in data file {file} is in use by another user"},
    {10498, "Insufficient rights to data file {file}, a password is required"},
    {10753, "Invalid blob field {field} specified for data file {file}"},
    {10758, "Tessera engine not initialized"},
    {11010, "Invalid path or file name for data file {file}"},
    {11012, "Too many files open while attempting to open data file {file}"},
    {11013, "Access denied to data file {file}"},
    {11014, "Invalid file handle for data file {file}"},
    {11016, "There is insufficient operating system memory available for the current operation"},
    {11017, "Invalid length for in-memory data file {file}"},
    {11023, "Access denied to logical operating system device for data file {file}"},
    {11025, "Data file {file} has been moved"},
    {11047, "An unknown operating system error occurred with data file {file}"},
    {11949, "SQL - {sql}"},
    {12035, "Data file {file} is not the correct version"},
    {12292, "Invalid field type specified for index {index} in data file {file}"},
    {15878, "The language driver for data file {file} is not available or installed"},
};
// clang-format on
constexpr std::string_view kUnknownErrorText = "Unknown error occurred with data file {file}";

constexpr bool Ascending() {
  for (size_t i = 1; i < std::size(kErrorTexts); ++i) {
    if (kErrorTexts[i - 1].code >= kErrorTexts[i].code) return false;
  }
  return true;
}
static_assert(Ascending(), "one text per code, in ascending order (the lookup bisects)");

constexpr bool HasText(uint16_t code) {
  return std::ranges::any_of(kErrorTexts, [code](const ErrorText& e) { return e.code == code; });
}

// Every named code of EngineErrors.h, so that a mistyped constant or a code without a text
// stops the build.
// clang-format off
constexpr uint16_t kNamedCodes[] = {
    kErrBeginningOfFile, kErrEndOfFile, kErrKeyNotFound, kErrRecordNotFound, kErrEndOfBlob,
    kErrHeaderCorrupt, kErrRecordBufferCorrupt, kErrBlobBufferCorrupt, kErrIndexPageCorrupt,
    kErrReadFailure, kErrWriteFailure, kErrCannotDelete, kErrHeaderAccess, kErrRecordSizeExceeded,
    kErrDataFileFull, kErrTooManyFilters, kErrIndexLimits, kErrFieldLimits, kErrTooManyBlobsOpen,
    kErrInvalidBlobBlockSize, kErrKeyViolation, kErrBelowMinimum, kErrAboveMaximum,
    kErrRequiredField, kErrInvalidField, kErrPrimaryIndexExists, kErrInvalidBlobOffset,
    kErrInvalidFieldDefinition, kErrInvalidValidityCheck, kErrIndexNameMissing, kErrInvalidPassword,
    kErrInvalidIndexName, kErrInvalidIndexField, kErrInvalidKeySize, kErrIndexExists,
    kErrInvalidBlobLength, kErrInvalidBlobHandle, kErrFileInUse, kErrInvalidFieldName,
    kErrInvalidFilterHandle, kErrInvalidFilterExpression, kErrPrimaryIndexRemoval, kErrFileLocked,
    kErrCannotUnlock, kErrLockFailure, kErrNeedExclusive, kErrRecordLocked, kErrPasswordRequired,
    kErrInvalidBlobField, kErrNotInitialized, kErrInvalidPath, kErrTooManyOpenFiles,
    kErrAccessDenied, kErrInvalidFileHandle, kErrOutOfMemory, kErrInvalidMemoryFileLength,
    kErrDeviceAccessDenied, kErrFileMoved, kErrUnknownOSError, kErrSql, kErrWrongVersion,
    kErrInvalidIndexFieldType, kErrLanguageDriverMissing,
};
// clang-format on
static_assert(std::size(kNamedCodes) == std::size(kErrorTexts), "a named code per text");
static_assert(std::ranges::all_of(kNamedCodes, HasText), "a text per named code");

// Where the current session keeps the last error's names; nullptr while none is current.
TEngineErrorContext* g_current_context = nullptr;

std::string_view TemplateOf(uint16_t code) {
  const auto* entry = std::ranges::lower_bound(kErrorTexts, code, {}, &ErrorText::code);
  if (entry == std::end(kErrorTexts) || entry->code != code) return kUnknownErrorText;
  return entry->text;
}

// The text of `code` with the names of `context` put in, cut to 127 characters.  Only the
// template is searched for the markers: a name that happens to contain one stays as it is.
std::string FormatErrorText(uint16_t code, const TEngineErrorContext& context) {
  struct Marker {
    std::string_view marker;
    const std::string& name;
  };
  const Marker markers[] = {{"{file}", context.data_file},
                            {"{field}", context.field},
                            {"{index}", context.index},
                            {"{sql}", context.sql}};
  std::string_view rest = TemplateOf(code);
  std::string text;
  while (!rest.empty()) {
    const size_t open = rest.find('{');
    text.append(rest.substr(0, open));
    if (open == std::string_view::npos) break;
    rest.remove_prefix(open);
    const Marker* found = std::ranges::find_if(
        markers, [rest](const Marker& m) { return rest.starts_with(m.marker); });
    if (found == std::end(markers)) {
      text.push_back(rest.front());
      rest.remove_prefix(1);
    } else {
      text.append(found->name);
      rest.remove_prefix(found->marker.size());
    }
  }
  if (text.size() > kMaxErrorTextLength) text.resize(kMaxErrorTextLength);
  return text;
}

const TEngineErrorContext& CurrentContext() {
  // Before the engine starts there is no session to read: the names are simply empty, so the
  // real error is reported instead of a second "not initialized" one.
  static const TEngineErrorContext kNone;
  return g_current_context != nullptr ? *g_current_context : kNone;
}

}  // namespace

void RaiseEngineError(uint16_t code, std::string_view data_file, std::string_view field,
                      std::string_view index, std::string_view sql) {
  TEngineErrorContext context;
  // Without a current session (before the engine starts) the texts name nothing; 10758 names
  // nothing either and leaves the last error's names in the session.
  if (g_current_context != nullptr && code != kErrNotInitialized) {
    context = TEngineErrorContext{code, cl::ToShort(data_file), cl::ToShort(field),
                                  cl::ToShort(index), cl::ToShort(sql)};
    *g_current_context = context;
  }
  throw ETesseraEngineError(code, FormatErrorText(code, context));
}

void TesseraError(uint16_t code) {
  throw ETesseraEngineError(code, FormatErrorText(code, CurrentContext()));
}

void CheckEngineResult(uint16_t code) {
  if (code != 0) TesseraError(code);
}

bool CheckEngineStatus(uint16_t code) {
  if (code != 0) TesseraError(code);
  return true;
}

void SetErrorContext(uint16_t code, std::string_view data_file, std::string_view field,
                     std::string_view index, std::string_view sql) {
  if (code == kErrNotInitialized || g_current_context == nullptr) return;
  *g_current_context = TEngineErrorContext{code, cl::ToShort(data_file), cl::ToShort(field),
                                           cl::ToShort(index), cl::ToShort(sql)};
}

void ClearErrorContext() {
  if (g_current_context != nullptr) *g_current_context = TEngineErrorContext{};
}

std::string GetEngineErrorText(uint16_t code) { return FormatErrorText(code, CurrentContext()); }

uint16_t MapOSError(uint32_t win32_error) {
  switch (win32_error) {
    case 2:  // file not found
    case 3:  // path not found
      return kErrInvalidPath;
    case 4:  // too many open files
      return kErrTooManyOpenFiles;
    case 5:   // access denied
    case 32:  // sharing violation
    case 65:  // network access denied
      return kErrAccessDenied;
    case 6:  // invalid handle
      return kErrInvalidFileHandle;
    case 8:  // not enough memory
      return kErrOutOfMemory;
    case 15:  // invalid drive
      return kErrDeviceAccessDenied;
    case 17:  // not the same device
      return kErrFileMoved;
    default:
      return kErrUnknownOSError;
  }
}

void SetCurrentErrorContext(TEngineErrorContext* context) { g_current_context = context; }

}  // namespace tessera
