// CQXMailMessage sending: the checks before sending, the loop over the
// receivers and one SMTP conversation per receiver: HELO, MAIL, one RCPT per
// address of the receiver's list, DATA, QUIT, or, when secure submission is asked for, TLS, EHLO and AUTH before
// MAIL (smtp_submission.h).
#include <cerrno>
#include <chrono>
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

// The size of the message `write` produces as SIZE counts it: the data as
// it goes on the wire, without the end-of-data line.
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

uint64_t MessageBytes(const SmtpConversation::MessageWriter& write) {
  uint64_t bytes = 0;
  SmtpDataWriter counter([&bytes](const std::string& block) {
    bytes += block.size();
    return true;
  });
  write(counter);
  counter.Finish();
  return bytes >= 3 ? bytes - 3 : 0;
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
      return MessageBytes([this](SmtpDataWriter& writer) { WriteMessage(writer, true); });
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
      receiver, write, [&write] { return MessageBytes(write); }, diagnostics);
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
      PrintReason(std::string("the mail address \"").append(address).append("\" ").append(problem));
      return FALSE;
    }
  }
  addresses.erase(addresses.begin());
  std::string host_name;
  if (System().HostName(&host_name) != 0) {
    diagnostics += "SEND: Unable to retreive the hostname for this computer\n";
    PrintReason("cannot read this computer's host name: " + ErrnoText(errno));
    return FALSE;
  }

  // A refused bearer token is handed to the renewal each time; a fresh one
  // gets one more conversation.
  bool token_refused = false;
  std::string reason;
  for (bool retried = false;; retried = true) {
    if (Deliver(host_name, addresses, write, message_bytes, diagnostics, &token_refused,
                &reason)) {
      return TRUE;
    }
    if (!token_refused || security_.renewal == nullptr) break;
    std::string renew_reason;
    const bool renewed = security_.renewal->Renew(&security_.secret, &renew_reason);
    if (!renew_reason.empty()) reason = renew_reason;
    if (!renewed || retried) break;
  }
  PrintReason(reason);
  return FALSE;
}

bool CQXMailMessage::Deliver(const std::string& host_name,
                             const std::vector<std::string>& addresses,
                             const MessageWriter& write,
                             const std::function<uint64_t()>& message_bytes,
                             std::string& diagnostics, bool* token_refused,
                             std::string* reason) {
  SmtpConversation smtp(mail_server_, timeout_, &diagnostics, echo_errors_ != FALSE);
  SmtpSubmission secure(security_, mail_server_, &smtp);
  bool delivered = smtp.Connect();
  if (delivered) {
    // The greeting and every later wait (a TLS handshake included) get the
    // conversation's time-out, raised to its floor once the server is
    // reached.
    if (timeout_ < waits_.minimum_timeout_seconds) timeout_ = waits_.minimum_timeout_seconds;
    smtp.SetTimeout(timeout_);
    const std::string client_name = SmtpClientName(host_name, smtp.socket()->GetSocket());
    delivered = secure.OpenTls() && secure.AwaitGreeting() &&
                (security_.extended
                     ? secure.Introduce(client_name) &&
                           secure.CheckSize(message_bytes, split_advice_)
                     : smtp.Exchange("HELO " + client_name, check_replies_ != FALSE)) &&
                smtp.Exchange("MAIL From: <" + sender_ + ">", true) &&
                AddRecipients(&smtp, addresses) && smtp.SendData(write);
  }
  if (!delivered) {
    *token_refused = secure.token_refused();
    *reason = smtp.reason();
    return false;
  }
  smtp.Quit(check_replies_ != FALSE);
  return true;
}

}  // namespace postrunner
