// Reading a mail header: HeaderBlock collects the lines of one header block
// (folded lines joined, size bounded), and ParseMimeValue splits a structured
// field such as Content-Type or Content-Disposition into its value and its
// parameters, with quoted strings, comments, RFC 2231 continuations and
// charsets, and encoded-words in names decoded.
#ifndef POSTRUNNER_JOIN_MIME_HEADER_H_
#define POSTRUNNER_JOIN_MIME_HEADER_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace postrunner {

class HeaderBlock {
 public:
  // Bound on the bytes of one header block; more makes it unusable.
  static constexpr size_t kMaxBytes = 256 * 1024;

  // Adds one header line (without its line end). A line that begins with a
  // blank or tab continues the field before it. Returns false once the block
  // passed kMaxBytes.
  [[nodiscard]] bool AddLine(std::string_view line);

  // The value of the first field called `name` (letters folded), leading
  // and trailing white space removed; empty when there is none.
  std::string Get(std::string_view name) const;

  void Clear();

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
  size_t bytes_ = 0;
};

struct MimeValue {
  std::string value;  // "message/partial", "attachment": letters folded
  std::vector<std::pair<std::string, std::string>> params;  // names folded, values decoded

  // The value of parameter `name` (lower case), empty when absent.
  std::string Param(std::string_view name) const;
  [[nodiscard]] bool HasParam(std::string_view name) const;
};

// Parses `text`, the value of a structured header field.
[[nodiscard]] MimeValue ParseMimeValue(std::string_view text);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_MIME_HEADER_H_
