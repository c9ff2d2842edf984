// DEFLATE compressor (RFC 1951). It knows nothing of archives: it pulls its
// input through one function and pushes its output through another, and
// returns how many compressed bytes it pushed.
#ifndef POSTRUNNER_DEFLATE_DEFLATE_H_
#define POSTRUNNER_DEFLATE_DEFLATE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace postrunner {
namespace deflate {
struct Matcher;
}  // namespace deflate

// Fills up to `capacity` bytes of `buffer`; returns the count, 0 or -1 at
// the end of the input.
using DeflatePull = std::function<long(unsigned char* buffer, unsigned capacity)>;

// Takes `length` bytes of output; returns how many it took. Fewer than
// `length` ends the compression with `output_failed` set.
using DeflatePush = std::function<unsigned(const unsigned char* data, unsigned length)>;

// How one run ends and what precedes its input, for a caller that cuts a
// long input into pieces compressed apart (each on its own thread, say) and
// joins their outputs into one stream: a piece starts from the last 32 KiB
// of the input before it as its dictionary, and every piece but the last ends
// on a byte boundary with an empty stored block that is not the final one.
// The default is a whole stream on its own.
struct DeflateRunShape {
  const unsigned char* dictionary = nullptr;  // input just before this piece
  unsigned dictionary_size = 0;               // its bytes; only the last 32768 count
  bool final = true;                          // false: end byte-aligned, not final
};

struct DeflateResult {
  uint64_t compressed_size = 0;  // bytes handed to push
  std::string error;             // internal error message; empty when none
  bool output_failed = false;    // a push took less than it was handed
};

// Compresses the whole input at `level` and adds the level's bits to
// `*general_flags` (a ZIP general purpose flag word; may be null): 0x0002
// for level 8, nothing for 4 to 7. Levels 4 to 8 run the lazy matcher; any
// other level fails at once with error "bad pack level" and pushes nothing.
// Output goes to `push` in pieces of at most 16384 bytes, except the data of
// stored blocks, which is pushed in one piece of up to 65535 bytes. A short
// push stops the run (output_failed; compressed_size then counts the bytes
// taken). Allocates about 1.2 MB of working state for the call and runs on
// the caller's thread alone.
[[nodiscard]]
DeflateResult DeflateCompress(int level, uint16_t* general_flags,
                              const DeflatePull& pull, const DeflatePush& push);

// A compressor that keeps its working state from one input to the next, for
// a caller that compresses many inputs in turn: the state is allocated and
// zeroed once instead of per input. Each Compress behaves as DeflateCompress
// and gives the same bytes. One Deflater serves one thread at a time.
class Deflater {
 public:
  Deflater();
  ~Deflater();
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // As DeflateCompress.
  [[nodiscard]]
  DeflateResult Compress(int level, uint16_t* general_flags, const DeflatePull& pull,
                         const DeflatePush& push);

  // As DeflateCompress, for one piece of a longer input shaped by `shape`.
  // The default shape gives Compress's bytes.
  [[nodiscard]]
  DeflateResult Compress(int level, uint16_t* general_flags, const DeflatePull& pull,
                         const DeflatePush& push, const DeflateRunShape& shape);

 private:
  std::unique_ptr<deflate::Matcher> matcher_;  // allocated on first use
};

}  // namespace postrunner

#endif  // POSTRUNNER_DEFLATE_DEFLATE_H_
