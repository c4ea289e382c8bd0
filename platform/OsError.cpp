#include "platform/OsError.h"

#include <cerrno>

namespace platform {

OsError ErrnoToOsError(int err, ErrnoSource source) {
  if (err == EAGAIN || err == EACCES) {
    if (source == ErrnoSource::kRangeLock) return kErrorLockViolation;
    if (source == ErrnoSource::kShareLock) return kErrorSharingViolation;
  }
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EISDIR:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case ENODEV:
    case ENXIO:
      return kErrorInvalidDrive;
    case EXDEV:
      return kErrorNotSameDevice;
    case EAGAIN:
      return kErrorLockViolation;
    case ENOLCK:
      return kErrorSharingBufferExceeded;
    case EOPNOTSUPP:
      return kErrorNotSupported;
    case EEXIST:
      return kErrorAlreadyExists;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case EIO:
      return kErrorIoDevice;
    default:
      return kErrorFromErrnoBit | static_cast<OsError>(err);
  }
}

}  // namespace platform
