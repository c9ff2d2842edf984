// The DEFLATE compressor, round trip: the input chooses a level (4 to 8),
// the size of the blocks the compressor pulls its input in, where an output
// push falls short and whether to go long; the rest is the data. The data
// is compressed alone and, for one input in sixteen, tiled with small changes
// to a length past the 32 KiB window and the 64 KiB stored block; zlib
// inflates the result. The data is also compressed in pieces of a chosen
// size, each with the data before it as its dictionary, and the pieces
// joined inflate to the data.
//
// Holds: zlib gets back exactly the data, with the stream ending exactly at
// the end of the output; the compressed size counts every byte pushed and
// stays below the data's size plus a fifteenth (which the archive writer's
// ZIP64 choice relies on); the bytes, whole and in pieces, are those the
// plain chain walk gives (the compressor run with the unit tests' reference
// search); no push is longer than a stored block; the level
// sets the flag bits it should; a Deflater that kept its state gives the
// same bytes as a fresh compression; a push that
// falls short stops the run with the bytes taken counted; a bad level fails
// at once and pushes nothing.
#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "deflate/matcher.h"
#include "deflate/reference_match.h"
#include "fuzz_support.h"

namespace postrunner {
namespace {

struct Compressed {
  DeflateResult result;
  std::string bytes;
  uint16_t flags = 0;
  size_t pushes = 0;
  bool fell_short = false;  // a push took less than it was handed
};

// A pull that hands out `data` from *at on, at most `block` bytes a call.
DeflatePull PullFrom(const std::string& data, size_t* at, unsigned block) {
  return [&data, at, block](unsigned char* buffer, unsigned capacity) -> long {
    const size_t n = std::min<size_t>({capacity, block, data.size() - *at});
    std::memcpy(buffer, data.data() + *at, n);
    *at += n;
    return static_cast<long>(n);
  };
}

// A push that appends all it is handed to *out.
DeflatePush AppendTo(std::string* out) {
  return [out](const unsigned char* bytes, unsigned length) -> unsigned {
    out->append(reinterpret_cast<const char*>(bytes), length);
    return length;
  };
}

// Compresses `data` pulled in blocks of at most `block` bytes; the push
// number `short_push` (1-based; 0 = none) takes only half of what it gets.
Compressed Compress(Deflater* deflater, int level, const std::string& data, unsigned block,
                    size_t short_push) {
  Compressed out;
  size_t at = 0;
  const DeflatePull pull = PullFrom(data, &at, block);
  DeflatePush push = [&](const unsigned char* bytes, unsigned length) -> unsigned {
    FUZZ_CHECK(length <= 65535, "a push of " + std::to_string(length) + " bytes");
    const unsigned taken = ++out.pushes == short_push ? length / 2 : length;
    out.fell_short = out.fell_short || taken < length;
    out.bytes.append(reinterpret_cast<const char*>(bytes), taken);
    return taken;
  };
  out.result = deflater != nullptr ? deflater->Compress(level, &out.flags, pull, push)
                                   : DeflateCompress(level, &out.flags, pull, push);
  return out;
}

// Compresses `data` (pulled in blocks of `block`) for a run of `shape` with
// the plain chain walk; returns the bytes. The matcher is kept between runs
// (a run initialises it as new).
std::string CompressByReference(int level, const std::string& data, unsigned block,
                                const DeflateRunShape& shape) {
  static const auto matcher = std::make_unique<deflate::Matcher>();
  std::string out;
  size_t at = 0;
  uint16_t flags = 0;
  const DeflateResult result =
      deflate::RunDeflate(matcher.get(), level, &flags, PullFrom(data, &at, block),
                          AppendTo(&out), deflate::ReferenceLongestMatch, shape);
  FUZZ_CHECK(result.error.empty(), "reference compression failed: " + result.error);
  return out;
}

std::string Inflate(const std::string& compressed, size_t expected_size) {
  z_stream z{};
  FUZZ_CHECK(inflateInit2(&z, -15) == Z_OK, "inflateInit2");
  std::string out(expected_size + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int code = inflate(&z, Z_FINISH);
  const std::string message = z.msg != nullptr ? z.msg : "";
  out.resize(z.total_out);
  const uInt left = z.avail_in;
  inflateEnd(&z);
  FUZZ_CHECK(code == Z_STREAM_END, "zlib: " + std::to_string(code) + " " + message);
  FUZZ_CHECK(left == 0, std::to_string(left) + " bytes after the end of the stream");
  return out;
}

// Compresses `data` with `deflater` and checks the result, and with
// `compare_fresh` checks that a fresh compression gives the same bytes.
// Returns the bytes.
std::string RoundTrip(Deflater* deflater, int level, const std::string& data, unsigned block,
                      bool compare_fresh) {
  const Compressed c = Compress(deflater, level, data, block, 0);
  FUZZ_CHECK(c.result.error.empty() && !c.result.output_failed, "compression failed: " +
                                                                      c.result.error);
  FUZZ_CHECK(c.result.compressed_size == c.bytes.size(), "compressed size miscounted");
  FUZZ_CHECK(c.bytes.size() <= data.size() + data.size() / 15 + 64,
             std::to_string(data.size()) + " bytes grew to " + std::to_string(c.bytes.size()));
  FUZZ_CHECK(c.flags == (level == 8 ? 0x0002 : 0), "flags " + std::to_string(c.flags));
  FUZZ_CHECK(Inflate(c.bytes, data.size()) == data,
             "inflated bytes differ, level " + std::to_string(level) + ", " +
                 std::to_string(data.size()) + " bytes");
  FUZZ_CHECK(CompressByReference(level, data, block, DeflateRunShape{}) == c.bytes,
             "the search gives other bytes than the plain chain walk, level " +
                 std::to_string(level) + ", " + std::to_string(data.size()) + " bytes");
  if (compare_fresh) {
    const Compressed fresh = Compress(nullptr, level, data, block, 0);
    FUZZ_CHECK(fresh.bytes == c.bytes, "a kept Deflater gives other bytes than a fresh one");
  }
  return c.bytes;
}

// Compresses `data` as pieces of `piece` bytes, each with the input before
// it as its dictionary and every one but the last ending on a byte
// boundary, pulled in blocks of `block`; checks that each non-final piece
// ends in an empty stored block and that zlib inflates the joined pieces
// to `data`.
void PiecesRoundTrip(Deflater* deflater, int level, const std::string& data, size_t piece,
                     unsigned block) {
  std::string joined;
  size_t start = 0;
  do {
    const size_t end = std::min(data.size(), start + piece);
    const std::string part = data.substr(start, end - start);
    const DeflateRunShape shape{reinterpret_cast<const unsigned char*>(data.data()),
                                static_cast<unsigned>(start), end == data.size()};
    size_t at = 0;
    std::string out;
    uint16_t flags = 0;
    const DeflateResult result =
        deflater->Compress(level, &flags, PullFrom(part, &at, block), AppendTo(&out), shape);
    FUZZ_CHECK(result.error.empty() && result.compressed_size == out.size(),
               "piece compression failed: " + result.error);
    FUZZ_CHECK(shape.final || (out.size() >= 5 && out.compare(out.size() - 4, 4,
                                                              std::string("\0\0\xff\xff", 4)) == 0),
               "a piece that is not the last must end on an empty stored block");
    FUZZ_CHECK(CompressByReference(level, part, block, shape) == out,
               "a piece's search gives other bytes than the plain chain walk");
    joined += out;
    start = end;
  } while (start < data.size());
  FUZZ_CHECK(Inflate(joined, data.size()) == data,
             "inflated pieces differ, level " + std::to_string(level) + ", " +
                 std::to_string(data.size()) + " bytes in pieces of " + std::to_string(piece));
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  static Deflater kept;
  FuzzedDataProvider provider(data, size);
  const int level = provider.ConsumeIntegralInRange(4, 8);
  const unsigned block = provider.ConsumeIntegralInRange<unsigned>(1, 70000);
  const int copies = provider.ConsumeIntegralInRange(2, 40);
  const size_t short_push = provider.ConsumeIntegralInRange<size_t>(1, 8);
  const bool long_run = provider.ConsumeIntegralInRange(0, 15) == 0;
  const size_t piece = provider.ConsumeIntegralInRange<size_t>(1, 70000);
  const std::string bytes = provider.ConsumeRemainingBytesAsString();

  RoundTrip(&kept, level, bytes, block, long_run);
  const Compressed cut = Compress(&kept, level, bytes, block, short_push);
  if (cut.fell_short) {
    FUZZ_CHECK(cut.result.output_failed && cut.pushes == short_push &&
                   cut.result.compressed_size == cut.bytes.size(),
               "a short push must stop the run, counting what was taken");
  }

  // One input in sixteen is compared with a fresh compression and also goes
  // tiled past 64 KiB, each copy with its first byte changed: long matches,
  // a full window, several blocks.
  if (long_run && !bytes.empty()) {
    std::string tiled;
    for (int k = 0; k < copies; ++k) {
      tiled += bytes;
      tiled[tiled.size() - bytes.size()] ^= static_cast<char>(k);
    }
    while (tiled.size() <= 66000) tiled += tiled.substr(0, 30000);
    RoundTrip(&kept, level, tiled, block, true);
  }
  PiecesRoundTrip(&kept, level, bytes, piece, block);
  if (long_run && !bytes.empty()) {
    // Pieces of a long input, dictionaries of a whole window.
    std::string tiled = bytes;
    while (tiled.size() <= 100000) tiled += tiled.substr(0, 30000) + static_cast<char>(tiled.size());
    PiecesRoundTrip(&kept, level, tiled, std::max<size_t>(piece, 20000), block);
  }
  uint16_t flags = 0;
  size_t pushed = 0;
  const DeflateResult bad = DeflateCompress(
      9, &flags, [](unsigned char*, unsigned) -> long { return -1; },
      [&](const unsigned char*, unsigned length) -> unsigned { return pushed += length, length; });
  FUZZ_CHECK(!bad.error.empty() && pushed == 0 && bad.compressed_size == 0, "level 9 refused");
  return 0;
}
