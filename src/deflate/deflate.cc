// The compressor's entry: one working state per run, block recorder first,
// then the matcher, then the lazy matcher over the whole input.
#include "deflate/deflate.h"

#include <memory>

#include "deflate/bit_writer.h"
#include "deflate/block_recorder.h"
#include "deflate/matcher.h"

namespace postrunner {
namespace deflate {
namespace {

// Everything one run needs, allocated once (about 1.26 MB on x86-64, most of
// it the match finder's tables); nothing is allocated while compressing but
// the key-chain thread's control block.
struct DeflateState {
  DeflateState(const DeflatePush& push, int level)
      : out(push, &errors), recorder(&out, &errors, level) {}

  ErrorSlot errors;
  BitWriter out;
  BlockRecorder recorder;
  Matcher matcher;
};

}  // namespace

DeflateResult DeflateCompressWith(int level, uint16_t* general_flags, const DeflatePull& pull,
                                  const DeflatePush& push, LongestMatchFn search) {
  DeflateResult result;
  if (level < kMinLevel || level > kMaxLevel) {
    result.error = "bad pack level";
    return result;
  }
  auto state = std::make_unique<DeflateState>(push, level);
  state->recorder.Init();
  if (general_flags != nullptr) {
    // Levels 1 and 2 would mark 0x0004; 3 to 7 mark nothing.
    if (level >= 8) *general_flags |= 0x0002;
  }
  state->matcher.Init(level, &pull, &state->errors);
  uint64_t compressed = state->matcher.DeflateLazy(&state->recorder, state->out, search);

  result.output_failed = state->out.failed();
  result.compressed_size = state->out.bytes_pushed();
  if (!result.output_failed && compressed != result.compressed_size) {
    state->errors.Record("bad compressed size");
  }
  if (state->errors.message != nullptr) result.error = state->errors.message;
  return result;
}

}  // namespace deflate

DeflateResult DeflateCompress(int level, uint16_t* general_flags, const DeflatePull& pull,
                              const DeflatePush& push) {
  return deflate::DeflateCompressWith(level, general_flags, pull, push, deflate::LongestMatch);
}

}  // namespace postrunner
