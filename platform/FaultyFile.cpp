#include "platform/FaultyFile.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace platform {

FaultyFile::FaultyFile(std::unique_ptr<File> file, std::shared_ptr<const FileFaults> faults)
    : file_(std::move(file)), faults_(std::move(faults)) {
  assert(file_ != nullptr && faults_ != nullptr);
}

OsError FaultyFile::ReadAt(int64_t offset, void* buffer, size_t count, size_t* done) {
  const int64_t number = ++faults_->reads;
  if (faults_->read_error != kErrorSuccess || number == faults_->fail_read) {
    *done = 0;
    return faults_->read_error != kErrorSuccess ? faults_->read_error : kErrorIoDevice;
  }
  if (faults_->read_limit >= 0) count = std::min(count, static_cast<size_t>(faults_->read_limit));
  return file_->ReadAt(offset, buffer, count, done);
}

// Numbers one more write or truncation, which reaches `end` (-1: a truncation); true when the
// fault answers it (`*answer`) instead of the file.
bool FaultyFile::Intercepted(int64_t end, size_t count, size_t* done, OsError* answer) const {
  const int64_t number = ++faults_->writes;
  if (faults_->fail_write >= 0 && number >= faults_->fail_write &&
      (faults_->fail_count < 0 || number < faults_->fail_write + faults_->fail_count)) {
    int64_t size = 0;
    const bool refused = faults_->write_error != kErrorDiskFull ||
                         (end >= 0 && (file_->GetSize(&size) != kErrorSuccess || end > size));
    if (refused) {
      ++faults_->failed;
      *done = 0;
      *answer = faults_->write_error;
      return true;
    }
  }
  const bool stopped = (faults_->stop_after >= 0 && number > faults_->stop_after) ||
                       (faults_->tear_write >= 0 && number > faults_->tear_write);
  if (!stopped) return false;
  *done = count;
  *answer = kErrorSuccess;
  return true;
}

OsError FaultyFile::WriteAt(int64_t offset, const void* buffer, size_t count, size_t* done) {
  OsError answer = kErrorSuccess;
  if (Intercepted(offset + static_cast<int64_t>(count), count, done, &answer)) return answer;
  OsError fault_error = kErrorSuccess;
  if (faults_->writes == faults_->tear_write) {
    const OsError error =
        file_->WriteAt(offset, buffer, std::min(count, faults_->tear_bytes), done);
    return error != kErrorSuccess ? error : faults_->write_error;
  }
  if (faults_->write_limit >= 0 && static_cast<uint64_t>(faults_->write_limit) < count) {
    count = static_cast<size_t>(faults_->write_limit);
    fault_error = faults_->write_error;
  }
  const OsError error = file_->WriteAt(offset, buffer, count, done);
  return error != kErrorSuccess ? error : fault_error;
}

OsError FaultyFile::Truncate(int64_t size) {
  size_t done = 0;
  OsError answer = kErrorSuccess;
  if (Intercepted(-1, 0, &done, &answer)) return answer;
  return file_->Truncate(size);
}

OsError FaultyFile::Sync() {
  if (faults_->sync_error != kErrorSuccess) return faults_->sync_error;
  return file_->Sync();
}

OsError FaultyFile::Lock(uint64_t offset, uint64_t length) {
  ++faults_->locks;
  if (faults_->refuse_locks) return kErrorLockViolation;
  return file_->Lock(offset, length);
}

OsError FaultyFile::Unlock(uint64_t offset, uint64_t length) {
  ++faults_->unlocks;
  const OsError error = file_->Unlock(offset, length);
  if (error == kErrorSuccess && faults_->after_unlock) faults_->after_unlock(offset, length);
  return error;
}

OsError FaultyFile::UnlockPair(uint64_t offset, uint64_t length, uint64_t second_offset,
                               uint64_t second_length) {
  const OsError error = file_->UnlockPair(offset, length, second_offset, second_length);
  if (error == kErrorNotSupported) return error;
  ++faults_->unlocks;
  if (error == kErrorSuccess && faults_->after_unlock) {
    faults_->after_unlock(offset, length);
    faults_->after_unlock(second_offset, second_length);
  }
  return error;
}

}  // namespace platform
