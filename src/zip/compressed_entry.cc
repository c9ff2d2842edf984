#include "zip/compressed_entry.h"


#include "zip/piece_deflate.h"
#include "zip/zip_writer.h"

namespace postrunner {
namespace {

// Deflates the source into the buffer. Returns ResultOk, ErrWrite for a
// compressor error, or ErrSizeMismatch when the buffer failed.
[[nodiscard]]
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
  if (EntryMethod(entry->entry_name, true) == kMethodStored) {
    // Copying costs no more at its turn than ahead of it, and ahead of it a
    // big file would pass through a scratch file.
    entry->redo_at_turn = true;
    return;
  }
  EntrySource source;
  if (source.OpenFile(entry->file.get(), entry->bare_name, false) != ResultOk) {
    entry->failure = ErrOpenFile;
    entry->error = source.error();
    return;
  }
  entry->metadata = source.metadata();
  if (entry->metadata.expected_size >= 0 &&
      static_cast<uint64_t>(entry->metadata.expected_size) >= kPieceThreshold) {
    // Deflated in pieces at its turn, on every thread.
    entry->redo_at_turn = true;
    source.Close();
    return;
  }
  const ArchiveResult data = DeflateAhead(&source, deflater, cancel, entry);
  if (source.failure() != ResultOk) {
    // The same result the writer gives a source that fails while read.
    entry->failure = source.failure() == ErrRead ? ErrRead : ErrWrite;
    entry->error = source.error();
  } else if (data == ErrSizeMismatch) {
    entry->redo_at_turn = true;
  } else if (data != ResultOk) {
    entry->failure = data;
    entry->error = 0;
  }
  entry->crc = source.crc();
  entry->uncompressed_size = source.bytes_read();
  source.Close();
}

}  // namespace postrunner
