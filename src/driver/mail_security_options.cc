#include "driver/mail_security_options.h"

#include <cstdlib>

#include "driver/command_line.h"
#include "driver/oauth_options.h"
#include "driver/presets.h"
#include "platform/ascii.h"
#include "platform/path.h"
#include "platform/secret_file.h"

namespace postrunner {
namespace {

// The option's value when it is given, else the preset. Sets `*given` when
// the option or a non-empty preset was there.
std::string GivenOptionOrPreset(const char* option, const char* preset, bool* given) {
  std::string value = OptionOrPreset(option, preset);
  if (HasOption(option) || !value.empty()) *given = true;
  return value;
}

[[nodiscard]] bool ReadTransport(bool* given, MailTransport* transport, std::string* reason) {
  std::string security;
  if (HasOption("/TLS")) {
    security = "tls";
  } else if (HasOption("/StartTLS")) {
    security = "starttls";
  } else {
    security = ReadPreset("Security", "");
  }
  if (security.empty() || EqualNoCase(security, "none")) {
    *transport = MailTransport::kPlain;
  } else if (EqualNoCase(security, "starttls")) {
    *transport = MailTransport::kStartTls;
  } else if (EqualNoCase(security, "tls")) {
    *transport = MailTransport::kTls;
  } else {
    *reason = "unknown Security preset \"" + security + "\" (none, starttls or tls)";
    return false;
  }
  if (*transport != MailTransport::kPlain) *given = true;
  return true;
}

[[nodiscard]] bool ReadMechanism(const std::string& text, MailSecurity* out, std::string* reason) {
  static const struct {
    const char* name;
    SaslMechanism mechanism;
  } kNames[] = {{"plain", SaslMechanism::kPlain},
                {"login", SaslMechanism::kLogin},
                {"xoauth2", SaslMechanism::kXoauth2},
                {"oauthbearer", SaslMechanism::kOauthBearer}};
  if (text.empty()) return true;
  for (const auto& entry : kNames) {
    if (EqualNoCase(text, entry.name)) {
      out->mechanism_chosen = true;
      out->mechanism = entry.mechanism;
      return true;
    }
  }
  *reason = "unknown /MailAuth: \"" + text + "\" (plain, login, xoauth2 or oauthbearer)";
  return false;
}

}  // namespace

bool ReadMailSecret(const std::string& user, std::string* secret, std::string* reason) {
  if (HasOption("/MailPassword:") && !GetOptionValue("/MailPassword:").empty()) {
    *secret = GetOptionValue("/MailPassword:");
    return true;
  }
  if (const char* value = std::getenv(kMailPasswordVariable); value != nullptr && *value) {
    *secret = value;
    return true;
  }
  bool given = false;
  std::string file =
      ExpandHome(GivenOptionOrPreset("/MailPasswordFile:", "MailPasswordFile", &given));
  if (!file.empty()) return ReadSecretFile(file, secret, reason);
  // The token endpoint gives the token later (mail_token.h).
  if (OAuthConfigured()) return true;
  *reason = "no password for mail user " + user + " (give /MailPassword:, " +
            kMailPasswordVariable + " or /MailPasswordFile:)";
  return false;
}

bool MailSecretGiven() {
  const char* value = std::getenv(kMailPasswordVariable);
  return !GetOptionValue("/MailPassword:").empty() || (value != nullptr && *value != '\0');
}

bool ReadMailSecurity(MailSecurity* out, std::string* reason) {
  *out = MailSecurity();
  bool given = false;
  if (!ReadTransport(&given, &out->transport, reason)) return false;
  out->user = GivenOptionOrPreset("/MailUser:", "MailUser", &given);
  std::string mechanism = GivenOptionOrPreset("/MailAuth:", "MailAuth", &given);
  out->ca_file = ExpandHome(GivenOptionOrPreset("/CAFile:", "CAFile", &given));
  if (HasOption("/MailPassword:") || HasOption("/MailPasswordFile:")) given = true;
  out->extended = given;
  if (!ReadMechanism(mechanism, out, reason)) return false;
  if (out->user.empty()) return true;
  // A token endpoint issues bearer tokens: XOAUTH2 unless chosen otherwise.
  if (!out->mechanism_chosen && OAuthConfigured()) {
    out->mechanism_chosen = true;
    out->mechanism = SaslMechanism::kXoauth2;
  }
  return ReadMailSecret(out->user, &out->secret, reason);
}

}  // namespace postrunner
