// SmtpConversation: one SMTP conversation with the mail server, as a series
// of steps the caller runs in order (connect, greeting, one exchange per
// command, the message data, QUIT). Each step reports whether the
// conversation may go on; when it may not, the step has appended the
// program's diagnostic text to the caller's diagnostics and reason() tells a
// person why, naming the server's reply (code and text) to the command that
// failed or the socket's error. New steps (a secured channel, a login) slot
// in between the greeting and MAIL without touching the others.
//
// The conversation owns its socket; the connection closes when the object
// goes, on every path.
#ifndef POSTRUNNER_MAIL_SMTP_CONVERSATION_H_
#define POSTRUNNER_MAIL_SMTP_CONVERSATION_H_

#include <functional>
#include <string>

#include "mail/mail_server.h"
#include "mail/smtp_data_writer.h"
#include "mail/smtp_reply.h"
#include "net/block_sock.h"
#include "net/tls_socket_api.h"

namespace postrunner {

class SmtpConversation {
 public:
  // Writes a message text into the data writer.
  using MessageWriter = std::function<void(SmtpDataWriter&)>;

  // A conversation with `server` in which every wait lasts at most
  // `timeout_seconds`. Diagnostics are appended to `*diagnostics`, which
  // must outlive the object; with `echo_errors` a failed command is also
  // printed on standard output. The connection goes through `network`
  // (tests pass a fake peer), which must outlive the object.
  SmtpConversation(const MailServer& server, int timeout_seconds, std::string* diagnostics,
                   bool echo_errors, SocketApi& network = SystemSocketApi());

  SmtpConversation(const SmtpConversation&) = delete;
  SmtpConversation& operator=(const SmtpConversation&) = delete;

  // Connects to the server's host and port.
  bool Connect();

  // Changes the time-out of every later wait.
  void SetTimeout(int seconds) { timeout_ = seconds; }

  // Waits for the server's greeting, up to the time-out. Its text goes into
  // the diagnostics; its code is not judged (the reply to HELO decides).
  // False when no greeting came: nothing may be sent before it. With a
  // `quiet_limit` below the time-out, a server that sends nothing at all in
  // that many seconds ends the wait then, with `quiet_reason` as reason().
  bool AwaitGreeting(int quiet_limit = 0, const std::string& quiet_reason = "");

  // The host and port connected to, as "host:port" ("[v6]:port").
  std::string HostAndPort() const;

  // Sends `command` (one line, without its line end) and reads the reply.
  // False when no reply came, or when `judge` is set and the reply is not
  // positive (2xx or 3xx). `shown` names the command in reasons (commands
  // that carry a secret pass a form without it); empty means `command`.
  bool Exchange(const std::string& command, bool judge, const std::string& shown = "");

  // DATA: sends the command, and only after the server invited the text
  // (3xx) the text that `write` produces, then the end-of-data line. True
  // when the server took the message (2xx): it is then delivered, whatever
  // happens afterwards. A text the writer abandoned gets no end-of-data
  // line; the writer's reason is then reason().
  bool SendData(const MessageWriter& write);

  // QUIT and its reply. A missing or negative reply is recorded in the
  // diagnostics when `judge` is set, but the message, already taken, stays
  // delivered. Closes the connection.
  void Quit(bool judge);

  // Ends a transaction the server refused part of: RSET, then QUIT, each
  // reply read but not judged, and closes the connection. Nothing of the
  // message has been sent. `note` is appended to reason().
  void Abandon(const std::string& note);

  // Why the conversation failed, for one line on standard error.
  const std::string& reason() const { return reason_; }

  // Records a failure of a step of the caller's own: "SEND: " `reason` in
  // the diagnostics, and `reason` as reason(). Returns false.
  bool Fail(const std::string& reason);

  // The connection, for steps of the caller's own (TLS, AUTH): the socket,
  // the TLS layer it runs over, its reply reader and the time-out.
  CQXBlockSock* socket() { return &socket_; }
  TlsSocketApi* tls() { return &tls_; }
  SmtpReplyReader* replies() { return &replies_; }
  int timeout() const { return timeout_; }

 private:
  // Records a failed exchange: the diagnostic line for `command` (and the
  // reply, when there was one) and the reason, which names the send's error
  // when `command` was not `sent`.
  void CommandFailed(const std::string& command, const std::string& shown, bool sent,
                     const std::string* reply);
  // Records a failure of the DATA step with `reply` (empty: none came).
  bool DataFailed(const std::string& reply, const std::string& reason);
  // Why the last read or send failed, from the socket's error code.
  std::string SocketReason() const;

  const std::string server_;  // the text, for reasons
  const HostPort address_;
  int timeout_;
  std::string* diagnostics_;
  const bool echo_errors_;
  // The socket runs over the TLS layer, which passes everything through
  // until a handshake is made.
  TlsSocketApi tls_;
  CQXBlockSock socket_{tls_};
  SmtpReplyReader replies_{&socket_};
  std::string reason_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_SMTP_CONVERSATION_H_
