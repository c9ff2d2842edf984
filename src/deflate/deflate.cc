// The compressor's entry: the block recorder first, then the matcher, then
// the lazy matcher over the whole input.
#include "deflate/deflate.h"

#include <memory>

#include "deflate/bit_writer.h"
#include "deflate/block_recorder.h"
#include "deflate/matcher.h"

namespace postrunner {
namespace deflate {
namespace {

// What one run needs beside the matcher, allocated per run; the matcher's
// tables (about 1.2 MB, most of the state) may be kept between runs.
// Nothing is allocated while compressing.
struct OutputState {
  OutputState(const DeflatePush& push, int level)
      : out(push, &errors), recorder(&out, &errors, level) {}

  ErrorSlot errors;
  BitWriter out;
  BlockRecorder recorder;
};

}  // namespace

DeflateResult RunDeflate(Matcher* matcher, int level, uint16_t* general_flags,
                         const DeflatePull& pull, const DeflatePush& push,
                         LongestMatchFn search, const DeflateRunShape& shape) {
  DeflateResult result;
  if (level < kMinLevel || level > kMaxLevel) {
    result.error = "bad pack level";
    return result;
  }
  auto state = std::make_unique<OutputState>(push, level);
  state->recorder.Init();
  if (general_flags != nullptr) {
    // Levels 1 and 2 would mark 0x0004; 3 to 7 mark nothing.
    if (level >= 8) *general_flags |= 0x0002;
  }
  matcher->Init(level, &pull, &state->errors, shape.dictionary, shape.dictionary_size);
  uint64_t compressed = matcher->DeflateLazy(&state->recorder, state->out, search, shape.final);

  result.output_failed = state->out.failed();
  result.compressed_size = state->out.bytes_pushed();
  if (!result.output_failed && compressed != result.compressed_size) {
    state->errors.Record("bad compressed size");
  }
  if (state->errors.message != nullptr) result.error = state->errors.message;
  return result;
}

DeflateResult DeflateCompressWith(int level, uint16_t* general_flags, const DeflatePull& pull,
                                  const DeflatePush& push, LongestMatchFn search) {
  auto matcher = std::make_unique<Matcher>();
  return RunDeflate(matcher.get(), level, general_flags, pull, push, search, DeflateRunShape{});
}

}  // namespace deflate

DeflateResult DeflateCompress(int level, uint16_t* general_flags, const DeflatePull& pull,
                              const DeflatePush& push) {
  return deflate::DeflateCompressWith(level, general_flags, pull, push, deflate::LongestMatch);
}

Deflater::Deflater() = default;

Deflater::~Deflater() = default;

DeflateResult Deflater::Compress(int level, uint16_t* general_flags, const DeflatePull& pull,
                                 const DeflatePush& push) {
  return Compress(level, general_flags, pull, push, DeflateRunShape{});
}

DeflateResult Deflater::Compress(int level, uint16_t* general_flags, const DeflatePull& pull,
                                 const DeflatePush& push, const DeflateRunShape& shape) {
  if (!matcher_) matcher_ = std::make_unique<deflate::Matcher>();
  return deflate::RunDeflate(matcher_.get(), level, general_flags, pull, push,
                             deflate::LongestMatch, shape);
}

}  // namespace postrunner
