#include "ftp/ftp_transcript.h"

#include "net/curl_handle.h"
#include "platform/ascii.h"

namespace postrunner {
namespace {

// Calls `line_fn` for each line of `text`, without its CR LF or LF; blank
// lines are skipped.
template <typename LineFn>
void ForEachLine(std::string_view text, LineFn line_fn) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (!line.empty()) line_fn(line);
  }
}

// libcurl's description of a failure: its error buffer when that holds
// text, else the generic text for `code`.
std::string Description(CURLcode code, std::string_view error_buffer) {
  if (!error_buffer.empty()) return std::string(error_buffer);
  return CurlLibraryReady() ? Curl().easy_strerror(code) : "libcurl could not be loaded";
}

}  // namespace

void FtpTranscript::CommandsSent(std::string_view text) {
  ForEachLine(text, [this](std::string_view line) {
    std::string_view verb = line.substr(0, line.find(' '));
    last_verb_.clear();
    for (char c : verb) last_verb_.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
  });
}

void FtpTranscript::RepliesReceived(std::string_view text) {
  ForEachLine(text, [this](std::string_view line) { ReplyLine(line); });
}

void FtpTranscript::NoteReceived(std::string_view text) {
  if (text.substr(0, 23) == "Authentication complete") logged_in_ = true;
}

void FtpTranscript::ReplyLine(std::string_view line) {
  if (last_verb_ == "QUIT") return;
  last_reply_.assign(line);
  // A final reply is three digits and a blank (or the digits alone); "230-"
  // opens a multi-line reply whose last line carries the blank.
  bool final_reply = line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) &&
                     IsDigit(line[2]) && (line.size() == 3 || line[3] == ' ');
  if (final_reply && line[0] == '2' &&
      (last_verb_ == "USER" || last_verb_ == "PASS" || last_verb_ == "ACCT")) {
    logged_in_ = true;
  }
}

std::string FailureStatusText(CURLcode code, bool logged_in, std::string_view error_buffer,
                              std::string_view last_reply) {
  if (code == CURLE_OK) {
    return last_reply.empty() ? std::string("Error in PutFile") : std::string(last_reply);
  }
  if (!logged_in) return Description(code, error_buffer);
  return "Error " + std::to_string(static_cast<int>(code)) + " in PutFile";
}

std::string FailureReason(CURLcode code, bool logged_in, std::string_view error_buffer,
                          std::string_view last_reply) {
  bool ftp_after_login = logged_in && !last_reply.empty();
  std::string reason = code == CURLE_USE_SSL_FAILED
                           ? "The server refused AUTH TLS, which /FTPTLS requires"
                           : Description(code, ftp_after_login ? "" : error_buffer);
  // Only a refusal explains a failure; "234 AUTH TLS successful" before a
  // failed certificate check would only mislead.
  if (!last_reply.empty() && (last_reply[0] == '4' || last_reply[0] == '5')) {
    reason += "; server replied: ";
    reason += last_reply;
    if (last_reply[0] == '4') reason += "; temporary: the server asks to try again later";
  }
  return reason;
}

}  // namespace postrunner
