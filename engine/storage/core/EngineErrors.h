// The engine's single raise path and its error codes.
//
// An engine code is a u16: a category in the high byte and a number in the low byte
// (category * 256 + number).  Callers above the engine compare against the decimal values
// (9729 duplicate key, 10258 record in use), so the numbers and their English texts are a
// contract and never change.  Lower layers that are expected to fail (lock attempts, cursor
// moves) return a code and let their caller decide; everything else raises through
// RaiseEngineError, which builds the text from the names it is given (table, field, index, SQL
// text) and throws ETesseraEngineError with code and text.  The current engine session keeps a
// copy of those names only so that they can be asked for afterwards.
//
// This unit sits below the session: the session layer tells it where the current session keeps
// its copy (SetCurrentErrorContext), so that everything the session owns can raise without the
// two including each other.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessera {

// 0x22 position and search
inline constexpr uint16_t kErrBeginningOfFile = 8705;
inline constexpr uint16_t kErrEndOfFile = 8706;
inline constexpr uint16_t kErrKeyNotFound = 8708;
inline constexpr uint16_t kErrRecordNotFound = 8710;
inline constexpr uint16_t kErrEndOfBlob = 8711;
// 0x23 corrupt buffers
inline constexpr uint16_t kErrHeaderCorrupt = 8961;
inline constexpr uint16_t kErrRecordBufferCorrupt = 8962;
inline constexpr uint16_t kErrBlobBufferCorrupt = 8963;
inline constexpr uint16_t kErrIndexPageCorrupt = 8965;
// 0x24 input/output
inline constexpr uint16_t kErrReadFailure = 9217;
inline constexpr uint16_t kErrWriteFailure = 9218;
inline constexpr uint16_t kErrCannotDelete = 9220;
inline constexpr uint16_t kErrHeaderAccess = 9221;
// 0x25 limits
inline constexpr uint16_t kErrRecordSizeExceeded = 9477;
inline constexpr uint16_t kErrDataFileFull = 9479;
inline constexpr uint16_t kErrTooManyFilters = 9482;
inline constexpr uint16_t kErrIndexLimits = 9487;
inline constexpr uint16_t kErrFieldLimits = 9492;
inline constexpr uint16_t kErrTooManyBlobsOpen = 9494;
inline constexpr uint16_t kErrInvalidBlobBlockSize = 9498;
// 0x26 integrity
inline constexpr uint16_t kErrKeyViolation = 9729;
inline constexpr uint16_t kErrBelowMinimum = 9730;
inline constexpr uint16_t kErrAboveMaximum = 9731;
inline constexpr uint16_t kErrRequiredField = 9732;
// 0x27 invalid request
inline constexpr uint16_t kErrInvalidField = 9985;
inline constexpr uint16_t kErrPrimaryIndexExists = 9993;
inline constexpr uint16_t kErrInvalidBlobOffset = 9998;
inline constexpr uint16_t kErrInvalidFieldDefinition = 10000;
inline constexpr uint16_t kErrInvalidValidityCheck = 10006;
inline constexpr uint16_t kErrIndexNameMissing = 10010;
inline constexpr uint16_t kErrInvalidPassword = 10015;
inline constexpr uint16_t kErrInvalidIndexName = 10022;
inline constexpr uint16_t kErrInvalidIndexField = 10023;
inline constexpr uint16_t kErrInvalidKeySize = 10026;
inline constexpr uint16_t kErrIndexExists = 10027;
inline constexpr uint16_t kErrInvalidBlobLength = 10029;
inline constexpr uint16_t kErrInvalidBlobHandle = 10030;
inline constexpr uint16_t kErrFileInUse = 10031;
inline constexpr uint16_t kErrInvalidFieldName = 10038;
inline constexpr uint16_t kErrInvalidFilterHandle = 10050;
inline constexpr uint16_t kErrInvalidFilterExpression = 10051;
inline constexpr uint16_t kErrPrimaryIndexRemoval = 10055;
// 0x28 locks
inline constexpr uint16_t kErrFileLocked = 10241;
inline constexpr uint16_t kErrCannotUnlock = 10242;
inline constexpr uint16_t kErrLockFailure = 10249;
inline constexpr uint16_t kErrNeedExclusive = 10253;
inline constexpr uint16_t kErrRecordLocked = 10258;
// 0x29 rights
inline constexpr uint16_t kErrPasswordRequired = 10498;
// 0x2A invalid handle or engine state
inline constexpr uint16_t kErrInvalidBlobField = 10753;
inline constexpr uint16_t kErrNotInitialized = 10758;
// 0x2B operating system
inline constexpr uint16_t kErrInvalidPath = 11010;
inline constexpr uint16_t kErrTooManyOpenFiles = 11012;
inline constexpr uint16_t kErrAccessDenied = 11013;
inline constexpr uint16_t kErrInvalidFileHandle = 11014;
inline constexpr uint16_t kErrOutOfMemory = 11016;
inline constexpr uint16_t kErrInvalidMemoryFileLength = 11017;
inline constexpr uint16_t kErrDeviceAccessDenied = 11023;
inline constexpr uint16_t kErrFileMoved = 11025;
inline constexpr uint16_t kErrUnknownOSError = 11047;
// 0x2E SQL
inline constexpr uint16_t kErrSql = 11949;
// 0x2F version
inline constexpr uint16_t kErrWrongVersion = 12035;
// 0x30 index capability
inline constexpr uint16_t kErrInvalidIndexFieldType = 12292;
// 0x3E language driver
inline constexpr uint16_t kErrLanguageDriverMissing = 15878;

// Error texts are cut to this many characters.
inline constexpr size_t kMaxErrorTextLength = 127;

// The names the text of an engine error inserts, as the session keeps them for the last error
// (each cut to 255 bytes).
struct TEngineErrorContext {
  uint16_t code = 0;
  std::string data_file;
  std::string field;
  std::string index;
  std::string sql;
};

// Raises ETesseraEngineError with `code` and its text.  While a session is current (and for any
// code but 10758, which must work before any session exists) the names are first kept in the
// session and inserted into the text; without one the text names nothing.  The names are kept
// as ShortStrings (cut to 255 bytes).  Never returns.
[[noreturn]] void RaiseEngineError(uint16_t code, std::string_view data_file = {},
                                   std::string_view field = {}, std::string_view index = {},
                                   std::string_view sql = {});

// Raises ETesseraEngineError for `code` with the names the current session keeps from the last
// error, for a code that a lower layer returned instead of raising.  Never returns.
[[noreturn]] void TesseraError(uint16_t code);

// Nothing for 0; any other code raises through TesseraError.
void CheckEngineResult(uint16_t code);

// True for 0; any other code raises through TesseraError.
bool CheckEngineStatus(uint16_t code);

// Records the context of an error in the current session.  Stores nothing for 10758, nor while
// the engine is not started.
void SetErrorContext(uint16_t code, std::string_view data_file, std::string_view field,
                     std::string_view index, std::string_view sql);

// Code 0 and empty context strings in the current session; nothing while not started.
void ClearErrorContext();

// The English text of `code` with the current session's context inserted, cut to 127
// characters.  Without a started engine the context is empty.  Unknown codes give
// "Unknown error occurred with data file " + data file.
std::string GetEngineErrorText(uint16_t code);

// The engine code for a Win32-style error number as the platform layer reports it
// (2 file not found, 5 access denied, 32 sharing violation, ...).
uint16_t MapOSError(uint32_t win32_error);

// For the session layer only: where the current session keeps the context of the last error, or
// nullptr while no session is current in a started engine.  Called on every change of the
// current session.
void SetCurrentErrorContext(TEngineErrorContext* context);

}  // namespace tessera
