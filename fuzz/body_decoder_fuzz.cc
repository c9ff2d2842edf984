// The body decoders of the join (base64, quoted-printable, 7bit copy): the
// input's first byte picks the encoding and the byte budget of a sink that
// fails, the rest is a body, fed line by line as the join feeds it. Each
// body is decoded three times: whole lines, lines cut into pieces of 1 to
// 16 bytes, and whole lines into the sink that runs out.
//
// Holds: the sink is only ever handed readable bytes (the sanitizer checks
// the copy); cutting lines anywhere changes neither the result nor the
// bytes; a decoder that fails says why unless the sink failed, and a sink
// failure always fails the decoder; a sink with room enough changes nothing.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "join/body_decoder.h"

namespace postrunner {
namespace {

using fuzz::Shown;

class StringSink : public ByteSink {
 public:
  explicit StringSink(size_t budget) : budget_(budget) {}
  bool Write(const char* data, size_t size) override {
    if (bytes.size() + size > budget_) {
      failed = true;
      return false;
    }
    const size_t at = bytes.size();
    bytes.resize(at + size);
    if (size > 0) std::memcpy(bytes.data() + at, data, size);
    return true;
  }
  std::string bytes;
  bool failed = false;

 private:
  size_t budget_;
};

struct Outcome {
  bool ok = true;
  std::string error;
  std::string bytes;
  bool sink_failed = false;
};

struct Line {
  std::string_view text, ending;
};

std::vector<Line> Lines(std::string_view body) {
  std::vector<Line> lines;
  while (!body.empty()) {
    size_t end = body.find('\n');
    if (end == std::string_view::npos) {
      lines.push_back({body, ""});
      break;
    }
    const bool crlf = end > 0 && body[end - 1] == '\r';
    lines.push_back({body.substr(0, crlf ? end - 1 : end), body.substr(crlf ? end - 1 : end,
                                                                        crlf ? 2 : 1)});
    body.remove_prefix(end + 1);
  }
  return lines;
}

Outcome Decode(std::string_view encoding, const std::vector<Line>& lines, bool cut,
               size_t budget) {
  StringSink sink(budget);
  std::unique_ptr<BodyDecoder> decoder = MakeBodyDecoder(encoding, &sink);
  FUZZ_CHECK(decoder != nullptr, "no decoder for " + std::string(encoding));
  Outcome out;
  for (const Line& line : lines) {
    std::string_view text = line.text;
    while (out.ok && !text.empty()) {
      size_t piece = cut ? 1 + static_cast<unsigned char>(text[0]) % 16 : text.size();
      piece = std::min(piece, text.size());
      out.ok = decoder->Text(text.substr(0, piece));
      text.remove_prefix(piece);
    }
    if (out.ok) out.ok = decoder->LineEnd(line.ending);
    if (!out.ok) break;
  }
  if (out.ok) out.ok = decoder->Finish();
  out.error = decoder->error();
  out.bytes = sink.bytes;
  out.sink_failed = sink.failed;
  return out;
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  if (size == 0) return 0;
  static constexpr std::string_view kEncodings[] = {"base64", "quoted-printable", "7bit"};
  const std::string_view encoding = kEncodings[data[0] % 3];
  const size_t budget = data[0] / 3;
  const std::vector<Line> lines = Lines(fuzz::Input(data + 1, size - 1));

  const Outcome whole = Decode(encoding, lines, false, SIZE_MAX);
  FUZZ_CHECK(whole.ok == whole.error.empty(), "a failure says why: " + Shown(whole.error));
  const Outcome cut = Decode(encoding, lines, true, SIZE_MAX);
  FUZZ_CHECK(cut.ok == whole.ok, "cut lines " + std::string(cut.ok ? "succeed" : "fail") +
                                     " where whole lines do not: " + Shown(cut.error) +
                                     Shown(whole.error));
  if (whole.ok) {
    FUZZ_CHECK(cut.bytes == whole.bytes,
               "cut lines give " + Shown(cut.bytes) + ", whole lines " + Shown(whole.bytes));
  }
  const Outcome tight = Decode(encoding, lines, false, budget);
  if (tight.sink_failed) {
    FUZZ_CHECK(!tight.ok && tight.error.empty(), "a sink failure fails the decoder quietly");
  } else {
    FUZZ_CHECK(tight.ok == whole.ok && tight.bytes == whole.bytes,
               "a sink with room enough changes the result");
  }
  return 0;
}
