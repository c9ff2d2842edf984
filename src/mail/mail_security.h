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

  // Wipes the secret: no copy leaves it behind in freed memory.
  ~MailSecurity() { WipeSecret(&secret); }
};

// The port a server text without its own port gets for `transport`: 25,
// 587 or 465.
unsigned int DefaultSmtpPort(MailTransport transport);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_MAIL_SECURITY_H_
