// Where an archive's bytes go. The writer sees its output only through
// ZipOutput: write at the current position, seek to an archive-relative
// position, and a few questions. Three outputs exist: a file the writer
// creates, a caller's descriptor (the writer works on its own duplicate),
// and a memory block. Tests put fakes behind the same interface.
#ifndef POSTRUNNER_ZIP_ZIP_OUTPUT_H_
#define POSTRUNNER_ZIP_ZIP_OUTPUT_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "zip/archive.h"

namespace postrunner {

class ZipOutput {
 public:
  ZipOutput() = default;
  ZipOutput(const ZipOutput&) = delete;
  ZipOutput& operator=(const ZipOutput&) = delete;
  virtual ~ZipOutput() = default;

  // Writes `length` bytes at the current position and returns how many were
  // written; fewer than `length` means the output failed.
  [[nodiscard]] virtual size_t Write(const void* data, size_t length) = 0;

  // Moves the write position to the archive-relative `position`. Returns
  // false when the output cannot seek or the seek failed.
  [[nodiscard]] virtual bool Seek(uint64_t position) = 0;

  // True when the writer may seek back to rewrite a header.
  [[nodiscard]] virtual bool CanSeek() const = 0;

  // Where the archive starts within the output; added to every stored offset.
  [[nodiscard]] virtual uint64_t BaseOffset() const { return 0; }

  // A failure that dooms every later write (a full memory block), else
  // ResultOk. The writer makes it its sticky error.
  [[nodiscard]] virtual ArchiveResult StickyFailure() const { return ResultOk; }

  // Releases the output. Returns false when that reported an error, e.g.
  // close(2) of a file whose last writes failed.
  [[nodiscard]] virtual bool Finish() { return true; }

  // Device and inode of the output when it is a file, so that a folder walk
  // can leave the archive itself out. False when it has no such identity.
  [[nodiscard]] virtual bool Identity(dev_t* /*device*/, ino_t* /*inode*/) const { return false; }
};

// Creates or truncates the file `path`. ErrOpenFile when it cannot be
// created; ErrArguments for a null or empty path.
[[nodiscard]] ArchiveResult CreateFileOutput(const char* path, std::unique_ptr<ZipOutput>* output);

// Works on a duplicate of the caller's descriptor `*fd`, which stays open.
// A regular file not opened for appending can seek and the archive starts at
// its current position; anything else (a pipe, a socket, a device, an
// appending file) is written strictly forward. ErrArguments for a null
// pointer or a closed descriptor, ErrHandleCopy when it cannot be
// duplicated.
[[nodiscard]] ArchiveResult CreateHandleOutput(const int* fd, std::unique_ptr<ZipOutput>* output);

// Writes into the caller's `size`-byte block at `block`, or, when `block` is
// null, into a zeroed block of `size` bytes the output allocates and frees
// on Finish. ErrTargetFull when `size` is 0, ErrMapping when the block
// cannot be allocated. A write that does not fit sets ErrTargetFull.
[[nodiscard]]
ArchiveResult CreateMemoryOutput(void* block, uint32_t size,
                                 std::unique_ptr<ZipOutput>* output);

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_ZIP_OUTPUT_H_
