#include "zip/zip_writer.h"

#include <algorithm>
#include <string>
#include <utility>

#include "deflate/deflate.h"

namespace postrunner {

ZipWriter::ZipWriter(std::unique_ptr<ZipOutput> output)
    : output_(std::move(output)), buffer_(kTransferBufferSize) {}

bool ZipWriter::OutputIdentity(dev_t* device, ino_t* inode) const {
  return output_ && !closed_ && output_->Identity(device, inode);
}

bool ZipWriter::Fits32(uint64_t archive_position) const {
  return output_->BaseOffset() + archive_position <= kMax32;
}

size_t ZipWriter::PutRaw(const void* data, size_t length) {
  if (!output_) {
    sticky_ = ErrBadState;
    return 0;
  }
  size_t n = output_->Write(data, length);
  written_ += n;
  if (sticky_ == ResultOk) sticky_ = output_->StickyFailure();
  return n;
}

bool ZipWriter::Put(const std::vector<unsigned char>& bytes) {
  return PutRaw(bytes.data(), bytes.size()) == bytes.size();
}

ArchiveResult ZipWriter::OpenSource(const void* source, uint32_t size, uint32_t kind) {
  switch (kind) {
    case SourceFileName:
      return source_.OpenFileName(static_cast<const char*>(source));
    case SourceHandle:
      return source_.OpenHandle(static_cast<const int*>(source), size);
    case SourceMemory:
      return source_.OpenMemory(source, size);
    case SourceFolder:
      return source_.OpenFolder();
    default:
      return ErrArguments;
  }
}

ArchiveResult ZipWriter::CopyStored(uint64_t* compressed) {
  for (;;) {
    size_t n = source_.Read(buffer_.data(), buffer_.size());
    if (n == 0) return ResultOk;
    size_t put = PutRaw(buffer_.data(), n);
    *compressed += put;
    if (put != n) return ErrSizeMismatch;
  }
}

ArchiveResult ZipWriter::RunCompressor(uint16_t* flags, uint64_t* compressed) {
  bool too_large = false;
  DeflatePull pull = [this](unsigned char* buffer, unsigned capacity) -> long {
    return static_cast<long>(source_.Read(buffer, capacity));
  };
  DeflatePush push = [this, compressed, &too_large](const unsigned char* data,
                                                   unsigned length) -> unsigned {
    if (*compressed + length > kMax32) {
      too_large = true;
      return 0;
    }
    size_t put = PutRaw(data, length);
    *compressed += put;
    return static_cast<unsigned>(put);
  };
  DeflateResult result = DeflateCompress(kDeflateLevel, flags, pull, push);
  if (too_large) return ErrTooLarge;
  if (!result.error.empty()) return ErrCompressor;
  if (result.output_failed) return ErrSizeMismatch;
  return ResultOk;
}

ArchiveResult ZipWriter::RewriteHeader(const ZipEntryRecord& record, uint64_t header_at) {
  ArchiveResult result = ResultOk;
  uint64_t end = written_;
  if (!output_->Seek(header_at)) {
    result = ErrCannotSeek;
  } else {
    std::vector<unsigned char> header = LocalHeaderBytes(record);
    if (output_->Write(header.data(), header.size()) != header.size()) result = ErrWrite;
  }
  if (!output_->Seek(end)) {
    // Later bytes would land in the wrong place: nothing more can be added.
    if (sticky_ == ResultOk) sticky_ = ErrCannotSeek;
    if (result == ResultOk) result = ErrCannotSeek;
  }
  if (sticky_ == ResultOk) sticky_ = output_->StickyFailure();
  return result;
}

ArchiveResult ZipWriter::AddEntry(const char* name, const void* source, uint32_t size,
                                  uint32_t kind) {
  if (sticky_ != ResultOk) return ErrAlreadyFailed;
  if (closed_) return ErrClosed;
  if (name == nullptr || *name == '\0') return ErrArguments;

  ZipEntryRecord record;
  record.name = name;
  std::replace(record.name.begin(), record.name.end(), '\\', '/');
  if (kind == SourceFolder && record.name.back() != '/') record.name += '/';
  if (record.name.size() > kMax16 || records_.size() >= kMax16) return ErrTooLarge;
  uint64_t header_at = written_;
  if (!Fits32(header_at)) return ErrTooLarge;
  record.method = (kind == SourceFolder || HasStoredExtension(record.name)) ? kMethodStored
                                                                           : kMethodDeflated;

  if (ArchiveResult opened = OpenSource(source, size, kind); opened != ResultOk) {
    source_.Close();
    return opened;
  }
  const EntryMetadata& meta = source_.metadata();
  bool size_known = meta.expected_size >= 0;
  record.flags = record.local_flags = kFlagDataDescriptor;
  record.dos_date_time = meta.dos_date_time;
  record.crc = 0;
  record.compressed_size =
      (record.method == kMethodStored && size_known) ? static_cast<uint32_t>(meta.expected_size)
                                                     : 0;
  // A size not known yet is announced as 0: 0xFFFFFFFF would tell readers
  // to look for ZIP64 records. A stored entry announces its size so that a
  // reader of a stream that cannot seek back knows where its data ends.
  record.uncompressed_size = size_known ? static_cast<uint32_t>(meta.expected_size) : 0;
  record.modify_time = meta.modify_time;
  record.access_time = meta.access_time;
  record.create_time = meta.create_time;
  record.external_attributes = meta.external_attributes;
  record.local_header_offset = static_cast<uint32_t>(output_->BaseOffset() + header_at);
  const uint32_t announced_size = record.compressed_size;

  if (!Put(LocalHeaderBytes(record))) {
    source_.Close();
    return ErrWrite;
  }
  if (sticky_ != ResultOk) {
    source_.Close();
    return sticky_;
  }

  uint64_t compressed = 0;
  ArchiveResult data = ResultOk;
  if (kind != SourceFolder) {
    data = record.method == kMethodStored ? CopyStored(&compressed)
                                          : RunCompressor(&record.flags, &compressed);
  }
  ArchiveResult read_failure = source_.failure();
  source_.Close();

  if (sticky_ != ResultOk) return sticky_;
  if (read_failure == ErrTooLarge || data == ErrTooLarge) return ErrTooLarge;
  if (read_failure != ResultOk) return read_failure == ErrRead ? ErrRead : ErrWrite;
  if (data != ResultOk) return ErrWrite;

  record.crc = source_.crc();
  record.compressed_size = static_cast<uint32_t>(compressed);
  record.uncompressed_size = static_cast<uint32_t>(source_.bytes_read());

  if (output_->CanSeek()) {
    if (!(record.flags & kFlagEncrypted)) record.flags &= ~kFlagDataDescriptor;
    record.local_flags = record.flags;
    if (ArchiveResult rewritten = RewriteHeader(record, header_at); rewritten != ResultOk) {
      return rewritten;
    }
  } else {
    if (record.method == kMethodStored && record.compressed_size != announced_size) {
      return ErrMethodChanged;
    }
    if (!Put(DataDescriptorBytes(record))) return sticky_ != ResultOk ? sticky_ : ErrWrite;
    record.flags = record.local_flags;
  }
  if (sticky_ != ResultOk) return sticky_;
  // The central directory must start at an offset the end record can hold.
  if (!Fits32(written_)) return ErrTooLarge;
  records_.push_back(std::move(record));
  listed_end_ = written_;
  return ResultOk;
}

ArchiveResult ZipWriter::Close() {
  ArchiveResult result = ResultOk;
  if (!closed_ && output_) {
    uint64_t directory_size = 0;
    for (const ZipEntryRecord& r : records_) {
      directory_size += kCentralHeaderSize + r.name.size() + kCentralExtraSize;
    }
    // The directory goes at the end of the data; on an output that can seek
    // the writer moves there first, as a failed seek may have left the
    // position elsewhere. When bytes of a refused entry pushed the archive
    // past 4 GiB, it goes right after the last listed entry instead and the
    // output is cut there.
    uint64_t start = written_;
    bool cut = false;
    if (!Fits32(start) && output_->CanSeek()) {
      start = listed_end_;
      cut = true;
    }
    if (!Fits32(start) || directory_size > kMax32) {
      result = ErrTooLarge;
    } else if (output_->CanSeek() && !output_->Seek(start)) {
      result = ErrCannotSeek;
    } else {
      written_ = start;
      for (const ZipEntryRecord& r : records_) {
        if (!Put(CentralHeaderBytes(r))) {
          result = ErrWrite;
          break;
        }
      }
      if (result == ResultOk &&
          !Put(EndRecordBytes(static_cast<uint16_t>(records_.size()),
                              static_cast<uint32_t>(written_ - start),
                              static_cast<uint32_t>(output_->BaseOffset() + start)))) {
        result = ErrWrite;
      }
      if (result == ResultOk && cut && !output_->Truncate(written_)) result = ErrWrite;
    }
  }
  closed_ = true;
  records_.clear();
  if (output_) {
    if (!output_->Finish() && result == ResultOk) result = ErrWrite;
    output_.reset();
  }
  return result;
}

}  // namespace postrunner
