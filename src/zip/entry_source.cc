#include "zip/entry_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/ascii.h"
#include "platform/directory_search.h"
#include "platform/path.h"
#include "platform/file_io.h"
#include "platform/local_time.h"
#include "platform/progress.h"
#include "zip/crc32.h"
#include "zip/zip_time.h"

namespace postrunner {
namespace {

constexpr uint32_t kModeFolder = 0x40000000;
constexpr uint32_t kModeRegular = 0x80000000;
constexpr uint32_t kOwnerRead = 0x01000000;
constexpr uint32_t kOwnerWrite = 0x00800000;
constexpr uint32_t kOwnerExecute = 0x00400000;

}  // namespace

EntryMetadata DiskFileMetadata(const FileInfo& info, std::string_view name) {
  EntryMetadata m;
  uint32_t dos_bits = AttributesFromMode(std::string(name), static_cast<mode_t>(info.mode)) &
                      (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrFolder | kAttrArchive);
  m.external_attributes = dos_bits | (info.is_folder ? kModeFolder : kModeRegular) | kOwnerRead;
  if (!(dos_bits & kAttrReadOnly)) m.external_attributes |= kOwnerWrite;
  if (info.owner_execute) m.external_attributes |= kOwnerExecute;
  m.expected_size = static_cast<int64_t>(info.size);
  m.access_time = ClampedUnixTime(info.access_time);
  m.modify_time = ClampedUnixTime(info.modify_time);
  m.create_time = ClampedUnixTime(info.create_time);
  m.dos_date_time = DosDateTime(UtcTimeAt(static_cast<std::time_t>(info.modify_time)));
  return m;
}

EntryMetadata CurrentTimeMetadata(uint32_t attributes, int64_t now) {
  EntryMetadata m;
  m.external_attributes = attributes;
  int32_t unix_time = ClampedUnixTime(now);
  m.access_time = m.modify_time = m.create_time = unix_time;
  m.dos_date_time = DosDateTime(LocalTimeAt(static_cast<std::time_t>(now)));
  return m;
}

bool HasStoredExtension(std::string_view name) {
  static constexpr std::string_view kStored[] = {".Z",   ".zip", ".zoo", ".arc",
                                                 ".lzh", ".arj", ".gz",  ".tgz"};
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string_view tail = name.substr(dot);
  return std::any_of(std::begin(kStored), std::end(kStored),
                     [tail](std::string_view ext) { return EqualNoCase(tail, ext); });
}

void EntrySource::Reset() {
  metadata_ = EntryMetadata{};
  (void)owned_fd_.Reset();  // a source is only read: its close loses nothing
  input_fd_ = -1;
  memory_ = nullptr;
  memory_length_ = 0;
  memory_position_ = 0;
  bytes_read_ = 0;
  crc_ = 0;
  failure_ = ResultOk;
  error_ = 0;
  show_progress_ = false;
}

ArchiveResult EntrySource::OpenFileName(const char* path) {
  Reset();
  if (path == nullptr) return ErrArguments;
  // The path is opened exactly as given: a backslash may be part of a real
  // file name. Separators in what the user typed are the driver's business.
  ScopedFd fd(OpenRegularFile(path));
  if (!fd.valid()) {
    error_ = errno;
    return ErrOpenFile;
  }
  ArchiveResult result = OpenFile(fd.get(), BareNameView(path), true);
  if (result == ResultOk) owned_fd_ = std::move(fd);
  return result;
}

ArchiveResult EntrySource::OpenFile(int fd, std::string_view name, bool show_progress) {
  Reset();
  FileInfo info;
  // Only a regular file is read: a FIFO or a device could block or never end.
  if (fd < 0) return ErrOpenFile;
  if (!FileInfoOf(fd, &info)) {
    error_ = errno;
    return ErrOpenFile;
  }
  if (!info.is_regular) return ErrOpenFile;
  ArchiveResult result = OpenDescriptor(fd, 0, name);
  if (result != ResultOk) {
    const int error = error_;
    Reset();
    error_ = error;
    return result;
  }
  show_progress_ = show_progress;
  if (show_progress_) ProgressBegin("Archiving " + std::string(name), info.size);
  return ResultOk;
}

ArchiveResult EntrySource::OpenHandle(const int* fd, uint32_t expected_size) {
  Reset();
  if (fd == nullptr || !IsReadableDescriptor(*fd)) return ErrArguments;
  ArchiveResult result = OpenDescriptor(*fd, expected_size, "");
  if (result != ResultOk) {
    const int error = error_;
    Reset();
    error_ = error;
  }
  return result;
}

ArchiveResult EntrySource::OpenDescriptor(int fd, uint32_t expected_size,
                                          std::string_view name) {
  FileInfo info;
  if (!FileInfoOf(fd, &info)) {
    error_ = errno;
    return ErrOpenFile;
  }
  if (info.is_regular) {
    metadata_ = DiskFileMetadata(info, name);
    if (!SeekTo(fd, 0)) {
      error_ = errno;
      return ErrOpenFile;
    }
  } else {
    metadata_ = CurrentTimeMetadata(kStreamAttributes, CurrentUnixTime());
    metadata_.expected_size = expected_size != 0 ? static_cast<int64_t>(expected_size) : -1;
  }
  input_fd_ = fd;
  return ResultOk;
}

ArchiveResult EntrySource::OpenMemory(const void* data, uint32_t length) {
  Reset();
  if (data == nullptr || length == 0) return ErrArguments;
  metadata_ = CurrentTimeMetadata(kStreamAttributes, CurrentUnixTime());
  metadata_.expected_size = length;
  memory_ = static_cast<const unsigned char*>(data);
  memory_length_ = length;
  return ResultOk;
}

ArchiveResult EntrySource::OpenFolder() {
  Reset();
  metadata_ = CurrentTimeMetadata(kFolderAttributes, CurrentUnixTime());
  return ResultOk;
}

size_t EntrySource::Read(unsigned char* buffer, size_t capacity) {
  if (failure_ != ResultOk || capacity == 0) return 0;
  size_t count = 0;
  if (memory_ != nullptr) {
    count = std::min(memory_length_ - memory_position_, capacity);
    std::memcpy(buffer, memory_ + memory_position_, count);
    memory_position_ += count;
  } else if (input_fd_ >= 0) {
    ssize_t n = ReadSome(input_fd_, buffer, capacity);
    if (n < 0) {
      failure_ = ErrRead;
      error_ = errno;
      return 0;
    }
    count = static_cast<size_t>(n);
  } else {
    failure_ = ErrBadState;
    return 0;
  }
  bytes_read_ += count;
  if (show_progress_) ProgressAdvance(count);
  crc_ = Crc32Update(crc_, buffer, count);
  return count;
}

void EntrySource::Close() {
  if (show_progress_) ProgressEnd();
  show_progress_ = false;
  (void)owned_fd_.Reset();  // as in Reset
  input_fd_ = -1;
  memory_ = nullptr;
  metadata_.expected_size = static_cast<int64_t>(bytes_read_);
}

}  // namespace postrunner
