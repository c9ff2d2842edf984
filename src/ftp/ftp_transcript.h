// What the FTP client learns from watching one libcurl transfer: whether the
// login went through (which tells a failed connection from a failed store)
// and the server's last reply line. Also turns the outcome of a failed
// transfer into the status text the user sees and the reason on stderr.
//
// Only command verbs are kept, never their arguments, so the password sent
// with PASS is never stored.
#ifndef POSTRUNNER_FTP_FTP_TRANSCRIPT_H_
#define POSTRUNNER_FTP_FTP_TRANSCRIPT_H_

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace postrunner {

class FtpTranscript {
 public:
  // Takes text the client sent: one or more command lines ending in CR LF.
  void CommandsSent(std::string_view text);

  // Takes text the server sent on the control connection: one or more reply
  // lines (CR LF or LF ends; a missing final end is tolerated).
  void RepliesReceived(std::string_view text);

  // Takes one of libcurl's own notes. SFTP has no reply lines to watch;
  // libcurl notes "Authentication complete" once the SSH login succeeded.
  void NoteReceived(std::string_view text);

  // True once the server answered USER, PASS or ACCT with a final 2xx reply,
  // or an SSH login completed: once the connection was logged in.
  [[nodiscard]] bool logged_in() const { return logged_in_; }

  // The last non-empty line the server sent before QUIT (whose "221" says
  // nothing about a failure), without its line end; empty when it sent none.
  const std::string& last_reply() const { return last_reply_; }

 private:
  void ReplyLine(std::string_view line);

  std::string last_verb_;  // upper-cased verb of the last command sent
  std::string last_reply_;
  bool logged_in_ = false;
};

// The status text of a failed upload.
// - Before the login completed (no connection, unknown name, login refused):
//   libcurl's description of the failure, `error_buffer` when it holds text,
//   else the generic text for `code`.
// - After the login (the store failed): "Error <code> in PutFile".
// - When libcurl reported success but the upload still failed (code is
//   CURLE_OK): the server's last reply line, or "Error in PutFile" when there
//   was none.
std::string FailureStatusText(CURLcode code, bool logged_in, std::string_view error_buffer,
                              std::string_view last_reply);

// The reason for stderr of a transfer libcurl reported as failed: its
// description, then the server's last reply when that is a refusal (4xx or
// 5xx), e.g. "Upload failed (at start/before it took off); server replied:
// 553 Could not create file."; a 4xx reply adds "; temporary: the server
// asks to try again later". The description is `error_buffer`, else the
// generic text for `code`; after an FTP login (the server has replied) it is
// always the generic text, because the buffer keeps libcurl's first note of
// the transfer, which may be a harmless one from setting up an active data
// connection.
std::string FailureReason(CURLcode code, bool logged_in, std::string_view error_buffer,
                          std::string_view last_reply);

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_FTP_TRANSCRIPT_H_
