// CQXMailMessage sending: the checks before sending, the loop over the
// receivers and one plain SMTP conversation per receiver (HELO, MAIL, RCPT,
// DATA, QUIT; no extensions, no authentication, no encryption).

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "mail/mail_message.h"
#include "mail/smtp_reply.h"
#include "net/block_sock.h"
#include "platform/console.h"
#include "platform/system_api.h"

namespace postrunner {
namespace {

constexpr unsigned int kSmtpPort = 25;

// The three-digit code at the start of `reply` (a non-digit counts as 0),
// or -1 when its first line is shorter than three characters.
int ReplyCode(const std::string& reply) {
  size_t length = reply.find_first_of(std::string("\r\n\0", 3));
  if (length == std::string::npos) length = reply.size();
  if (length < 3) return -1;
  int code = 0;
  for (size_t i = 0; i < 3; ++i) {
    char c = reply[i];
    code = code * 10 + ((c >= '0' && c <= '9') ? c - '0' : 0);
  }
  return code;
}

// `command` without its line end, for a printed line.
std::string WithoutLineEnd(const std::string& command) {
  size_t end = command.find_last_not_of("\r\n");
  return end == std::string::npos ? std::string() : command.substr(0, end + 1);
}

// The message text as it goes on the wire after DATA: every line that
// begins with "." gets a second "." (so no line of the text can end the data
// early), then the end-of-data line. `text` normally ends in that line
// already ("\r\n.\r\n"), which is not doubled. Returns false, leaving `*out`
// alone, when `text` can go out as it is (the usual case: base64 text and
// the program's headers hold no such line), true with the text in `*out`.
bool DataText(const std::string& text, std::string* out) {
  static const std::string kEnd = "\r\n.\r\n";
  size_t content = text.size();
  bool terminated = false;
  if (text.size() >= kEnd.size() &&
      text.compare(text.size() - kEnd.size(), kEnd.size(), kEnd) == 0) {
    content -= 3;  // keep the CR LF that ends the last line of the text
    terminated = true;
  } else if (text == ".\r\n") {
    content = 0;
    terminated = true;
  }
  size_t dots = (content > 0 && text[0] == '.') ? 1 : 0;
  for (size_t at = text.find("\r\n.");
       at != std::string::npos && at + 2 < content; at = text.find("\r\n.", at + 2)) {
    ++dots;
  }
  if (dots == 0 && terminated) return false;

  out->clear();
  out->reserve(content + dots + 5);
  size_t line_start = 0;
  while (line_start < content) {
    size_t line_end = text.find("\r\n", line_start);
    line_end = (line_end == std::string::npos || line_end + 2 > content) ? content : line_end + 2;
    if (text[line_start] == '.') out->push_back('.');
    out->append(text, line_start, line_end - line_start);
    line_start = line_end;
  }
  if (!out->empty() && (out->size() < 2 || out->compare(out->size() - 2, 2, "\r\n") != 0)) {
    out->append("\r\n");
  }
  out->append(".\r\n");
  return true;
}

}  // namespace

BOOL CQXMailMessage::IsReplyOK(const std::string& reply) {
  int code = ReplyCode(reply);
  return (code >= 200 && code <= 399) ? TRUE : FALSE;
}

BOOL CQXMailMessage::Transmit(std::string& diagnostics) {
  diagnostics.clear();
  const std::vector<std::string> receivers = receivers_;
  const char* missing = sender_.empty()        ? "TRANSMIT: NO SENDER"
                        : receivers.empty()    ? "TRANSMIT: NO RECEIVERS"
                        : mail_server_.empty() ? "TRANSMIT: NO SERVER"
                                               : nullptr;
  if (missing) {
    diagnostics += missing;
    if (echo_errors_) PrintLine(missing);
    return FALSE;
  }
  BOOL result = TRUE;
  for (size_t i = 0; i < receivers.size(); ++i) {
    std::string text = ComposeMessage(static_cast<int>(i), i == 0 ? TRUE : FALSE);
    if (!SendToReceiver(receivers[i], text, diagnostics)) {
      if (result) {
        diagnostics += "Unable to send email to: ";
        result = FALSE;
      } else {
        diagnostics += ", ";
      }
      diagnostics += receivers[i];
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(waits_.pause_milliseconds));
  }
  return result;
}

BOOL CQXMailMessage::SendToReceiver(const std::string& receiver, const std::string& text,
                                    std::string& diagnostics) {
  std::string host_name;
  if (System().HostName(&host_name) != 0) {
    diagnostics += "SEND: Unable to retreive the hostname for this computer\n";
    return FALSE;
  }

  // The socket closes its connection on every way out of this function.
  CQXBlockSock socket;
  if (!socket.ConnectTo(mail_server_, kSmtpPort)) {
    diagnostics += "SEND: Error connecting to the mailserver\n";
    return FALSE;
  }
  SmtpReplyReader replies(&socket);

  // The greeting is read but not judged: what the server says to HELO
  // decides.
  std::string greeting;
  replies.Read(waits_.greeting_seconds, &greeting);
  if (!greeting.empty()) diagnostics += "ServerGreeting: " + greeting;

  if (timeout_ < waits_.minimum_timeout_seconds) timeout_ = waits_.minimum_timeout_seconds;

  const std::string server_line = "From :" + mail_server_ + "\n";
  // Sends `command` and reads its reply. A missing reply always fails the
  // conversation; a negative one fails it when `judge` is set.
  auto exchange = [&](const std::string& command, bool judge) -> bool {
    socket.Send(command);
    std::string reply;
    if (!replies.Read(timeout_, &reply)) {
      diagnostics += "SEND: Error in response to " + command + "\n" + server_line;
      if (echo_errors_) PrintLine("SEND: Error in response to " + WithoutLineEnd(command));
      return false;
    }
    if (judge && !IsReplyOK(reply)) {
      diagnostics += "SEND: Error in response to " + command + "\n" + server_line + reply + "\n";
      if (echo_errors_) PrintLine("SEND: Error in response to " + WithoutLineEnd(command));
      return false;
    }
    return true;
  };

  if (!exchange("HELO " + host_name + "\r\n", check_replies_ != FALSE)) return FALSE;
  if (!exchange("MAIL From: <" + sender_ + ">\r\n", true)) return FALSE;
  if (!exchange("RCPT TO: <" + receiver + ">\r\n", true)) return FALSE;

  // DATA: the text goes out only after the server has invited it (3xx), and
  // the message counts as sent only when the server accepts it (2xx).
  auto data_failed = [&](const std::string& reply) {
    diagnostics += "SEND: Error in response to DATA\n" + server_line + reply + "\n";
    return FALSE;
  };
  std::string reply;
  socket.Send("DATA\r\n");
  if (!replies.Read(timeout_, &reply)) return data_failed("");
  int code = ReplyCode(reply);
  if (code < 300 || code > 399) return data_failed(reply);
  std::string stuffed;
  socket.Send(DataText(text, &stuffed) ? stuffed : text);
  if (!replies.Read(timeout_, &reply)) return data_failed("");
  code = ReplyCode(reply);
  if (code < 200 || code > 299) return data_failed(reply);

  const std::string quit = "QUIT\r\n";
  socket.Send(quit);
  replies.Read(timeout_, &reply);
  if (IsReplyOK(reply) || !check_replies_) {
    socket.Close();
    return TRUE;
  }
  diagnostics += "SEND: Error in response to " + quit + "\n" + server_line + reply + "\n";
  return FALSE;
}

}  // namespace postrunner
