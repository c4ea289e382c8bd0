// Operating-system failures as Win32-style error numbers.
//
// Everything above the platform seam speaks these numbers (the engine maps them to its own codes),
// so that no caller ever sees errno.  ErrnoToOsError is the one place where errno is translated;
// call it with the errno value captured right after the failing call, before anything (a close,
// a log line, a destructor) can overwrite it.
#pragma once

#include <cstdint>

namespace platform {

using OsError = uint32_t;

constexpr OsError kErrorSuccess = 0;
constexpr OsError kErrorFileNotFound = 2;
constexpr OsError kErrorPathNotFound = 3;
constexpr OsError kErrorTooManyOpenFiles = 4;
constexpr OsError kErrorAccessDenied = 5;
constexpr OsError kErrorInvalidHandle = 6;
constexpr OsError kErrorNotEnoughMemory = 8;
constexpr OsError kErrorInvalidDrive = 15;
constexpr OsError kErrorNotSameDevice = 17;
constexpr OsError kErrorSharingViolation = 32;
constexpr OsError kErrorLockViolation = 33;
constexpr OsError kErrorSharingBufferExceeded = 36;  // the lock table is full
constexpr OsError kErrorNotSupported = 50;
constexpr OsError kErrorNetworkAccessDenied = 65;
constexpr OsError kErrorFileExists = 80;
constexpr OsError kErrorInvalidParameter = 87;
constexpr OsError kErrorDiskFull = 112;
constexpr OsError kErrorNegativeSeek = 131;
constexpr OsError kErrorNotLocked = 158;
constexpr OsError kErrorAlreadyExists = 183;
constexpr OsError kErrorIoDevice = 1117;

// An errno without a Win32 counterpart comes back as this bit plus the errno value (the range
// Win32 leaves to applications), so that it stays distinct and readable in a log.
constexpr OsError kErrorFromErrnoBit = 0x20000000;

// What the failing call was: a byte-range lock attempt reports a conflict as EAGAIN or EACCES,
// which then means "held by someone else", not "no permission".
enum class ErrnoSource {
  kFileCall,   // open, read, write, stat, rename...
  kRangeLock,  // a byte-range lock: a conflict is a lock violation (33)
  kShareLock,  // the share-mode byte taken at open: a conflict is a sharing violation (32)
};

// REQUIRES: err is an errno value captured right after the failing call.
OsError ErrnoToOsError(int err, ErrnoSource source = ErrnoSource::kFileCall);

}  // namespace platform
