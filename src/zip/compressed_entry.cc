#include "zip/compressed_entry.h"

#include <cerrno>
#include <vector>

#include "zip/zip_writer.h"

namespace postrunner {
namespace {

// Copies the source into the buffer unchanged. False when the buffer failed.
bool StoreAhead(EntrySource* source, const std::atomic<bool>& cancel, SpillBuffer* data) {
  std::vector<unsigned char> piece(kTransferBufferSize);
  while (!cancel.load(std::memory_order_relaxed)) {
    size_t n = source->Read(piece.data(), piece.size());
    if (n == 0) return true;
    if (!data->Append(piece.data(), n)) return false;
  }
  return true;
}

// Deflates the source into the buffer. Returns ResultOk, ErrWrite for a
// compressor error, or ErrSizeMismatch when the buffer failed.
ArchiveResult DeflateAhead(EntrySource* source, Deflater* deflater,
                           const std::atomic<bool>& cancel, CompressedEntry* entry) {
  DeflatePull pull = [source, &cancel](unsigned char* buffer, unsigned capacity) -> long {
    if (cancel.load(std::memory_order_relaxed)) return 0;
    return static_cast<long>(source->Read(buffer, capacity));
  };
  DeflatePush push = [entry](const unsigned char* p, unsigned n) -> unsigned {
    return entry->data.Append(p, n) ? n : 0;
  };
  DeflateResult result = deflater->Compress(kDeflateLevel, &entry->flags, pull, push);
  if (result.output_failed) return ErrSizeMismatch;
  return result.error.empty() ? ResultOk : ErrWrite;
}

}  // namespace

void CompressAhead(Deflater* deflater, const std::atomic<bool>& cancel,
                   CompressedEntry* entry) {
  EntrySource source;
  if (source.OpenFile(entry->file.get(), entry->bare_name, false) != ResultOk) {
    entry->failure = ErrOpenFile;
    entry->error = errno;
    return;
  }
  entry->metadata = source.metadata();
  ArchiveResult data = ResultOk;
  if (EntryMethod(entry->entry_name, true) == kMethodStored) {
    if (!StoreAhead(&source, cancel, &entry->data)) data = ErrSizeMismatch;
  } else {
    data = DeflateAhead(&source, deflater, cancel, entry);
  }
  const int error = errno;
  if (source.failure() != ResultOk) {
    // The same result the writer gives a source that fails while read.
    entry->failure = source.failure() == ErrRead ? ErrRead : ErrWrite;
    entry->error = error;
  } else if (data == ErrSizeMismatch) {
    entry->data_lost = true;
  } else if (data != ResultOk) {
    entry->failure = data;
    entry->error = 0;
  }
  entry->crc = source.crc();
  entry->uncompressed_size = source.bytes_read();
  source.Close();
}

}  // namespace postrunner
