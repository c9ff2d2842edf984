// Client responses of the SASL mechanisms the program authenticates with,
// base64-encoded as SMTP AUTH carries them (RFC 4954): PLAIN (RFC 4616),
// LOGIN (the user name and the password, each in answer to its own
// challenge), XOAUTH2 and OAUTHBEARER (RFC 7628; both carry an OAuth 2.0
// bearer token). The results hold the
// secret in reversible form: they go only to the server, never to a log.
#ifndef POSTRUNNER_MAIL_SASL_H_
#define POSTRUNNER_MAIL_SASL_H_

#include <string>

namespace postrunner {

enum class SaslMechanism { kPlain, kLogin, kXoauth2, kOauthBearer };

// The mechanism's name as AUTH names it ("PLAIN", "LOGIN", "XOAUTH2",
// "OAUTHBEARER").
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

// OAUTHBEARER's initial response: base64 of the GS2 header "n,a=" `user`
// "," (a "," or "=" in `user` escaped as "=2C" or "=3D"), then ^A
// "host=" `host` ^A "port=" `port` ^A "auth=Bearer " `token` ^A ^A.
std::string SaslOauthBearerResponse(const std::string& user, const std::string& host,
                                    unsigned port, const std::string& token);

// Whether `mechanism` carries a bearer token: a refusal then means the
// token was not taken (expired or revoked), and a fresh one may be tried.
bool SaslCarriesToken(SaslMechanism mechanism);

// The one response a client gives to the error challenge (334 with a JSON
// text) after a refused token, so that the server sends its final reply:
// "AQ==" (base64 of ^A) for OAUTHBEARER, an empty line for XOAUTH2.
std::string SaslErrorChallengeAnswer(SaslMechanism mechanism);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_SASL_H_
