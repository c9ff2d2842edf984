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
                                             uint32_t kind, int* error) {
  if (error != nullptr) *error = 0;
  // The local-time conversions of folder and stream entries read TZ.
  tzset();
  std::unique_ptr<ZipOutput> output;
  ArchiveResult result = ErrArguments;
  errno = 0;  // set below only by a system call that failed
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
  const int system_error = errno;
  if (result != ResultOk) {
    if (error != nullptr) *error = system_error;
    return nullptr;
  }
  auto handle = std::make_unique<ArchiveHandle>();
  handle->mode = kModeWriting;
  handle->writer = std::make_unique<ZipWriter>(std::move(output));
  return handle;
}

ArchiveResult ArchiveAddEntry(ArchiveHandle* handle, const char* name, const void* source,
                              uint32_t size, uint32_t kind) {
  if (handle == nullptr) return ErrArguments;
  if (handle->mode != kModeWriting || !handle->writer) return ErrWrongHandle;
  return handle->writer->AddEntry(name, source, size, kind);
}

ArchiveResult ArchiveClose(std::unique_ptr<ArchiveHandle> handle, int* error) {
  if (error != nullptr) *error = 0;
  if (!handle) return ErrArguments;
  if (handle->mode != kModeWriting || !handle->writer) return ErrWrongHandle;
  const ArchiveResult result = handle->writer->Close();
  if (error != nullptr) *error = handle->writer->error();
  return result;
}

void ArchiveSetThreads(ArchiveHandle* handle, unsigned threads) {
  if (handle != nullptr && handle->mode == kModeWriting && handle->writer) {
    handle->writer->SetThreads(threads);
  }
}

int ArchiveLastError(const ArchiveHandle* handle) {
  return handle != nullptr && handle->writer ? handle->writer->error() : 0;
}

bool ArchiveOutputIdentity(const ArchiveHandle* handle, dev_t* device, ino_t* inode) {
  return handle != nullptr && handle->mode == kModeWriting && handle->writer &&
         handle->writer->OutputIdentity(device, inode);
}

}  // namespace postrunner
