#include "mail/smtp_conversation.h"

#include "net/socket_errors.h"
#include "platform/console.h"

namespace postrunner {
namespace {

constexpr const char* kCrLf = "\r\n";

// `reply` without the line end of its last line, for a reason; a
// temporary refusal says so.
std::string ReplyForReason(const std::string& reply) {
  size_t end = reply.find_last_not_of("\r\n");
  return (end == std::string::npos ? std::string() : reply.substr(0, end + 1)) +
         TemporaryNote(reply);
}

bool IsPositive(int code) { return code >= 200 && code <= 399; }

}  // namespace

SmtpConversation::SmtpConversation(const MailServer& server, int timeout_seconds,
                                   std::string* diagnostics, bool echo_errors,
                                   SocketApi& network)
    : server_(server.text),
      address_(server.address),
      timeout_(timeout_seconds),
      diagnostics_(diagnostics),
      echo_errors_(echo_errors),
      tls_(network) {}

std::string SmtpConversation::SocketReason() const {
  return SocketErrorReason(socket_.GetErrorCode());
}

std::string SmtpConversation::HostAndPort() const {
  const bool v6 = address_.host.find(':') != std::string::npos;
  return (v6 ? "[" + address_.host + "]" : address_.host) + ":" + std::to_string(address_.port);
}

bool SmtpConversation::Connect() {
  socket_.SetTimeout(timeout_);
  if (socket_.ConnectTo(address_)) return true;
  *diagnostics_ += "SEND: Error connecting to the mailserver\n";
  // The port is named even when the server's text leaves it to the default.
  const std::string port = ":" + std::to_string(address_.port);
  const bool names_port = server_.size() > port.size() &&
                          server_.compare(server_.size() - port.size(), port.size(), port) == 0;
  reason_ = "cannot connect to the mail server " +
            (names_port || address_.host.empty() ? server_ : HostAndPort()) + ": " +
            SocketReason();
  return false;
}

bool SmtpConversation::Fail(const std::string& reason) {
  *diagnostics_ += "SEND: " + reason + "\n";
  reason_ = reason;
  return false;
}

bool SmtpConversation::AwaitGreeting(int quiet_limit, const std::string& quiet_reason) {
  std::string greeting;
  bool greeted = false;
  int waited = 0;
  if (quiet_limit > 0 && quiet_limit < timeout_) {
    greeted = replies_.Read(quiet_limit, &greeting);
    const bool timed_out = !greeted && socket_.GetErrorCode() == QXE_TIMEOUT;
    // Part of a greeting means a slow server, which gets the rest of the time.
    waited = timed_out && replies_.HasPending() ? quiet_limit : timeout_;
    if (timed_out && !replies_.HasPending()) {
      *diagnostics_ += "SEND: No greeting from the mailserver\nFrom :" + server_ + "\n";
      reason_ = quiet_reason;
      return false;
    }
  }
  if (!greeted && waited < timeout_) greeted = replies_.Read(timeout_ - waited, &greeting);
  if (!greeted) {
    *diagnostics_ += "SEND: No greeting from the mailserver\nFrom :" + server_ + "\n";
    reason_ = "the mail server " + server_ + " sent no greeting: " + SocketReason();
    return false;
  }
  *diagnostics_ += "ServerGreeting: " + greeting;
  return true;
}

void SmtpConversation::CommandFailed(const std::string& command, const std::string& shown,
                                     bool sent, const std::string* reply) {
  *diagnostics_ += "SEND: Error in response to " + command + kCrLf + "\nFrom :" + server_ + "\n";
  if (reply) {
    *diagnostics_ += *reply + "\n";
    reason_ = "the mail server " + server_ + " refused " + shown + ": " + ReplyForReason(*reply);
  } else if (!sent) {
    reason_ = "sending " + shown + " to the mail server " + server_ + " failed: " + SocketReason();
  } else {
    reason_ = "no reply from the mail server " + server_ + " to " + shown + ": " + SocketReason();
  }
}

bool SmtpConversation::Exchange(const std::string& command, bool judge,
                                const std::string& shown) {
  const std::string& name = shown.empty() ? command : shown;
  // A command that did not go out gets no reply read: the wait would only
  // replace the send's error with its own.
  const bool sent = socket_.Send(command + kCrLf) != FALSE;
  std::string reply;
  const bool replied = sent && replies_.Read(timeout_, &reply);
  if (replied && (!judge || IsPositive(SmtpReplyCode(reply)))) return true;
  CommandFailed(command, name, sent, replied ? &reply : nullptr);
  if (echo_errors_) PrintLine("SEND: Error in response to " + command);
  return false;
}

bool SmtpConversation::DataFailed(const std::string& reply, const std::string& reason) {
  *diagnostics_ += "SEND: Error in response to DATA\nFrom :" + server_ + "\n" + reply + "\n";
  reason_ = reason;
  return false;
}

bool SmtpConversation::SendData(const MessageWriter& write) {
  std::string reply;
  if (!socket_.Send(std::string("DATA") + kCrLf)) {
    return DataFailed("",
                      "sending DATA to the mail server " + server_ + " failed: " + SocketReason());
  }
  if (!replies_.Read(timeout_, &reply)) {
    return DataFailed("", "no reply from the mail server " + server_ + " to DATA: " +
                              SocketReason());
  }
  int code = SmtpReplyCode(reply);
  if (code < 300 || code > 399) {
    return DataFailed(reply, "the mail server " + server_ + " refused DATA: " +
                                 ReplyForReason(reply));
  }
  SmtpDataWriter writer([this](const std::string& block) { return socket_.Send(block) != FALSE; });
  write(writer);
  if (!writer.Finish()) {
    if (writer.abandoned()) return Fail(writer.abandon_reason());
    // Whatever the server said before it stopped reading tells most.
    if (replies_.Read(0, &reply)) {
      return DataFailed(reply, "the mail server " + server_ + " refused the message: " +
                                   ReplyForReason(reply));
    }
    return DataFailed("", "sending the message to the mail server " + server_ +
                              " failed: " + SocketReason());
  }
  if (!replies_.Read(timeout_, &reply)) {
    return DataFailed("", "no reply from the mail server " + server_ +
                              " to the end of the message: " + SocketReason());
  }
  code = SmtpReplyCode(reply);
  if (code < 200 || code > 299) {
    return DataFailed(reply, "the mail server " + server_ + " refused the message: " +
                                 ReplyForReason(reply));
  }
  return true;
}

void SmtpConversation::Abandon(const std::string& note) {
  reason_ += note;
  std::string reply;
  for (const char* command : {"RSET", "QUIT"}) {
    if (!socket_.Send(std::string(command) + kCrLf) || !replies_.Read(timeout_, &reply)) break;
  }
  socket_.Close();
}

void SmtpConversation::Quit(bool judge) {
  const std::string quit = "QUIT";
  std::string reply;
  // The server took the message before QUIT, so a QUIT that cannot be sent
  // or gets no reply changes nothing for the sender: neither failure is
  // reported, and a judged one is only noted in the diagnostics (with an
  // empty reply).
  const bool replied = socket_.Send(quit + kCrLf) != FALSE && replies_.Read(timeout_, &reply);
  if (judge && !(replied && IsPositive(SmtpReplyCode(reply)))) {
    // Only recorded: the server took the message with its reply to the
    // end of the data, so a sender that retried would mail it twice.
    *diagnostics_ += "SEND: Error in response to " + quit + kCrLf + "\nFrom :" + server_ + "\n" +
                     reply + "\n";
  }
  socket_.Close();
}

}  // namespace postrunner
