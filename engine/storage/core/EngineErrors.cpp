#include "engine/storage/core/EngineErrors.h"

#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"

namespace tessera {

void RaiseEngineError(uint16_t code, std::string_view data_file, std::string_view field,
                      std::string_view index, std::string_view sql) {
  if (code != kErrNotInitialized) {
    ClearErrorContext();
    SetErrorContext(code, data_file, field, index, sql);
  }
  TesseraError(code);
}

void SetErrorContext(uint16_t code, std::string_view data_file, std::string_view field,
                     std::string_view index, std::string_view sql) {
  if (code == kErrNotInitialized) return;
  if (TFileSession* session = PeekEngineSession()) {
    session->SetErrorContext(code, data_file, field, index, sql);
  }
}

void ClearErrorContext() {
  if (TFileSession* session = PeekEngineSession()) session->ClearErrorContext();
}

std::string GetEngineErrorText(uint16_t code) {
  // Before the engine starts there is no session to read: the names are simply empty, so the
  // real error is reported instead of a second "not initialized" one.
  static const std::string kNone;
  const TFileSession* session = PeekEngineSession();
  const std::string& file = session ? session->ErrorDataFile() : kNone;
  const std::string& field = session ? session->ErrorField() : kNone;
  const std::string& index = session ? session->ErrorIndex() : kNone;
  const std::string& sql = session ? session->ErrorSql() : kNone;

  std::string text;
  switch (code) {
    case kErrBeginningOfFile:
      text = "Beginning of file encountered in data file " + file;
      break;
    case kErrEndOfFile:
      text = "End of file encountered in data file " + file;
      break;
    case kErrKeyNotFound:
      text = "Key not found in index " + index + " of data file " + file;
      break;
    case kErrRecordNotFound:
      text = "Record not found in data file " + file;
      break;
    case kErrEndOfBlob:
      text = "End of blob data in data file " + file + " reached prematurely";
      break;
    case kErrHeaderCorrupt:
      text = "Header information corrupt in data file " + file;
      break;
    case kErrRecordBufferCorrupt:
      text = "Data record buffers corrupt in data file " + file;
      break;
    case kErrBlobBufferCorrupt:
      text = "BLOB block buffers corrupt in data file " + file;
      break;
    case kErrIndexPageCorrupt:
      text = "Index page buffers corrupt in data file " + file;
      break;
    case kErrReadFailure:
      text = "Error reading from data file " + file;
      break;
    case kErrWriteFailure:
      text = "Error writing to data file " + file;
      break;
    case kErrCannotDelete:
      text = "Cannot delete data file " + file;
      break;
    case kErrHeaderAccess:
      text = "Error accessing file header information for data file " + file;
      break;
    case kErrRecordSizeExceeded:
      text = "Maximum record size exceeded in data file " + file;
      break;
    case kErrDataFileFull:
      text = "The data file " + file + " is full and cannot contain any more data";
      break;
    case kErrTooManyFilters:
      text = "Too many filters defined for data file " + file;
      break;
    case kErrIndexLimits:
      text =
          "Maximum or minimum limits on number of indexes or fields in an index exceeded in "
          "data file " +
          file;
      break;
    case kErrFieldLimits:
      text = "Maximum or minimum limits on number of fields or field size exceeded in data file " +
             file;
      break;
    case kErrTooManyBlobsOpen:
      text = "Too many blobs opened in data file " + file;
      break;
    case kErrInvalidBlobBlockSize:
      text = "Too many blob fields or invalid blob block size specified for data file " + file;
      break;
    case kErrKeyViolation:
      text = "Duplicate key found in index " + index + " of data file " + file;
      break;
    case kErrBelowMinimum:
      text = "The value for the field " + field + " in data file " + file +
             " is below the minimum allowable value";
      break;
    case kErrAboveMaximum:
      text = "The value for the field " + field + " in data file " + file +
             " is above the maximum allowable value";
      break;
    case kErrRequiredField:
      text = "A value must be provided for the field " + field + " in data file " + file;
      break;
    case kErrInvalidField:
      text = "Invalid field number or name " + field + " specified for data file " + file;
      break;
    case kErrPrimaryIndexExists:
      text =
          "A primary index is already defined for data file " + file + " and cannot be added again";
      break;
    case kErrInvalidBlobOffset:
      text = "Invalid blob offset into data file " + file + " specified";
      break;
    case kErrInvalidFieldDefinition:
      text = "Invalid field definition specified for the field " + field + " in data file " + file;
      break;
    case kErrInvalidValidityCheck:
      text = "Invalid default, min or max validity check, or expression specified for " + field +
             " in data file " + file;
      break;
    case kErrIndexNameMissing:
      text = "The secondary index name is missing or not specified for data file " + file;
      break;
    case kErrInvalidPassword:
      // No blank before "is": the stored text has always read this way.
      text = "Password provided for data file " + file + "is invalid";
      break;
    case kErrInvalidIndexName:
      text = "Invalid secondary index name " + index + " specified for data file " + file;
      break;
    case kErrInvalidIndexField:
      text = "Invalid field number " + field + " specified in index " + index + " for data file " +
             file;
      break;
    case kErrInvalidKeySize:
      text = "Invalid key size specified in index " + index + " for data file " + file;
      break;
    case kErrIndexExists:
      text = "The secondary index " + index + " already exists for data file " + file;
      break;
    case kErrInvalidBlobLength:
      text = "Invalid blob length in data file " + file;
      break;
    case kErrInvalidBlobHandle:
      text = "Invalid blob handle for data file " + file + " specified";
      break;
    case kErrFileInUse:
      text = "Data file " + file + " is already in use";
      break;
    case kErrInvalidFieldName:
      text = "Invalid or duplicate field name " + field + " specified for data file " + file;
      break;
    case kErrInvalidFilterHandle:
      text = "Invalid filter handle specified for data file " + file;
      break;
    case kErrInvalidFilterExpression:
      text = "Invalid filter expression specified for data file " + file;
      break;
    case kErrPrimaryIndexRemoval:
      text = "The primary index cannot be removed from data file " + file;
      break;
    case kErrFileLocked:
      text = "The data file " + file + " is already locked by another user";
      break;
    case kErrCannotUnlock:
      text = "Cannot unlock data file or record in data file " + file;
      break;
    case kErrLockFailure:
      text = "General lock failure with data file " + file;
      break;
    case kErrNeedExclusive:
      text = "Data file " + file + " must be opened exclusively";
      break;
    case kErrRecordLocked:
      text = "Record in data file " + file + " is in use by another user";
      break;
    case kErrPasswordRequired:
      text = "Insufficient rights to data file " + file + ", a password is required";
      break;
    case kErrInvalidBlobField:
      text = "Invalid blob field " + field + " specified for data file " + file;
      break;
    case kErrNotInitialized:
      text = "Tessera engine not initialized";
      break;
    case kErrInvalidPath:
      text = "Invalid path or file name for data file " + file;
      break;
    case kErrTooManyOpenFiles:
      text = "Too many files open while attempting to open data file " + file;
      break;
    case kErrAccessDenied:
      text = "Access denied to data file " + file;
      break;
    case kErrInvalidFileHandle:
      text = "Invalid file handle for data file " + file;
      break;
    case kErrOutOfMemory:
      text = "There is insufficient operating system memory available for the current operation";
      break;
    case kErrInvalidMemoryFileLength:
      text = "Invalid length for in-memory data file " + file;
      break;
    case kErrDeviceAccessDenied:
      text = "Access denied to logical operating system device for data file " + file;
      break;
    case kErrFileMoved:
      text = "Data file " + file + " has been moved";
      break;
    case kErrUnknownOSError:
      text = "An unknown operating system error occurred with data file " + file;
      break;
    case kErrSql:
      text = "SQL - " + sql;
      break;
    case kErrWrongVersion:
      text = "Data file " + file + " is not the correct version";
      break;
    case kErrInvalidIndexFieldType:
      text = "Invalid field type specified for index " + index + " in data file " + file;
      break;
    case kErrLanguageDriverMissing:
      text = "The language driver for data file " + file + " is not available or installed";
      break;
    default:
      text = "Unknown error occurred with data file " + file;
      break;
  }
  if (text.size() > kMaxErrorTextLength) text.resize(kMaxErrorTextLength);
  return text;
}

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

}  // namespace tessera
