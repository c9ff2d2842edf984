#include "mail/sasl.h"

#include "mail/base64.h"

namespace postrunner {

const char* SaslMechanismName(SaslMechanism mechanism) {
  switch (mechanism) {
    case SaslMechanism::kPlain:
      return "PLAIN";
    case SaslMechanism::kLogin:
      return "LOGIN";
    case SaslMechanism::kXoauth2:
      return "XOAUTH2";
    case SaslMechanism::kOauthBearer:
      return "OAUTHBEARER";
  }
  return "PLAIN";
}

std::string SaslPlainResponse(const std::string& user, const std::string& password) {
  std::string message;
  message.reserve(user.size() + password.size() + 2);
  message += '\0';
  message += user;
  message += '\0';
  message += password;
  return EncodeStringBase64(message, TRUE);
}

std::string SaslLoginResponse(const std::string& text) {
  return EncodeStringBase64(text, TRUE);
}

std::string SaslXoauth2Response(const std::string& user, const std::string& token) {
  return EncodeStringBase64("user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01", TRUE);
}

namespace {

// A name in the GS2 header, where "," ends a field and "=" starts an escape.
std::string Gs2Name(const std::string& name) {
  std::string escaped;
  for (char c : name) {
    if (c == ',') {
      escaped += "=2C";
    } else if (c == '=') {
      escaped += "=3D";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::string SaslOauthBearerResponse(const std::string& user, const std::string& host,
                                    unsigned port, const std::string& token) {
  return EncodeStringBase64("n,a=" + Gs2Name(user) + ",\x01host=" + host + "\x01port=" +
                                std::to_string(port) + "\x01" "auth=Bearer " + token +
                                "\x01\x01",
                            TRUE);
}

bool SaslCarriesToken(SaslMechanism mechanism) {
  return mechanism == SaslMechanism::kXoauth2 || mechanism == SaslMechanism::kOauthBearer;
}

std::string SaslErrorChallengeAnswer(SaslMechanism mechanism) {
  return mechanism == SaslMechanism::kOauthBearer ? "AQ==" : "";
}

}  // namespace postrunner
