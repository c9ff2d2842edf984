// Entry sources of the archive writer: a file named by a path, an open
// descriptor, a memory block, or a folder entry without data. A source
// gathers what the headers need (attributes, size, DOS date-time, Unix
// times), reads the data while counting it and computing its CRC-32, and
// releases what it opened. One EntrySource serves one entry at a time; every
// Open* resets it.
#ifndef POSTRUNNER_ZIP_ENTRY_SOURCE_H_
#define POSTRUNNER_ZIP_ENTRY_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/file_info.h"
#include "platform/scoped_fd.h"
#include "zip/archive.h"

namespace postrunner {

// External attributes of a folder entry: directory mode rwx for the owner,
// DOS folder bit.
inline constexpr uint32_t kFolderAttributes = 0x41C00010;
// External attributes of data that is not a disk file: regular-file mode, no
// permission or DOS bits.
inline constexpr uint32_t kStreamAttributes = 0x80000000;

// What an entry's headers say about its source.
struct EntryMetadata {
  uint32_t external_attributes = 0;
  uint32_t dos_date_time = 0;
  int32_t access_time = 0;   // Unix times, clamped to 1970..2037
  int32_t modify_time = 0;
  int32_t create_time = 0;
  int64_t expected_size = 0; // -1 when unknown
};

// Header data of the disk file `info`, whose bare name is `name` (a name
// beginning with '.' is hidden; may be empty). The DOS date-time is the UTC
// modification time.
[[nodiscard]] EntryMetadata DiskFileMetadata(const FileInfo& info, std::string_view name);

// Header data of an entry without a file: `attributes`, and the time `now`
// (seconds since 1970 UTC) as the three Unix times and, in local time, as
// the DOS date-time.
[[nodiscard]] EntryMetadata CurrentTimeMetadata(uint32_t attributes, int64_t now);

// True when `name` ends in an extension of already-compressed data (.Z, .zip,
// .zoo, .arc, .lzh, .arj, .gz, .tgz, any letter case), judged from its last
// '.' even when folder parts follow it.
[[nodiscard]] bool HasStoredExtension(std::string_view name);

class EntrySource {
 public:
  EntrySource() = default;
  EntrySource(const EntrySource&) = delete;
  EntrySource& operator=(const EntrySource&) = delete;

  // Opens the regular file `path` without blocking. ErrArguments for a null
  // path, ErrOpenFile when it cannot be opened or examined or is not a
  // regular file (a FIFO, device, socket or folder).
  [[nodiscard]] ArchiveResult OpenFileName(const char* path);

  // Reads the disk file open on `fd`, which stays the caller's and must stay
  // open until Close, from position 0; its bare name is `name` (a name
  // beginning with '.' is hidden). The progress line follows the reading
  // only when `show_progress`. ErrOpenFile when `fd` is not an open regular
  // file.
  [[nodiscard]] ArchiveResult OpenFile(int fd, std::string_view name, bool show_progress);

  // Reads the caller's descriptor `*fd`, which stays open. A regular file is
  // read whole from position 0; anything else from where it stands, with
  // `expected_size` as its size (0 = unknown). ErrArguments for a null
  // pointer or a descriptor that is not open for reading.
  [[nodiscard]] ArchiveResult OpenHandle(const int* fd, uint32_t expected_size);

  // Reads `length` bytes at `data`, which must stay valid until Close.
  // ErrArguments for null or empty data.
  [[nodiscard]] ArchiveResult OpenMemory(const void* data, uint32_t length);

  // A folder entry: no data.
  [[nodiscard]] ArchiveResult OpenFolder();

  // Delivers up to `capacity` bytes into `buffer` and returns the count; 0
  // at the end of the data or when reading failed (see failure()).
  [[nodiscard]] size_t Read(unsigned char* buffer, size_t capacity);

  // Releases a descriptor the source opened itself and settles the expected
  // size to the bytes actually read.
  void Close();

  // ResultOk, or why reading stopped early: ErrRead (the descriptor failed),
  // ErrBadState (read with nothing open).
  [[nodiscard]] ArchiveResult failure() const { return failure_; }
  // The system's reason (an errno value) for the last failed open or read,
  // 0 when no system call failed.
  [[nodiscard]] int error() const { return error_; }

  const EntryMetadata& metadata() const { return metadata_; }
  [[nodiscard]] uint64_t bytes_read() const { return bytes_read_; }
  [[nodiscard]] uint32_t crc() const { return crc_; }

 private:
  void Reset();
  [[nodiscard]] ArchiveResult OpenDescriptor(int fd, uint32_t expected_size, std::string_view name);

  EntryMetadata metadata_;
  ScopedFd owned_fd_;          // a descriptor this source opened
  int input_fd_ = -1;          // the descriptor being read, owned or not
  const unsigned char* memory_ = nullptr;
  size_t memory_length_ = 0;
  size_t memory_position_ = 0;
  uint64_t bytes_read_ = 0;
  uint32_t crc_ = 0;
  ArchiveResult failure_ = ResultOk;
  int error_ = 0;
  bool show_progress_ = false;
};

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_ENTRY_SOURCE_H_
