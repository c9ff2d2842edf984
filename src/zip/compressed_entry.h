// An archive entry's data made ahead of its turn, on any thread, so that
// the archive's writer only has to copy it into place: the source is read
// whole, its CRC-32 and size taken, and its data deflated exactly as
// ZipWriter would, into a SpillBuffer. ZipWriter::AddCompressed then
// writes the entry with the bytes AddOpenFile gives the same file.
#ifndef POSTRUNNER_ZIP_COMPRESSED_ENTRY_H_
#define POSTRUNNER_ZIP_COMPRESSED_ENTRY_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "deflate/deflate.h"
#include "platform/scoped_fd.h"
#include "zip/archive.h"
#include "zip/entry_source.h"
#include "zip/spill_buffer.h"

namespace postrunner {

struct CompressedEntry {
  // Keeps at most `memory_limit` bytes of data in memory.
  explicit CompressedEntry(size_t memory_limit) : data(memory_limit) {}
  CompressedEntry(const CompressedEntry&) = delete;
  CompressedEntry& operator=(const CompressedEntry&) = delete;

  // Set by the caller before CompressAhead.
  ScopedFd file;           // the source, an open regular file
  std::string bare_name;   // its own name, for the hidden bit
  std::string entry_name;  // what the archive lists it as (see EntryName)

  // Set by CompressAhead.
  EntryMetadata metadata;  // as the source's headers describe it
  uint16_t flags = 0;      // general purpose bits the compressor adds
  uint32_t crc = 0;
  uint64_t uncompressed_size = 0;
  SpillBuffer data;
  // ResultOk, or why the entry fails (ErrOpenFile, ErrRead, ErrWrite for a
  // compressor error), with the errno value that came with it.
  ArchiveResult failure = ResultOk;
  int error = 0;
  // The writer must read the file itself at its turn: it is stored
  // unchanged or deflated in pieces (4 MiB or more), or the scratch space for
  // its data failed. Not a failure.
  bool redo_at_turn = false;
};

// Reads `entry->file` from its start and deflates it into entry->data,
// using `deflater` (one thread's own); a file whose entry name says it is
// stored unchanged is left for its turn. When `*cancel` becomes true the reading stops early and the result
// means nothing. The file stays open in `entry`.
void CompressAhead(Deflater* deflater, const std::atomic<bool>& cancel,
                   CompressedEntry* entry);

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_COMPRESSED_ENTRY_H_
