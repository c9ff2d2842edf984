// The secure-submission steps of one SMTP conversation (RFC 6409): TLS from
// the first byte or after STARTTLS (RFC 3207), EHLO and the server's
// extensions, AUTH (RFC 4954) and the SIZE check (RFC 1870). They run on an
// SmtpConversation's connection between the connect and MAIL; the
// conversation's socket runs over its TLS layer, so after a handshake the
// same Send and Receive carry the encrypted stream.
//
// Every step is bounded by the conversation's time-out. A step that fails
// records its reason in the conversation (SmtpConversation::Fail): the
// server's reply or the TLS error, never a password or token.
#ifndef POSTRUNNER_MAIL_SMTP_SUBMISSION_H_
#define POSTRUNNER_MAIL_SMTP_SUBMISSION_H_

#include <cstdint>
#include <functional>
#include <string>

#include "mail/mail_security.h"
#include "mail/mail_server.h"
#include "mail/smtp_extensions.h"

namespace postrunner {

class SmtpConversation;

class SmtpSubmission {
 public:
  // `server` is the mail server (its host is the name the certificate must
  // carry); `smtp` is connected to it. `security` and `smtp` are not owned
  // and must outlive this.
  SmtpSubmission(const MailSecurity& security, const MailServer& server, SmtpConversation* smtp);

  SmtpSubmission(const SmtpSubmission&) = delete;
  SmtpSubmission& operator=(const SmtpSubmission&) = delete;

  // With implicit TLS, the handshake right after the connect, before the
  // greeting; otherwise nothing. False when it failed.
  bool OpenTls();

  // Waits for the greeting (SmtpConversation::AwaitGreeting). Where a port
  // that speaks TLS from the first byte is a likely mix-up (STARTTLS asked
  // for, or a plain connection to port 465), such a port's silence ends the
  // wait after 10 seconds with a reason that suggests /TLS.
  bool AwaitGreeting();

  // EHLO `client_name`; with STARTTLS, the upgrade and EHLO again; then
  // AUTH when a user is set. Without TLS, AUTH goes only to a peer on a
  // loopback address, as the connected socket names it; to any other peer
  // nothing of the credentials is sent and the step fails ("refusing to
  // send credentials unencrypted to <server> (use /StartTLS or /TLS)").
  // False at the first failure.
  bool Introduce(const std::string& client_name);

  // False, with a reason naming both sizes, when the server's SIZE limit is
  // below the message's size, which `message_bytes` gives (asked only when
  // the server names a limit); `suggest_split` adds advice to let the file
  // be split.
  bool CheckSize(const std::function<uint64_t()>& message_bytes, bool suggest_split);

  // Whether AUTH failed because the server refused the bearer token (a 5xx
  // reply, after the error challenge or without one): a fresh token may
  // then succeed.
  bool token_refused() const { return token_refused_; }

  // The extensions of the last EHLO reply.
  const SmtpExtensions& extensions() const { return extensions_; }

 private:
  // Sends `line` (CR LF added) and reads the whole reply into `*reply`.
  // `shown` names the command in a reason (never the secret). False with
  // `*reason` when no reply came.
  bool Exchange(const std::string& line, const char* shown, std::string* reply,
                std::string* reason);
  bool Ehlo(const std::string& client_name, std::string* reason);
  bool StartTls(std::string* reason);
  bool Handshake(std::string* reason);
  bool Authenticate(std::string* reason);
  // XOAUTH2 or OAUTHBEARER: the initial response and, after an error
  // challenge, the answer that ends it. True when a final reply came; it is
  // then in `*reply`.
  bool AuthenticateWithToken(SaslMechanism mechanism, std::string* reply, std::string* reason);
  // The mechanism to use, or false with `*reason`.
  bool ChooseMechanism(SaslMechanism* mechanism, std::string* reason) const;
  // `reply` as one line of a reason, with any trace of the secret removed.
  std::string Shown(const std::string& reply) const;

  const MailSecurity& security_;
  std::string server_;
  std::string host_;
  unsigned port_;
  SmtpConversation* smtp_;
  SmtpExtensions extensions_;
  bool token_refused_ = false;
};

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_SMTP_SUBMISSION_H_
