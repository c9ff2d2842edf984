// ZIP archive writer: the interface the driver and the folder walk use.
// One ArchiveCreate, any number of ArchiveAddEntry, one ArchiveClose.
// The handle returned by ArchiveCreate owns the writer; ArchiveClose writes
// the central directory and releases everything. Entries are stored (names
// ending in an extension of compressed data, folders) or deflated at level 8;
// each carries the extended-timestamp extra field. Sizes, offsets and entry
// counts beyond the classic 32-bit and 16-bit fields get ZIP64 fields; an
// archive within those limits has none.
#ifndef POSTRUNNER_ZIP_ARCHIVE_H_
#define POSTRUNNER_ZIP_ARCHIVE_H_

#include <sys/types.h>

#include <cstdint>
#include <memory>

namespace postrunner {

// A failed ArchiveAddEntry or ArchiveClose comes with the system's reason
// (an errno value: ENOSPC for a full disk) when a system call failed in it,
// opening or reading a source, writing or closing the output; 0 otherwise.
// It is kept by the archive (ArchiveLastError) and handed out by
// ArchiveClose, so nothing the caller does in between can change it.

// Result codes; 0 is success.
using ArchiveResult = uint32_t;
inline constexpr ArchiveResult ResultOk = 0x00000000;
inline constexpr ArchiveResult ErrHandleCopy = 0x00000100;
inline constexpr ArchiveResult ErrOpenFile = 0x00000200;
inline constexpr ArchiveResult ErrMapping = 0x00000300;
inline constexpr ArchiveResult ErrWrite = 0x00000400;
inline constexpr ArchiveResult ErrRead = 0x00000500;     // a source failed while being read
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
// A name longer than 65535 bytes, or a source that grew while it was read
// past the 4 GiB its local header, already written, could describe.
inline constexpr ArchiveResult ErrTooLarge = 0x08000000;

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
// any failure, with the system's reason in `*error` (when not null; 0 when
// no system call failed).
std::unique_ptr<ArchiveHandle> ArchiveCreate(const void* target, uint32_t size,
                                             uint32_t kind, int* error = nullptr);

// Adds one entry called `name` (backslashes become '/'; a folder entry gets
// a trailing '/') from `source` read according to `kind`; `size` is the
// byte count of a memory source, or the expected size of a handle source
// that is not a regular file (0 = unknown), and is ignored otherwise.
// Returns ResultOk or the reason for the failure; a failed entry is not
// listed in the archive. A source that cannot be opened leaves the archive
// unchanged. A source that fails while being read gives ErrRead (the entry
// is never cut short silently). A failed data step (compressor error, output
// taking less than it was handed) reports ErrWrite; ErrCompressor and
// ErrSizeMismatch never reach the caller.
[[nodiscard]]
ArchiveResult ArchiveAddEntry(ArchiveHandle* handle, const char* name,
                              const void* source, uint32_t size, uint32_t kind);

// Writes the central directory (listing exactly the entries whose addition
// returned ResultOk) and the end record, releases the output and the archive.
// Returns ResultOk when the archive is complete in its output.
// `*error` (when not null) receives the system's reason for a failure.
[[nodiscard]] ArchiveResult ArchiveClose(std::unique_ptr<ArchiveHandle> handle, int* error = nullptr);

// Lets the archive deflate each entry of 4 MiB or more on up to `threads`
// threads (1, the default, keeps to the caller's thread). The archive's
// bytes are the same for every count. Ignored for no open archive.
void ArchiveSetThreads(ArchiveHandle* handle, unsigned threads);

// The system's reason for the failure of the last ArchiveAddEntry on
// `handle` (see above); 0 after a success or for no open archive.
[[nodiscard]] int ArchiveLastError(const ArchiveHandle* handle);

// Device and inode of the file the archive is written to, so that a folder
// walk can leave the archive itself out. False when the output is not a
// file or `handle` is not an open archive.
[[nodiscard]] bool ArchiveOutputIdentity(const ArchiveHandle* handle, dev_t* device, ino_t* inode);

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_ARCHIVE_H_
