// ZipWriter: writes one archive in a single forward pass through its
// ZipOutput. For each entry it writes a local header, the data (stored or
// deflated), then either seeks back to rewrite the header with the final
// CRC and sizes or, on an output that cannot seek, appends a data
// descriptor. It keeps one small record per listed entry and writes the
// central directory and end record from them on Close. ArchiveHandle owns
// the writer; tests may build one directly on a fake output.
#ifndef POSTRUNNER_ZIP_ZIP_WRITER_H_
#define POSTRUNNER_ZIP_ZIP_WRITER_H_

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "zip/archive.h"
#include "zip/entry_source.h"
#include "zip/zip_format.h"
#include "zip/zip_output.h"

namespace postrunner {

// DEFLATE level of every compressed entry.
inline constexpr int kDeflateLevel = 8;
// Size of the transfer buffer for stored copies.
inline constexpr size_t kTransferBufferSize = 16384;

class ZipWriter {
 public:
  // Writes to `output`, which must not be null.
  explicit ZipWriter(std::unique_ptr<ZipOutput> output);
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Adds one entry; see ArchiveAddEntry for the arguments and results.
  ArchiveResult AddEntry(const char* name, const void* source, uint32_t size, uint32_t kind);

  // Writes the central directory and end record (once) and releases the
  // output. Returns ResultOk when the archive is complete.
  ArchiveResult Close();

  // Identity of the output file; false when it is not a file.
  bool OutputIdentity(dev_t* device, ino_t* inode) const;

  // The records of the entries listed so far, in order.
  const std::vector<ZipEntryRecord>& records() const { return records_; }

 private:
  ArchiveResult OpenSource(const void* source, uint32_t size, uint32_t kind);
  // Writes `bytes` and counts what went out. True when all of them did.
  bool Put(const std::vector<unsigned char>& bytes);
  size_t PutRaw(const void* data, size_t length);
  // The data steps; each returns ResultOk or why the entry fails and adds
  // the bytes written to `*compressed`.
  ArchiveResult CopyStored(uint64_t* compressed);
  ArchiveResult RunCompressor(uint16_t* flags, uint64_t* compressed);
  // Rewrites the local header of `record` at archive position `header_at`.
  ArchiveResult RewriteHeader(const ZipEntryRecord& record, uint64_t header_at);
  bool Fits32(uint64_t archive_position) const;

  std::unique_ptr<ZipOutput> output_;
  ArchiveResult sticky_ = ResultOk;
  uint64_t written_ = 0;      // archive-relative position of the next byte
  uint64_t listed_end_ = 0;   // end of the last listed entry
  bool closed_ = false;
  std::vector<ZipEntryRecord> records_;
  EntrySource source_;
  std::vector<unsigned char> buffer_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_ZIP_WRITER_H_
