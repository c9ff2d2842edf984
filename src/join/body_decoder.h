// Decoders for the content transfer encodings of a mail body: base64,
// quoted-printable, and 7bit/8bit/binary (copied). They take a body as it
// arrives, a piece of a line at a time, hold only a few bytes between calls
// and write the decoded bytes to a ByteSink. A base64 text with a character
// outside its alphabet, data after its end, or a last group neither
// complete nor padded is an error, never data.
#ifndef POSTRUNNER_JOIN_BODY_DECODER_H_
#define POSTRUNNER_JOIN_BODY_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace postrunner {

// Where decoded bytes go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes `size` bytes. Returns false when they could not be kept.
  [[nodiscard]] virtual bool Write(const char* data, size_t size) = 0;
};

class BodyDecoder {
 public:
  virtual ~BodyDecoder() = default;
  // Decodes `text`, the next part of a line. Returns false on a decoding
  // error (error() says which) or when the sink failed.
  [[nodiscard]] virtual bool Text(std::string_view text) = 0;
  // The current line ends with `ending` ("\n" or "\r\n").
  [[nodiscard]] virtual bool LineEnd(std::string_view ending) = 0;
  // The body ended. Returns false when it ended inside an encoded unit.
  [[nodiscard]] virtual bool Finish() = 0;
  // What went wrong; empty when the sink failed (the sink knows why).
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

// A decoder for `encoding` (letters folded; empty means 7bit) writing to
// `sink`, which must outlive it. Null for an encoding it does not know.
std::unique_ptr<BodyDecoder> MakeBodyDecoder(std::string_view encoding, ByteSink* sink);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_BODY_DECODER_H_
