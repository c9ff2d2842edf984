#include "zip/zip_output.h"

#include <cstring>
#include <new>

#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

// A file or a caller's descriptor.
class DescriptorOutput : public ZipOutput {
 public:
  DescriptorOutput(ScopedFd fd, bool can_seek, uint64_t base, const FileInfo& info)
      : fd_(std::move(fd)), can_seek_(can_seek), base_(base), info_(info) {}

  [[nodiscard]] size_t Write(const void* data, size_t length) override {
    // A pipe whose reader has gone must fail the write, not end the process.
    return info_.is_regular ? WriteAll(fd_.get(), data, length)
                            : WriteAllNoSigpipe(fd_.get(), data, length);
  }
  [[nodiscard]] bool Seek(uint64_t position) override {
    return can_seek_ && SeekTo(fd_.get(), base_ + position);
  }
  [[nodiscard]] bool CanSeek() const override { return can_seek_; }
  [[nodiscard]] uint64_t BaseOffset() const override { return base_; }
  [[nodiscard]] bool Finish() override { return fd_.Reset(); }
  [[nodiscard]] bool Identity(dev_t* device, ino_t* inode) const override {
    if (!info_.is_regular) return false;
    *device = info_.device;
    *inode = info_.inode;
    return true;
  }

 private:
  ScopedFd fd_;
  bool can_seek_;
  uint64_t base_;
  FileInfo info_;
};

// A fixed memory block, the caller's or its own.
class MemoryOutput : public ZipOutput {
 public:
  MemoryOutput(unsigned char* block, uint32_t size, std::unique_ptr<unsigned char[]> own)
      : block_(block), size_(size), own_(std::move(own)) {}

  [[nodiscard]] size_t Write(const void* data, size_t length) override {
    if (length > size_ - position_) {
      full_ = true;
      return 0;
    }
    if (length > 0) std::memcpy(block_ + position_, data, length);
    position_ += length;
    return length;
  }
  [[nodiscard]] bool Seek(uint64_t position) override {
    if (position > size_) {
      full_ = true;
      return false;
    }
    position_ = static_cast<size_t>(position);
    return true;
  }
  [[nodiscard]] bool CanSeek() const override { return true; }
  [[nodiscard]]
  ArchiveResult StickyFailure() const override { return full_ ? ErrTargetFull : ResultOk; }
  [[nodiscard]] bool Finish() override {
    own_.reset();
    return true;
  }

 private:
  unsigned char* block_;
  size_t size_;
  std::unique_ptr<unsigned char[]> own_;
  size_t position_ = 0;
  bool full_ = false;
};

// Wraps the open descriptor `fd`: seekable when it is a regular file that
// does not append, the archive starting at its current position.
[[nodiscard]] ArchiveResult WrapDescriptor(ScopedFd fd, std::unique_ptr<ZipOutput>* output) {
  FileInfo info;
  if (!FileInfoOf(fd.get(), &info)) return ErrOpenFile;
  bool can_seek = false;
  uint64_t base = 0;
  if (info.is_regular) {
    if (IsAppendOnly(fd.get())) {
      // Every write lands at the end, so a header cannot be rewritten; the
      // archive starts at the file's current end.
      if (!SeekToEnd(fd.get(), &base)) return ErrOpenFile;
    } else {
      if (!CurrentPosition(fd.get(), &base)) return ErrOpenFile;
      can_seek = true;
    }
  }
  *output = std::make_unique<DescriptorOutput>(std::move(fd), can_seek, base, info);
  return ResultOk;
}

}  // namespace

ArchiveResult CreateFileOutput(const char* path, std::unique_ptr<ZipOutput>* output) {
  if (path == nullptr || *path == '\0') return ErrArguments;
  ScopedFd fd(CreateForWriting(path));
  if (!fd.valid()) return ErrOpenFile;
  return WrapDescriptor(std::move(fd), output);
}

ArchiveResult CreateHandleOutput(const int* fd, std::unique_ptr<ZipOutput>* output) {
  if (fd == nullptr || !IsOpenDescriptor(*fd)) return ErrArguments;
  ScopedFd copy(DuplicateDescriptor(*fd));
  if (!copy.valid()) return ErrHandleCopy;
  return WrapDescriptor(std::move(copy), output);
}

ArchiveResult CreateMemoryOutput(void* block, uint32_t size,
                                 std::unique_ptr<ZipOutput>* output) {
  if (size == 0) return ErrTargetFull;
  std::unique_ptr<unsigned char[]> own;
  unsigned char* target = static_cast<unsigned char*>(block);
  if (target == nullptr) {
    try {
      own = std::make_unique<unsigned char[]>(size);
    } catch (const std::bad_alloc&) {
      return ErrMapping;
    }
    target = own.get();
  }
  *output = std::make_unique<MemoryOutput>(target, size, std::move(own));
  return ResultOk;
}

}  // namespace postrunner
