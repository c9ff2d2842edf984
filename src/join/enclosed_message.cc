#include "join/enclosed_message.h"

#include "join/safe_name.h"
#include "platform/ascii.h"

namespace postrunner {
namespace {

// A cut line in a multipart body is held until this long: longer than any
// delimiter line (a boundary has at most 70 characters).
constexpr size_t kDelimiterHold = 256;

std::string Folded(std::string text) {
  for (char& c : text) c = FoldAscii(c);
  return text;
}

// The size= of a Content-Disposition (RFC 2183): decimal digits only, at
// most 19 of them. Returns false when absent or not such a number, which
// leaves nothing to check the file against.
[[nodiscard]] bool ParseSize(const std::string& text, uint64_t* size) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  *size = value;
  return true;
}

}  // namespace

EnclosedMessage::EnclosedMessage(std::string folder, std::string fallback_name)
    : folder_(std::move(folder)), fallback_name_(std::move(fallback_name)) {}

bool EnclosedMessage::HoldsWholeLines() const {
  return state_ == State::kHeader || state_ == State::kPartHeader ||
         state_ == State::kPreamble || state_ == State::kPartBody;
}

void EnclosedMessage::Line(std::string_view text, std::string_view ending) {
  if (state_ == State::kDone || state_ == State::kEpilogue) return;
  if (!held_.empty() || (line_start_ && ending.empty() && HoldsWholeLines())) {
    const bool header = state_ == State::kHeader || state_ == State::kPartHeader;
    const size_t limit = header ? HeaderBlock::kMaxBytes : kDelimiterHold;
    held_.append(text);
    if (ending.empty() && held_.size() < limit) return;
    const std::string whole = std::move(held_);
    held_.clear();
    line_start_ = !ending.empty();
    Process(whole, ending, true);
    return;
  }
  const bool starts = line_start_;
  line_start_ = !ending.empty();
  Process(text, ending, starts);
}

void EnclosedMessage::Process(std::string_view text, std::string_view ending, bool starts) {
  bool closing = false;
  switch (state_) {
    case State::kHeader:
    case State::kPartHeader:
      HeaderLine(text, ending, starts);
      break;
    case State::kBody:
      Decode(text, ending);
      break;
    case State::kPreamble:
      if (starts && IsDelimiter(text, &closing)) {
        state_ = closing ? State::kEpilogue : State::kPartHeader;
        header_.Clear();
      }
      break;
    case State::kPartBody:
      if (starts && IsDelimiter(text, &closing)) {
        pending_end_.clear();  // the line end before a delimiter is part of it
        EndFile();
        state_ = closing ? State::kEpilogue : State::kPartHeader;
        header_.Clear();
        break;
      }
      if (starts && !pending_end_.empty()) Decode("", pending_end_);
      pending_end_ = std::string(ending);
      Decode(text, "");
      break;
    case State::kEpilogue:
    case State::kDone:
      break;
  }
}

void EnclosedMessage::HeaderLine(std::string_view text, std::string_view ending, bool starts) {
  if (!starts || !header_.AddLine(text)) {
    Abort("the header of the enclosed message is too long");
    return;
  }
  if (text.empty() && !ending.empty()) HeaderDone();
}

void EnclosedMessage::HeaderDone() {
  if (state_ == State::kHeader) {
    MimeValue type = ParseMimeValue(header_.Get("content-type"));
    if (type.value.rfind("multipart/", 0) == 0 && !type.Param("boundary").empty()) {
      delimiter_ = "--" + type.Param("boundary");
      state_ = State::kPreamble;
      return;
    }
    StartFile(header_);
    state_ = State::kBody;
    return;
  }
  // A part is written when it is an attachment or carries a name.
  MimeValue disposition = ParseMimeValue(header_.Get("content-disposition"));
  MimeValue type = ParseMimeValue(header_.Get("content-type"));
  if (disposition.value == "attachment" || !disposition.Param("filename").empty() ||
      !type.Param("name").empty()) {
    StartFile(header_);
  }
  pending_end_.clear();
  state_ = State::kPartBody;
}

bool EnclosedMessage::IsDelimiter(std::string_view text, bool* closing) const {
  if (text.size() < delimiter_.size() || text.substr(0, delimiter_.size()) != delimiter_) {
    return false;
  }
  std::string_view rest = text.substr(delimiter_.size());
  *closing = rest.substr(0, 2) == "--";
  if (*closing) rest.remove_prefix(2);
  return rest.find_first_not_of(" \t") == std::string_view::npos;
}

void EnclosedMessage::StartFile(const HeaderBlock& header) {
  MimeValue disposition = ParseMimeValue(header.Get("content-disposition"));
  MimeValue type = ParseMimeValue(header.Get("content-type"));
  has_size_ = ParseSize(disposition.Param("size"), &size_);
  name_ = SafeFileName(disposition.Param("filename"));
  if (name_.empty()) name_ = SafeFileName(type.Param("name"));
  if (name_.empty()) name_ = fallback_name_;
  std::string encoding = Folded(header.Get("content-transfer-encoding"));
  out_ = std::make_unique<OutputFile>(folder_);
  decoder_ = MakeBodyDecoder(encoding, out_.get());
  if (!decoder_) {
    FailFile("unknown content transfer encoding \"" + encoding.substr(0, 40) + "\"");
  } else if (!out_->Create()) {
    FailFile(out_->error());
  }
}

void EnclosedMessage::Decode(std::string_view text, std::string_view ending) {
  if (!decoder_) return;
  bool ok = text.empty() || decoder_->Text(text);
  if (ok && !ending.empty()) ok = decoder_->LineEnd(ending);
  if (!ok) FailFile(out_->error().empty() ? decoder_->error() : out_->error());
}

void EnclosedMessage::EndFile() {
  if (!decoder_) return;
  if (!decoder_->Finish()) {
    FailFile(out_->error().empty() ? decoder_->error() : out_->error());
    return;
  }
  if (has_size_ && out_->bytes() != size_) {
    FailFile("rebuilt " + std::to_string(out_->bytes()) + " bytes where the header gives size=" +
             std::to_string(size_));
    return;
  }
  JoinedFile file;
  if (out_->Publish(name_, &file.name)) {
    file.written = true;
    file.bytes = out_->bytes();
  } else {
    file.name = name_;
    file.reason = out_->error();
  }
  files_.push_back(std::move(file));
  decoder_.reset();
  out_.reset();
}

void EnclosedMessage::FailFile(const std::string& reason) {
  JoinedFile file;
  file.name = name_;
  file.reason = reason;
  std::string left;
  if (out_ && !out_->Discard(&left)) file.reason += "; " + left;
  files_.push_back(std::move(file));
  decoder_.reset();
  out_.reset();
}

void EnclosedMessage::Abort(const std::string& reason) {
  if (state_ == State::kDone) return;
  if (!decoder_) name_ = fallback_name_;
  FailFile(reason);
  state_ = State::kDone;
}

std::vector<JoinedFile> EnclosedMessage::Finish() {
  if (!held_.empty()) {
    const std::string rest = std::move(held_);
    held_.clear();
    Process(rest, "", true);  // holding always begins at a line start
  }
  switch (state_) {
    case State::kHeader:
      Abort("the enclosed message has no body");
      break;
    case State::kBody:
      EndFile();
      break;
    case State::kPreamble:
    case State::kPartHeader:
    case State::kPartBody:
      Abort("the enclosed message ends before its closing boundary");
      break;
    case State::kEpilogue:
    case State::kDone:
      break;
  }
  if (files_.empty()) {
    name_ = fallback_name_;
    FailFile("the enclosed message holds no attachment");
    files_.back().no_attachment = true;
  }
  state_ = State::kDone;
  return std::move(files_);
}

}  // namespace postrunner
