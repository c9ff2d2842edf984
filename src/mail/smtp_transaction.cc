// CQXMailMessage sending: the checks before sending, the loop over the
// receivers and one SMTP conversation per receiver: HELO, MAIL, one RCPT per
// address of the receiver's list, DATA, QUIT, or, when secure submission is
// asked for, TLS, EHLO and AUTH before MAIL (smtp_submission.h). A
// conversation may be opened up to MAIL ahead of its message
// (OpenNextConversation), and secured conversations share a TLS session
// cache.
#include <cerrno>
#include <chrono>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mail/address_check.h"
#include "mail/client_identity.h"
#include "mail/mail_message.h"
#include "mail/smtp_conversation.h"
#include "mail/smtp_submission.h"
#include "platform/console.h"
#include "platform/file_io.h"
#include "platform/system_api.h"

namespace postrunner {
namespace {

// RCPT TO for each of `addresses`. When the server refuses one of several,
// the transaction is abandoned (RSET, QUIT) before any data: a message
// that reached only some receivers would leave the others guessing.
bool AddRecipients(SmtpConversation* smtp, const std::vector<std::string>& addresses) {
  for (const std::string& address : addresses) {
    if (smtp->Exchange("RCPT TO: <" + address + ">", true)) continue;
    if (addresses.size() > 1) smtp->Abandon("; nothing was sent to any receiver");
    return false;
  }
  return true;
}

}  // namespace

BOOL CQXMailMessage::IsReplyOK(const std::string& reply) {
  int code = SmtpReplyCode(reply);
  return (code >= 200 && code <= 399) ? TRUE : FALSE;
}

BOOL CQXMailMessage::Transmit(std::string& diagnostics) {
  diagnostics.clear();
  try {
    return TransmitToEach(diagnostics);
  } catch (const std::bad_alloc&) {
    PrintReason("out of memory while sending the mail");
  } catch (const std::exception& e) {
    PrintReason(std::string("sending the mail failed: ") + e.what());
  }
  return FALSE;
}

BOOL CQXMailMessage::TransmitToEach(std::string& diagnostics) {
  const std::vector<std::string> receivers = receivers_;
  const char* missing = sender_.empty()        ? "TRANSMIT: NO SENDER"
                        : receivers.empty()    ? "TRANSMIT: NO RECEIVERS"
                        : mail_server_.text.empty() ? "TRANSMIT: NO SERVER"
                                               : nullptr;
  if (missing) {
    diagnostics += missing;
    if (echo_errors_) PrintLine(missing);
    PrintReason(missing);
    return FALSE;
  }
  BOOL result = TRUE;
  for (size_t i = 0; i < receivers.size(); ++i) {
    // The header is built once, before the conversation and its SIZE check.
    BuildHeader(static_cast<int>(i));
    auto write = [this](SmtpDataWriter& writer) { WriteMessage(writer, false); };
    // Measured with a stand-in for a piece read from its file, which would
    // otherwise be read and encoded twice.
    auto message_bytes = [this] {
      return SmtpDataWriter::DataSize(
          [this](SmtpDataWriter& writer) { WriteMessage(writer, true); });
    };
    if (!Converse(receivers[i], write, message_bytes, diagnostics)) {
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
  const std::string_view content = SmtpDataWriter::WithoutEndOfData(text);
  const MessageWriter write = [content](SmtpDataWriter& writer) { writer.Write(content); };
  return Converse(
      receiver, write, [&write] { return SmtpDataWriter::DataSize(write); }, diagnostics);
}

// A conversation brought up to MAIL: connected, greeted and introduced
// (HELO, or EHLO with TLS and AUTH as asked). `opened` tells whether it got
// there; otherwise the conversation's reason() says why. It keeps its own
// diagnostics until the message's take them.
struct CQXMailMessage::OpenSmtp {
  OpenSmtp(const MailServer& server, int timeout_seconds, bool echo_errors,
           const MailSecurity& security)
      : smtp(server, timeout_seconds, &diagnostics, echo_errors),
        secure(security, server, &smtp) {}

  std::string diagnostics;
  SmtpConversation smtp;
  SmtpSubmission secure;
  bool opened = false;
};

// Here, where the conversation kept for the next message is defined.
CQXMailMessage::CQXMailMessage() {
  // Sockets need no process-wide start-up on this platform.
  Reset(FALSE);
  check_replies_ = TRUE;
}

CQXMailMessage::~CQXMailMessage() = default;

std::unique_ptr<CQXMailMessage::OpenSmtp> CQXMailMessage::OpenConversation(
    const std::string& host_name) {
  auto open = std::make_unique<OpenSmtp>(mail_server_, timeout_, echo_errors_ != FALSE, security_);
  SmtpConversation& smtp = open->smtp;
  SmtpSubmission& secure = open->secure;
  smtp.tls()->SetSessionCache(&tls_sessions_);
  if (!smtp.Connect()) return open;
  // The greeting and every later wait (a TLS handshake included) get the
  // conversation's time-out, raised to its floor once the server is
  // reached.
  if (timeout_ < waits_.minimum_timeout_seconds) timeout_ = waits_.minimum_timeout_seconds;
  smtp.SetTimeout(timeout_);
  const std::string client_name = SmtpClientName(host_name, smtp.socket()->GetSocket());
  open->opened = secure.OpenTls() && secure.AwaitGreeting() &&
                 (security_.extended
                      ? secure.Introduce(client_name)
                      : smtp.Exchange("HELO " + client_name, check_replies_ != FALSE));
  return open;
}

BOOL CQXMailMessage::OpenNextConversation(uint64_t* size_limit) {
  try {
    std::string host_name;
    if (System().HostName(&host_name) != 0) {
      PrintReason("cannot read this computer's host name: " + ErrnoText(errno));
      return FALSE;
    }
    std::string reason;
    std::unique_ptr<OpenSmtp> open = OpenRenewing(host_name, &reason);
    if (!open->opened) {
      PrintReason(reason);
      return FALSE;
    }
    *size_limit = open->secure.extensions().size_limit;
    next_conversation_ = std::move(open);
    return TRUE;
  } catch (const std::bad_alloc&) {
    PrintReason("out of memory while sending the mail");
  }
  return FALSE;
}

BOOL CQXMailMessage::Converse(const std::string& receiver, const MessageWriter& write,
                              const std::function<uint64_t()>& message_bytes,
                              std::string& diagnostics) {
  std::vector<std::string> addresses = SplitAddressList(receiver);
  addresses.insert(addresses.begin(), sender_);
  for (const std::string& address : addresses) {
    std::string problem = AddressProblem(address);
    if (!problem.empty()) {
      diagnostics += "SEND: Address with a control character\n";
      std::string reason = "the mail address \"" + address + "\" ";
      reason += problem;
      PrintReason(reason);
      return FALSE;
    }
  }
  addresses.erase(addresses.begin());
  std::unique_ptr<OpenSmtp> open = std::move(next_conversation_);
  if (open == nullptr) {
    std::string host_name;
    if (System().HostName(&host_name) != 0) {
      diagnostics += "SEND: Unable to retreive the hostname for this computer\n";
      PrintReason("cannot read this computer's host name: " + ErrnoText(errno));
      return FALSE;
    }
    std::string reason;
    open = OpenRenewing(host_name, &reason);
    if (!open->opened) {
      diagnostics += open->diagnostics;
      PrintReason(reason);
      return FALSE;
    }
  }
  SmtpConversation& smtp = open->smtp;
  const bool delivered =
      (!security_.extended || open->secure.CheckSize(message_bytes, split_advice_)) &&
      smtp.Exchange("MAIL From: <" + sender_ + ">", true) && AddRecipients(&smtp, addresses) &&
      smtp.SendData(write);
  if (delivered) smtp.Quit(check_replies_ != FALSE);
  diagnostics += open->diagnostics;
  if (!delivered) {
    PrintReason(smtp.reason());
    return FALSE;
  }
  return TRUE;
}

std::unique_ptr<CQXMailMessage::OpenSmtp> CQXMailMessage::OpenRenewing(
    const std::string& host_name, std::string* reason) {
  // A refused bearer token is handed to the renewal each time (so that it
  // is forgotten); a fresh one gets one more conversation.
  std::string earlier_diagnostics;
  for (bool retried = false;; retried = true) {
    std::unique_ptr<OpenSmtp> open = OpenConversation(host_name);
    open->diagnostics.insert(0, earlier_diagnostics);
    if (open->opened) return open;
    *reason = open->smtp.reason();
    if (!open->secure.token_refused() || security_.renewal == nullptr) return open;
    std::string renew_reason;
    const bool renewed = security_.renewal->Renew(&security_.secret, &renew_reason);
    if (!renew_reason.empty()) *reason = renew_reason;
    if (!renewed || retried) return open;
    earlier_diagnostics = std::move(open->diagnostics);
  }
}

}  // namespace postrunner
