// CBinaryFile: a raw byte stream over one file descriptor, with 64-bit
// positions. The mail dispatch uses it to measure a file, and mail reads the
// pieces of a split file from it by position; the base64 attachment encoder
// uses it to read a whole file.
//
// The object owns its descriptor (closed by Close and by the destructor,
// never a file deleted) and remembers the path given to the last Open. Only
// regular files are opened: a FIFO, device, socket or folder is refused
// without blocking, so a planted FIFO can never stall a run.
#ifndef POSTRUNNER_PLATFORM_BINARY_FILE_H_
#define POSTRUNNER_PLATFORM_BINARY_FILE_H_

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/scoped_fd.h"

namespace postrunner {

// Open flags the program uses. Reading a file to send:
inline constexpr int kBinaryReadOnly = O_RDONLY;
// Creating a new file: it must not exist, and a symbolic link planted under
// its name is refused rather than written through.
inline constexpr int kBinaryCreateNew = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
// Permission of a created file: read and write for the owner.
inline constexpr mode_t kBinaryCreateMode = 0600;

class CBinaryFile {
 public:
  CBinaryFile() = default;
  ~CBinaryFile() { Close(); }

  CBinaryFile(const CBinaryFile&) = delete;
  CBinaryFile& operator=(const CBinaryFile&) = delete;

  // Closes any open file, then opens `path` with the open(2) `flags` (created
  // files get kBinaryCreateMode). Returns the descriptor (>= 0) on success,
  // -1 on failure (errno set; EISDIR or EINVAL when `path` is not a regular
  // file). The path is remembered in either case until the next Close/Open.
  [[nodiscard]] int Open(const std::string& path, int flags);

  // Closes the descriptor and forgets the path. Harmless when nothing is open.
  void Close();

  // Reads up to `count` bytes. Returns the count read, 0 at end of file, -1
  // on error or when nothing is open.
  [[nodiscard]] ssize_t Read(void* buffer, size_t count);

  // Reads up to `count` bytes from `position` on, continuing short reads,
  // without moving the current position (pread(2)); several readers may
  // share the object. Returns the count read, fewer only at end of file; -1
  // on error or when nothing is open.
  ssize_t ReadAt(void* buffer, size_t count, int64_t position) const;

  // Reads up to `count` bytes into `buffer`. Returns `buffer` when bytes were
  // read, nullptr at end of file or on error.
  void* ReadBlock(void* buffer, size_t count);

  // Writes all `count` bytes (partial writes are continued). Returns `count`,
  // or -1 when an error stopped the write or nothing is open.
  [[nodiscard]] ssize_t Write(const void* buffer, size_t count);

  // The current position, -1 on error.
  [[nodiscard]] int64_t Tell();
  // Moves to `position` from the start. Returns the new position, -1 on error.
  [[nodiscard]] int64_t Seek(int64_t position);
  [[nodiscard]] int64_t SeekToStart() { return Seek(0); }
  // Moves to the end. Returns the new position, which is the file size.
  [[nodiscard]] int64_t SeekToEnd();

  // The descriptor, -1 when nothing is open.
  [[nodiscard]] int descriptor() const { return fd_.get(); }
  // The path given to the last Open, none after Close.
  const std::optional<std::string>& path() const { return path_; }

 private:
  ScopedFd fd_;
  std::optional<std::string> path_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_BINARY_FILE_H_
