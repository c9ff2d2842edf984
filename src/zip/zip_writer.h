// ZipWriter: writes one archive in a single forward pass through its
// ZipOutput. Each entry goes through separate steps: prepare (open the
// source and describe the entry), write its local header, write its data
// (stored or deflated), and finish its record (seek back to rewrite the
// header with the final CRC and sizes or, on an output that cannot seek,
// append a data descriptor). It keeps one small record per listed entry and
// writes the central directory and its end from them on Close. Sizes,
// offsets and counts past the classic 32-bit and 16-bit fields get ZIP64
// fields. ArchiveHandle owns the writer; tests may build one directly on a
// fake output.
#ifndef POSTRUNNER_ZIP_ZIP_WRITER_H_
#define POSTRUNNER_ZIP_ZIP_WRITER_H_

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "deflate/deflate.h"
#include "zip/archive.h"
#include "zip/entry_source.h"
#include "zip/zip_format.h"
#include "zip/zip_output.h"

namespace postrunner {

// DEFLATE level of every compressed entry.
inline constexpr int kDeflateLevel = 8;
// Size of the transfer buffer for stored copies.
inline constexpr size_t kTransferBufferSize = 16384;

struct CompressedEntry;

// The name an entry is listed under: `name` with backslashes turned into
// '/', and a trailing '/' for a folder entry (`has_data` false).
std::string EntryName(const char* name, bool has_data);

// How the entry listed as `entry_name` keeps its data: stored for a folder
// or a name with an extension of compressed data, deflated otherwise.
[[nodiscard]] uint16_t EntryMethod(std::string_view entry_name, bool has_data);

class ZipWriter {
 public:
  // Writes to `output`, which must not be null.
  explicit ZipWriter(std::unique_ptr<ZipOutput> output);
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Adds one entry; see ArchiveAddEntry for the arguments and results.
  [[nodiscard]]
  ArchiveResult AddEntry(const char* name, const void* source, uint32_t size, uint32_t kind);

  // Adds the disk file open on `fd` (it stays the caller's) as `name`, with
  // `bare_name` deciding its hidden bit; otherwise as AddEntry with a file
  // name, progress line included.
  [[nodiscard]] ArchiveResult AddOpenFile(const char* name, int fd, std::string_view bare_name);

  // Adds an entry whose data CompressAhead made away from the writer,
  // giving the same bytes as AddOpenFile on its file. A failure recorded in
  // `ahead` is the entry's result, with its error as error().
  [[nodiscard]] ArchiveResult AddCompressed(const char* name, CompressedEntry* ahead);

  // Writes the central directory and its end (once) and releases the
  // output. Returns ResultOk when the archive is complete.
  [[nodiscard]] ArchiveResult Close();

  // The system's reason (an errno value) for the failure of the last
  // AddEntry, AddOpenFile, AddCompressed or Close: the first system call
  // that failed in it; 0 when none did or the call succeeded.
  int error() const { return error_; }

  // Lets an entry deflated in pieces (see piece_deflate.h) use up to
  // `threads` threads (at least 1, the default); the bytes do not change.
  void SetThreads(unsigned threads) { threads_ = threads < 1 ? 1 : threads; }

  // Identity of the output file; false when it is not a file.
  [[nodiscard]] bool OutputIdentity(dev_t* device, ino_t* inode) const;

  // The records of the entries listed so far, in order.
  const std::vector<ZipEntryRecord>& records() const { return records_; }

 private:
  // One entry between its steps.
  struct PendingEntry {
    ZipEntryRecord record;
    uint64_t header_at = 0;        // archive position of its local header
    uint64_t announced_size = 0;   // compressed size the first header gave
    bool has_data = true;          // false for a folder entry
  };

  // The entry steps. Each returns ResultOk or why the entry fails.
  // Checks the call and names the entry; writes nothing.
  [[nodiscard]] ArchiveResult BeginEntry(const char* name, bool has_data, PendingEntry* entry);
  // Fills the record from what the source's headers say, before its data.
  void DescribeEntry(const EntryMetadata& meta, PendingEntry* entry);
  // Writes the entry whose source is open, closes the source and lists the
  // entry when it succeeded.
  [[nodiscard]] ArchiveResult AddFromSource(PendingEntry* entry);
  // Writes the local header as it stands before the data is known.
  [[nodiscard]] ArchiveResult WriteLocalHeader(const PendingEntry& entry);
  // Writes the data, stored or deflated, and records its CRC and sizes.
  [[nodiscard]] ArchiveResult WriteEntryData(PendingEntry* entry);
  // Makes the header or a data descriptor tell the final CRC and sizes.
  [[nodiscard]] ArchiveResult FinishEntry(PendingEntry* entry);

  [[nodiscard]] ArchiveResult OpenSource(const void* source, uint32_t size, uint32_t kind);
  // Writes `bytes` and counts what went out. True when all of them did.
  [[nodiscard]] bool Put(const std::vector<unsigned char>& bytes);
  [[nodiscard]] size_t PutRaw(const void* data, size_t length);
  // The data steps; each returns ResultOk or why the entry fails and adds
  // the bytes written to `*compressed`.
  // Keeps `error` as this call's reason unless one is kept already.
  void NoteError(int error) {
    if (error_ == 0) error_ = error;
  }
  [[nodiscard]] ArchiveResult CopyStored(uint64_t* compressed);
  [[nodiscard]] ArchiveResult RunCompressor(uint16_t* flags, uint64_t* compressed);
  // Rewrites the local header of `record` at archive position `header_at`.
  [[nodiscard]] ArchiveResult RewriteHeader(const ZipEntryRecord& record, uint64_t header_at);
  // Writes the central directory and its end at the end of the data.
  [[nodiscard]] ArchiveResult WriteDirectory();

  std::unique_ptr<ZipOutput> output_;
  ArchiveResult sticky_ = ResultOk;
  int error_ = 0;  // see error()
  uint64_t written_ = 0;      // archive-relative position of the next byte
  bool closed_ = false;
  std::vector<ZipEntryRecord> records_;
  EntrySource source_;
  std::vector<unsigned char> buffer_;
  Deflater deflater_;  // kept from entry to entry
  unsigned threads_ = 1;  // most threads an entry deflated in pieces uses
};

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_ZIP_WRITER_H_
