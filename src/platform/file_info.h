// What the archive writer needs to know of, and do with, an open file: its
// type, permission bits, size, times and identity from fstat(2), and the few
// descriptor operations (duplicate, position, seek, truncate) it performs.
// Every call works on a descriptor the caller owns; none of them closes it.
#ifndef POSTRUNNER_PLATFORM_FILE_INFO_H_
#define POSTRUNNER_PLATFORM_FILE_INFO_H_

#include <fcntl.h>
#include <sys/types.h>

#include <cstdint>

namespace postrunner {

struct FileInfo {
  uint32_t mode = 0;          // st_mode: type and permission bits
  bool is_regular = false;    // a regular file (a "disk file")
  bool is_folder = false;
  bool is_fifo = false;
  bool is_char_device = false;
  bool owner_read = false;    // permission bits of the owner
  bool owner_write = false;
  bool owner_execute = false;
  uint64_t size = 0;          // bytes, regular files only
  int64_t access_time = 0;    // seconds since 1970-01-01 UTC
  int64_t modify_time = 0;
  int64_t create_time = 0;    // birth time where the file system keeps it,
                              // else the modification time
  dev_t device = 0;
  ino_t inode = 0;
};

// Fills `info` for the open descriptor `fd`. Returns false (errno set) when
// the descriptor cannot be examined.
[[nodiscard]] bool FileInfoOf(int fd, FileInfo* info);

// Fills `info` for the file `path` names, following links. Returns false
// (errno set) when it cannot be examined (ENOENT when nothing is there).
[[nodiscard]] bool FileInfoOfPath(const char* path, FileInfo* info);

// Opens `path` with `flags` (O_RDONLY to read; `mode` applies when `flags`
// create the file) without ever blocking: a FIFO without a writer does not
// hang the open. Anything but a regular file is refused (errno EISDIR for a
// folder, EINVAL otherwise). Returns the descriptor in blocking mode again,
// or -1 with errno set. The one way the program opens a file to read.
[[nodiscard]] int OpenRegularFile(const char* path, int flags = O_RDONLY, mode_t mode = 0);

// Creates or truncates `path` for writing (mode 0666 before umask) without
// blocking on a FIFO; returns the descriptor in blocking mode, or -1.
[[nodiscard]] int CreateForWriting(const char* path);

// Opens the existing FIFO or character device `path` for writing in place,
// without creating or truncating anything and without blocking: a FIFO that
// no process reads fails with ENXIO. Anything else is refused with EINVAL.
// Returns the descriptor in blocking mode, or -1 with errno set.
[[nodiscard]] int OpenStreamForWriting(const char* path);

// True when `fd` is an open descriptor.
[[nodiscard]] bool IsOpenDescriptor(int fd);

// True when `fd` is readable (opened for reading or reading and writing).
[[nodiscard]] bool IsReadableDescriptor(int fd);

// True when writes to `fd` always go to the end of the file (O_APPEND).
[[nodiscard]] bool IsAppendOnly(int fd);

// A new descriptor for the same open file (close-on-exec), or -1.
[[nodiscard]] int DuplicateDescriptor(int fd);

// The current file position of `fd` in `*position`; false when it has none.
[[nodiscard]] bool CurrentPosition(int fd, uint64_t* position);

// The end of the file `fd` in `*position`, and moves there; false on error.
[[nodiscard]] bool SeekToEnd(int fd, uint64_t* position);

// Moves the file position of `fd` to `position`. Returns false on error.
[[nodiscard]] bool SeekTo(int fd, uint64_t position);

// WriteAll to a pipe or socket whose reader may be gone: the write fails
// with EPIPE instead of the signal ending the process.
[[nodiscard]] size_t WriteAllNoSigpipe(int fd, const void* buffer, size_t count);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_FILE_INFO_H_
