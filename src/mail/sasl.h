// Client responses of the SASL mechanisms the program authenticates with,
// base64-encoded as SMTP AUTH carries them (RFC 4954): PLAIN (RFC 4616),
// LOGIN (the user name and the password, each in answer to its own
// challenge) and XOAUTH2 (an OAuth 2.0 bearer token). The results hold the
// secret in reversible form: they go only to the server, never to a log.
#ifndef POSTRUNNER_MAIL_SASL_H_
#define POSTRUNNER_MAIL_SASL_H_

#include <string>

namespace postrunner {

enum class SaslMechanism { kPlain, kLogin, kXoauth2 };

// The mechanism's name as AUTH names it ("PLAIN", "LOGIN", "XOAUTH2").
const char* SaslMechanismName(SaslMechanism mechanism);

// PLAIN's initial response: base64 of NUL, `user`, NUL, `password` (no
// separate authorization identity).
std::string SaslPlainResponse(const std::string& user, const std::string& password);

// LOGIN's answer to one challenge: base64 of `text` (the user name, then
// the password).
std::string SaslLoginResponse(const std::string& text);

// XOAUTH2's initial response: base64 of "user=" `user` ^A "auth=Bearer "
// `token` ^A ^A.
std::string SaslXoauth2Response(const std::string& user, const std::string& token);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_SASL_H_
