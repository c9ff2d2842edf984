#include "zip/zip_writer.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "deflate/deflate.h"
#include "platform/progress.h"
#include "zip/compressed_entry.h"
#include "zip/piece_deflate.h"

namespace postrunner {
namespace {

// True when the local header of an entry whose source holds `expected_size`
// bytes (-1 = unknown) must carry 8-byte sizes, as it cannot grow once the
// data follows it: the size is unknown, or the entry's data may reach
// 4 GiB. Deflated data of incompressible input comes out a little larger
// than its source, so a deflated entry gets them from 15/16 of that on.
[[nodiscard]] bool LocalHeaderNeedsZip64(int64_t expected_size, uint16_t method) {
  if (expected_size < 0) return true;
  uint64_t size = static_cast<uint64_t>(expected_size);
  if (method == kMethodDeflated) size += size / 15;
  return !Fits32(size);
}

}  // namespace

std::string EntryName(const char* name, bool has_data) {
  std::string entry_name = name;
  std::replace(entry_name.begin(), entry_name.end(), '\\', '/');
  if (!has_data && !entry_name.empty() && entry_name.back() != '/') entry_name += '/';
  return entry_name;
}

uint16_t EntryMethod(std::string_view entry_name, bool has_data) {
  return !has_data || HasStoredExtension(entry_name) ? kMethodStored : kMethodDeflated;
}

ZipWriter::ZipWriter(std::unique_ptr<ZipOutput> output)
    : output_(std::move(output)),
      buffer_(kTransferBufferSize) {}

bool ZipWriter::OutputIdentity(dev_t* device, ino_t* inode) const {
  return output_ && !closed_ && output_->Identity(device, inode);
}

size_t ZipWriter::PutRaw(const void* data, size_t length) {
  if (!output_) {
    sticky_ = ErrBadState;
    return 0;
  }
  errno = 0;  // an output in memory takes less without a system error
  size_t n = output_->Write(data, length);
  if (n != length) NoteError(errno);
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
  const int64_t expected = source_.metadata().expected_size;
  if (expected >= 0 && static_cast<uint64_t>(expected) >= kPieceThreshold) {
    // A big input goes in pieces, on every thread the archive may use.
    return DeflateInPieces(
        &deflater_, threads_, kDeflateLevel, flags,
        [this](unsigned char* buffer, size_t capacity) { return source_.Read(buffer, capacity); },
        [this, compressed](const unsigned char* data, size_t length) {
          const size_t put = PutRaw(data, length);
          *compressed += put;
          return put == length;
        });
  }
  DeflatePull pull = [this](unsigned char* buffer, unsigned capacity) -> long {
    return static_cast<long>(source_.Read(buffer, capacity));
  };
  DeflatePush push = [this, compressed](const unsigned char* data,
                                        unsigned length) -> unsigned {
    size_t put = PutRaw(data, length);
    *compressed += put;
    return static_cast<unsigned>(put);
  };
  DeflateResult result = deflater_.Compress(kDeflateLevel, flags, pull, push);
  if (!result.error.empty()) return ErrCompressor;
  if (result.output_failed) return ErrSizeMismatch;
  return ResultOk;
}

ArchiveResult ZipWriter::RewriteHeader(const ZipEntryRecord& record, uint64_t header_at) {
  ArchiveResult result = ResultOk;
  uint64_t end = written_;
  if (!output_->Seek(header_at)) {
    NoteError(errno);
    result = ErrCannotSeek;
  } else {
    std::vector<unsigned char> header = LocalHeaderBytes(record);
    if (output_->Write(header.data(), header.size()) != header.size()) {
      NoteError(errno);
      result = ErrWrite;
    }
  }
  if (!output_->Seek(end)) {
    NoteError(errno);
    // Later bytes would land in the wrong place: nothing more can be added.
    if (sticky_ == ResultOk) sticky_ = ErrCannotSeek;
    if (result == ResultOk) result = ErrCannotSeek;
  }
  if (sticky_ == ResultOk) sticky_ = output_->StickyFailure();
  return result;
}

ArchiveResult ZipWriter::BeginEntry(const char* name, bool has_data, PendingEntry* entry) {
  if (sticky_ != ResultOk) return ErrAlreadyFailed;
  if (closed_) return ErrClosed;
  if (name == nullptr || *name == '\0') return ErrArguments;
  ZipEntryRecord& record = entry->record;
  record.name = EntryName(name, has_data);
  entry->has_data = has_data;
  if (record.name.size() > kMax16) return ErrTooLarge;
  record.method = EntryMethod(record.name, has_data);
  return ResultOk;
}

void ZipWriter::DescribeEntry(const EntryMetadata& meta, PendingEntry* entry) {
  ZipEntryRecord& record = entry->record;
  const bool size_known = meta.expected_size >= 0;
  const uint64_t expected = size_known ? static_cast<uint64_t>(meta.expected_size) : 0;
  record.flags = record.local_flags = kFlagDataDescriptor;
  record.zip64_local = LocalHeaderNeedsZip64(meta.expected_size, record.method);
  record.dos_date_time = meta.dos_date_time;
  record.crc = 0;
  // A stored entry announces its size so that a reader of a stream that
  // cannot seek back knows where its data ends; a size not known yet is
  // announced as 0.
  record.compressed_size = record.method == kMethodStored ? expected : 0;
  record.uncompressed_size = expected;
  record.modify_time = meta.modify_time;
  record.access_time = meta.access_time;
  record.create_time = meta.create_time;
  record.external_attributes = meta.external_attributes;
  entry->header_at = written_;
  record.local_header_offset = output_->BaseOffset() + written_;
  entry->announced_size = record.compressed_size;
}

ArchiveResult ZipWriter::WriteLocalHeader(const PendingEntry& entry) {
  if (!Put(LocalHeaderBytes(entry.record))) return ErrWrite;
  return sticky_;
}

ArchiveResult ZipWriter::WriteEntryData(PendingEntry* entry) {
  ZipEntryRecord& record = entry->record;
  uint64_t compressed = 0;
  ArchiveResult data = ResultOk;
  if (entry->has_data) {
    data = record.method == kMethodStored ? CopyStored(&compressed)
                                          : RunCompressor(&record.flags, &compressed);
  }
  ArchiveResult read_failure = source_.failure();
  if (read_failure != ResultOk) NoteError(source_.error());
  if (sticky_ != ResultOk) return sticky_;
  if (read_failure != ResultOk) return read_failure == ErrRead ? ErrRead : ErrWrite;
  if (data != ResultOk) return ErrWrite;
  record.crc = source_.crc();
  record.compressed_size = compressed;
  record.uncompressed_size = source_.bytes_read();
  return ResultOk;
}

ArchiveResult ZipWriter::FinishEntry(PendingEntry* entry) {
  ZipEntryRecord& record = entry->record;
  // A source that grew while it was read may outgrow a header that already
  // went out with 32-bit sizes.
  if (!record.zip64_local &&
      !(Fits32(record.compressed_size) && Fits32(record.uncompressed_size))) {
    return ErrTooLarge;
  }
  if (output_->CanSeek()) {
    if (!(record.flags & kFlagEncrypted)) record.flags &= ~kFlagDataDescriptor;
    record.local_flags = record.flags;
    if (ArchiveResult rewritten = RewriteHeader(record, entry->header_at);
        rewritten != ResultOk) {
      return rewritten;
    }
  } else {
    if (record.method == kMethodStored && record.compressed_size != entry->announced_size) {
      return ErrMethodChanged;
    }
    if (!Put(DataDescriptorBytes(record))) return sticky_ != ResultOk ? sticky_ : ErrWrite;
    record.flags = record.local_flags;
  }
  return sticky_;
}

ArchiveResult ZipWriter::AddFromSource(PendingEntry* entry) {
  DescribeEntry(source_.metadata(), entry);
  ArchiveResult result = WriteLocalHeader(*entry);
  if (result == ResultOk) result = WriteEntryData(entry);
  source_.Close();
  if (result == ResultOk) result = FinishEntry(entry);
  if (result == ResultOk) records_.push_back(std::move(entry->record));
  return result;
}

ArchiveResult ZipWriter::AddEntry(const char* name, const void* source, uint32_t size,
                                  uint32_t kind) {
  error_ = 0;
  PendingEntry entry;
  ArchiveResult result = BeginEntry(name, kind != SourceFolder, &entry);
  if (result == ResultOk) {
    result = OpenSource(source, size, kind);
    if (result != ResultOk) NoteError(source_.error());
  }
  if (result == ResultOk) result = AddFromSource(&entry);
  source_.Close();
  return result;
}

ArchiveResult ZipWriter::AddOpenFile(const char* name, int fd, std::string_view bare_name) {
  error_ = 0;
  PendingEntry entry;
  ArchiveResult result = BeginEntry(name, true, &entry);
  if (result == ResultOk) {
    result = source_.OpenFile(fd, bare_name, true);
    if (result != ResultOk) NoteError(source_.error());
  }
  if (result == ResultOk) result = AddFromSource(&entry);
  source_.Close();
  return result;
}

ArchiveResult ZipWriter::AddCompressed(const char* name, CompressedEntry* ahead) {
  error_ = 0;
  PendingEntry entry;
  ArchiveResult result = BeginEntry(name, true, &entry);
  if (result == ResultOk && ahead->failure != ResultOk) {
    error_ = ahead->error;
    return ahead->failure;
  }
  if (result != ResultOk) return result;
  DescribeEntry(ahead->metadata, &entry);
  if (ArchiveResult header = WriteLocalHeader(entry); header != ResultOk) return header;
  ProgressBegin("Archiving " + ahead->bare_name, ahead->uncompressed_size);
  ScopedProgress progress;
  uint64_t compressed = 0;
  const bool copied = ahead->data.Replay([this, &compressed](const unsigned char* p, size_t n) {
    size_t put = PutRaw(p, n);
    compressed += put;
    return put == n;
  });
  if (sticky_ != ResultOk) return sticky_;
  if (!copied) {
    NoteError(errno);  // the scratch file failed, or the output (kept already)
    return ErrWrite;
  }
  ProgressAdvance(ahead->uncompressed_size);
  ZipEntryRecord& record = entry.record;
  record.flags |= ahead->flags;
  record.crc = ahead->crc;
  record.compressed_size = compressed;
  record.uncompressed_size = ahead->uncompressed_size;
  result = FinishEntry(&entry);
  if (result == ResultOk) records_.push_back(std::move(record));
  return result;
}

ArchiveResult ZipWriter::WriteDirectory() {
  // The directory goes at the end of the data; on an output that can seek
  // the writer moves there first, as a failed seek may have left the
  // position elsewhere.
  const uint64_t start = written_;
  if (output_->CanSeek() && !output_->Seek(start)) {
    NoteError(errno);
    return ErrCannotSeek;
  }
  for (const ZipEntryRecord& r : records_) {
    if (!Put(CentralHeaderBytes(r))) return ErrWrite;
  }
  if (!Put(DirectoryEndBytes(records_.size(), written_ - start,
                             output_->BaseOffset() + start))) {
    return ErrWrite;
  }
  return ResultOk;
}

ArchiveResult ZipWriter::Close() {
  error_ = 0;
  ArchiveResult result = ResultOk;
  if (!closed_ && output_) result = WriteDirectory();
  closed_ = true;
  records_.clear();
  if (output_) {
    if (!output_->Finish()) {
      NoteError(errno);
      if (result == ResultOk) result = ErrWrite;
    }
    output_.reset();
  }
  return result;
}

}  // namespace postrunner
