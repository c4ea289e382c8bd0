#include "engine/storage/index/IndexTreeHost.h"

#include "classlib/rtl/Coding.h"

namespace tessera {

uint32_t IndexRoot(TIndexTreeHost& host, int slot) {
  return cl::GetU32LE(host.HeaderImage() + DescriptorOffset(slot) + kDescRoot);
}

void SetIndexRoot(TIndexTreeHost& host, int slot, uint32_t offset) {
  uint8_t* p = host.HeaderImage() + DescriptorOffset(slot) + kDescRoot;
  if (cl::GetU32LE(p) == offset) return;
  cl::PutU32LE(p, offset);
  host.MarkHeaderChanged();
}

uint32_t IndexFreeHead(TIndexTreeHost& host, int slot) {
  return cl::GetU32LE(host.HeaderImage() + DescriptorOffset(slot) + kDescFreeHead);
}

void SetIndexFreeHead(TIndexTreeHost& host, int slot, uint32_t offset) {
  uint8_t* p = host.HeaderImage() + DescriptorOffset(slot) + kDescFreeHead;
  if (cl::GetU32LE(p) == offset) return;
  cl::PutU32LE(p, offset);
  host.MarkHeaderChanged();
}

uint32_t IndexEndOffset(TIndexTreeHost& host) {
  return cl::GetU32LE(host.HeaderImage() + kIdxEndOffset);
}

void SetIndexEndOffset(TIndexTreeHost& host, uint32_t offset) {
  uint8_t* p = host.HeaderImage() + kIdxEndOffset;
  if (cl::GetU32LE(p) == offset) return;
  cl::PutU32LE(p, offset);
  host.MarkHeaderChanged();
}

uint32_t IndexRecordCount(TIndexTreeHost& host) {
  return cl::GetU32LE(host.HeaderImage() + kIdxRecordCount);
}

}  // namespace tessera
