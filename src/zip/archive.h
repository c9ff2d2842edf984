// ZIP archive writer: the interface the driver and the folder walk use.
// One ArchiveCreate, any number of ArchiveAddEntry, one ArchiveClose.
// The handle returned by ArchiveCreate owns the writer; ArchiveClose writes
// the central directory and releases everything.
#ifndef POSTRUNNER_ZIP_ARCHIVE_H_
#define POSTRUNNER_ZIP_ARCHIVE_H_

#include <cstdint>
#include <memory>

namespace postrunner {

// Result codes; 0 is success.
using ArchiveResult = uint32_t;
inline constexpr ArchiveResult ResultOk = 0x00000000;
inline constexpr ArchiveResult ErrHandleCopy = 0x00000100;
inline constexpr ArchiveResult ErrOpenFile = 0x00000200;
inline constexpr ArchiveResult ErrMapping = 0x00000300;
inline constexpr ArchiveResult ErrWrite = 0x00000400;
inline constexpr ArchiveResult ErrArguments = 0x00010000;
inline constexpr ArchiveResult ErrTargetFull = 0x00030000;
inline constexpr ArchiveResult ErrAlreadyFailed = 0x00040000;
inline constexpr ArchiveResult ErrClosed = 0x00050000;
inline constexpr ArchiveResult ErrSizeMismatch = 0x00060000;
inline constexpr ArchiveResult ErrWrongHandle = 0x00080000;
inline constexpr ArchiveResult ErrBadState = 0x01000000;
inline constexpr ArchiveResult ErrCannotSeek = 0x02000000;
inline constexpr ArchiveResult ErrMethodChanged = 0x04000000;
inline constexpr ArchiveResult ErrCompressor = 0x05000000;

// Target kinds for ArchiveCreate.
inline constexpr uint32_t TargetHandle = 1;    // target: pointer to an int descriptor
inline constexpr uint32_t TargetFileName = 2;  // target: const char* path
inline constexpr uint32_t TargetMemory = 3;    // target: memory block or null

// Source kinds for ArchiveAddEntry.
inline constexpr uint32_t SourceHandle = 1;    // source: pointer to an int descriptor
inline constexpr uint32_t SourceFileName = 2;  // source: const char* path
inline constexpr uint32_t SourceMemory = 3;    // source: pointer to `size` bytes
inline constexpr uint32_t SourceFolder = 4;    // source: ignored (null)

class ZipWriter;

// An archive being written. Owns its writer.
class ArchiveHandle {
 public:
  ArchiveHandle();
  ~ArchiveHandle();
  ArchiveHandle(const ArchiveHandle&) = delete;
  ArchiveHandle& operator=(const ArchiveHandle&) = delete;

  uint32_t mode = 2;  // 2 marks an archive being written
  std::unique_ptr<ZipWriter> writer;
};

// Creates an archive on `target` read according to `kind`. Returns null on
// any failure.
std::unique_ptr<ArchiveHandle> ArchiveCreate(const void* target, uint32_t size,
                                             uint32_t kind);

// Adds one entry called `name` from `source` read according to `kind`.
// Returns ResultOk or the reason for the failure.
ArchiveResult ArchiveAddEntry(ArchiveHandle* handle, const char* name,
                              const void* source, uint32_t size, uint32_t kind);

// Writes the central directory and the end record and releases the archive.
ArchiveResult ArchiveClose(std::unique_ptr<ArchiveHandle> handle);

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_ARCHIVE_H_
