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

}  // namespace postrunner
