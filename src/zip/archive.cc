#include "zip/archive.h"

#include <cerrno>
#include <ctime>

#include "zip/zip_output.h"
#include "zip/zip_writer.h"

namespace postrunner {
namespace {

constexpr uint32_t kModeWriting = 2;

}  // namespace

ArchiveHandle::ArchiveHandle() = default;
ArchiveHandle::~ArchiveHandle() = default;

std::unique_ptr<ArchiveHandle> ArchiveCreate(const void* target, uint32_t size,
                                             uint32_t kind) {
  // The local-time conversions of folder and stream entries read TZ.
  tzset();
  std::unique_ptr<ZipOutput> output;
  ArchiveResult result = ErrArguments;
  switch (kind) {
    case TargetFileName:
      result = CreateFileOutput(static_cast<const char*>(target), &output);
      break;
    case TargetHandle:
      result = CreateHandleOutput(static_cast<const int*>(target), &output);
      break;
    case TargetMemory:
      result = CreateMemoryOutput(const_cast<void*>(target), size, &output);
      break;
    default:
      break;
  }
  if (result != ResultOk) return nullptr;
  auto handle = std::make_unique<ArchiveHandle>();
  handle->mode = kModeWriting;
  handle->writer = std::make_unique<ZipWriter>(std::move(output));
  return handle;
}

ArchiveResult ArchiveAddEntry(ArchiveHandle* handle, const char* name, const void* source,
                              uint32_t size, uint32_t kind) {
  if (handle == nullptr) return ErrArguments;
  if (handle->mode != kModeWriting || !handle->writer) return ErrWrongHandle;
  errno = 0;
  return handle->writer->AddEntry(name, source, size, kind);
}

ArchiveResult ArchiveClose(std::unique_ptr<ArchiveHandle> handle) {
  if (!handle) return ErrArguments;
  if (handle->mode != kModeWriting || !handle->writer) return ErrWrongHandle;
  errno = 0;
  return handle->writer->Close();
}

bool ArchiveOutputIdentity(const ArchiveHandle* handle, dev_t* device, ino_t* inode) {
  return handle != nullptr && handle->mode == kModeWriting && handle->writer &&
         handle->writer->OutputIdentity(device, inode);
}

}  // namespace postrunner
