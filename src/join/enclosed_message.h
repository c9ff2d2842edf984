// EnclosedMessage rebuilds the files of the message that a set of
// message/partial pieces encloses. It is fed the pieces' bodies, joined in
// order, line by line: first the enclosed message's own header, then its
// body, which is either a single part (written as one file) or a multipart
// whose attachments are each written as a file of their own. Every file
// goes through an OutputFile, so it appears under its real name only when it
// was decoded and written completely, and, when its Content-Disposition
// gives size=, only when it has exactly that many bytes.
#ifndef POSTRUNNER_JOIN_ENCLOSED_MESSAGE_H_
#define POSTRUNNER_JOIN_ENCLOSED_MESSAGE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "join/body_decoder.h"
#include "join/mime_header.h"
#include "join/output_file.h"

namespace postrunner {

// What became of one file of the enclosed message.
struct JoinedFile {
  std::string name;      // the name it was published under, or was meant to get
  uint64_t bytes = 0;    // bytes written
  bool written = false;
  std::string reason;    // why not, when not written
  bool no_attachment = false;  // the message held nothing to write
};

class EnclosedMessage {
 public:
  // Files go to `folder`; one whose header names none is called
  // `fallback_name`, which must be a safe, non-empty name.
  EnclosedMessage(std::string folder, std::string fallback_name);
  EnclosedMessage(const EnclosedMessage&) = delete;
  EnclosedMessage& operator=(const EnclosedMessage&) = delete;

  // The next line of the joined bodies; `ending` is empty when the line goes
  // on in the next call.
  void Line(std::string_view text, std::string_view ending);

  // Stops the rebuild: the file being written is deleted and reported as not
  // written for `reason`.
  void Abort(const std::string& reason);

  // The joined bodies ended. Returns every file, written or not; never empty.
  std::vector<JoinedFile> Finish();

 private:
  enum class State { kHeader, kBody, kPreamble, kPartHeader, kPartBody, kEpilogue, kDone };

  void Process(std::string_view text, std::string_view ending, bool starts);
  void HeaderLine(std::string_view text, std::string_view ending, bool starts);
  void HeaderDone();
  [[nodiscard]] bool IsDelimiter(std::string_view text, bool* closing) const;
  void StartFile(const HeaderBlock& header);
  void EndFile();
  void FailFile(const std::string& reason);
  void Decode(std::string_view text, std::string_view ending);
  [[nodiscard]] bool HoldsWholeLines() const;

  std::string folder_;
  std::string fallback_name_;
  State state_ = State::kHeader;
  HeaderBlock header_;
  std::string delimiter_;    // "--" + boundary, in a multipart
  bool line_start_ = true;   // the next text begins a line
  std::string held_;         // the beginning of a line that arrived cut
  std::string pending_end_;  // line end held back in a part: it may belong to a delimiter
  std::string name_;         // of the file being written
  bool has_size_ = false;    // its header gives its size
  uint64_t size_ = 0;        // that size
  std::unique_ptr<OutputFile> out_;
  std::unique_ptr<BodyDecoder> decoder_;
  std::vector<JoinedFile> files_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_ENCLOSED_MESSAGE_H_
