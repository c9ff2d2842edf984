// How a message reaches a submission server that wants encryption and
// authentication: the transport security, the credentials and the trust
// anchors. The default value asks for nothing, and the conversation is then
// the plain one (HELO, no TLS, no AUTH).
#ifndef POSTRUNNER_MAIL_MAIL_SECURITY_H_
#define POSTRUNNER_MAIL_MAIL_SECURITY_H_

#include <string>

#include "mail/sasl.h"
#include "platform/secret_memory.h"

namespace postrunner {

enum class MailTransport {
  kPlain,     // no TLS (port 25 unless the server names one)
  kStartTls,  // STARTTLS after the first EHLO (port 587)
  kTls,       // TLS from the first byte (port 465)
};

// Gives a fresh bearer token when the server refused the one in hand
// (expired or revoked before its time). The mail layer tells it of every
// refusal and holds one more conversation only after the first; the owner
// decides whether a fresher token can be had (and forgets a refused one).
class BearerTokenRenewal {
 public:
  virtual ~BearerTokenRenewal() = default;
  // Replaces `*token` with a freshly issued one. False when none can be had:
  // with `*reason` set when asking for one failed, empty when there is no
  // fresher token to ask for (the refused one was just issued).
  [[nodiscard]] virtual bool Renew(std::string* token, std::string* reason) = 0;
};

struct MailSecurity {
  // Set when any secure-submission option or preset was given: the
  // conversation then speaks EHLO and reads the server's extensions.
  bool extended = false;
  MailTransport transport = MailTransport::kPlain;
  // Empty: no AUTH. Otherwise the user to authenticate as.
  std::string user;
  // The password, or the bearer token for XOAUTH2. Never printed.
  std::string secret;
  // Whether the mechanism was chosen by the user; otherwise PLAIN when the
  // server offers it, else LOGIN.
  bool mechanism_chosen = false;
  SaslMechanism mechanism = SaslMechanism::kPlain;
  // PEM file of certificates trusted beside the system store; may be empty.
  std::string ca_file;
  // Where a refused bearer token is renewed; none (nullptr) when the token
  // was given ready. Not owned; must outlive every conversation.
  BearerTokenRenewal* renewal = nullptr;

  // Wipes the secret: no copy leaves it behind in freed memory.
  ~MailSecurity() { WipeSecret(&secret); }
};

// The port a server text without its own port gets for `transport`: 25,
// 587 or 465.
unsigned int DefaultSmtpPort(MailTransport transport);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_MAIL_SECURITY_H_
