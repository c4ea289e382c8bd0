#include "components/data/TSingleInstance.h"

#include <cstring>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Collation.h"
#include "platform/Ticks.h"

namespace comp {
namespace {

constexpr size_t kMaxNameLength = 260;
constexpr int32_t kBlockSize = 4;
// How long a second instance waits for a first one that has the block but has not yet written
// its handle.
constexpr uint64_t kHandleWaitMs = 2000;

std::string MappingName(const std::string& requested) {
  std::string name;
  for (char c : requested) {
    if (c != '\\') name.push_back(c);
  }
  if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
  return name;
}

}  // namespace

// ---- TFileMapStream -----------------------------------------------------------------------------

TFileMapStream::TFileMapStream(const std::string& name, int32_t size) : name_(MappingName(name)) {
  const platform::OsError error =
      size > 0 ? mapping_.Open(name_, static_cast<size_t>(size)) : platform::kErrorInvalidParameter;
  if (error != platform::kErrorSuccess) {
    throw EFileMapError("Erreur " + std::to_string(error) +
                        " : \r\nImpossible de cr\xE9"
                        "er un FileMapping nomm\xE9 \"" +
                        name_ + "\" !!!");
  }
  SetPointer(mapping_.Data(), static_cast<int64_t>(mapping_.Size()));
}

int32_t TFileMapStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const auto size = static_cast<int64_t>(mapping_.Size());
  if (position_ < 0 || position_ > size || count > size - position_) {
    throw cl::EWriteError(
        "Erreur d'\xE9"
        "criture de flux");
  }
  std::memcpy(mapping_.Data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

// ---- TSingleInstance ----------------------------------------------------------------------------

TSingleInstance::TSingleInstance(cl::TComponent* owner) : cl::TComponent(owner) {}

TSingleInstance::~TSingleInstance() = default;

void TSingleInstance::SetAppIdentifier(const std::string& identifier) {
  app_identifier_ = identifier;
  if (!ComponentState().Contains(cl::csLoading)) OpenInstanceMap(identifier);
}

void TSingleInstance::SetHandle(cl::HWND handle) {
  uint8_t bytes[kBlockSize];
  cl::PutU32LE(bytes, handle);
  stream_->SetPosition(0);
  stream_->WriteBuffer(bytes, kBlockSize);
}

cl::HWND TSingleInstance::ReadRunningHandle() {
  const uint64_t deadline = platform::GetTickCount() + kHandleWaitMs;
  uint8_t bytes[kBlockSize];
  while (true) {
    stream_->SetPosition(0);
    stream_->ReadBuffer(bytes, kBlockSize);
    const cl::HWND handle = cl::GetU32LE(bytes);
    if (handle != 0 || platform::GetTickCount() >= deadline) return handle;
    platform::WaitMoreThan(20);
  }
}

void TSingleInstance::OpenInstanceMap(const std::string& name) {
  stream_.reset();
  if (ComponentState().Contains(cl::csDesigning)) return;
  stream_ = std::make_unique<TFileMapStream>(name, kBlockSize);
  if (stream_->Created()) {
    SetHandle(cl::Application().Handle());
    return;
  }
  const cl::HWND running = ReadRunningHandle();
  if (on_app_running_) on_app_running_(this, running);
  cl::Halt(0);
}

void TSingleInstance::Loaded() {
  const std::string name =
      app_identifier_.empty() ? cl::AnsiUpperCase(cl::Application().ExeName()) : app_identifier_;
  OpenInstanceMap(name);
  cl::TComponent::Loaded();
}

}  // namespace comp
