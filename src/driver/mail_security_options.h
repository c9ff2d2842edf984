// The options and registry presets of secure mail submission: "/StartTLS",
// "/TLS", "/MailUser:", "/MailPassword:", "/MailPasswordFile:",
// "/MailAuth:" and "/CAFile:", and the presets `MailUser`,
// `MailPasswordFile`, `MailAuth`, `Security` and `CAFile` (the user's value
// over the machine's, the command line over both). The secret comes from,
// first found: "/MailPassword:", the environment variable
// POSTRUNNER_MAIL_PASSWORD, the first line of the password file; with none
// of them but a token endpoint set up (oauth_options.h), the secret stays
// empty for the driver to fetch a token into, and the mechanism defaults to
// XOAUTH2.
#ifndef POSTRUNNER_DRIVER_MAIL_SECURITY_OPTIONS_H_
#define POSTRUNNER_DRIVER_MAIL_SECURITY_OPTIONS_H_

#include <string>

#include "mail/mail_security.h"

namespace postrunner {

// The environment variable that may hold the password or token.
inline constexpr const char* kMailPasswordVariable = "POSTRUNNER_MAIL_PASSWORD";

// Whether a non-empty "/MailPassword:" or POSTRUNNER_MAIL_PASSWORD is given
// (SplitCommandLine must have run).
[[nodiscard]] bool MailSecretGiven();

// Reads the secret of mail user `user` from, first found, "/MailPassword:",
// POSTRUNNER_MAIL_PASSWORD and the password file (option or preset).
// Returns false with a one-line `*reason` when there is none or the file is
// refused.
[[nodiscard]]
bool ReadMailSecret(const std::string& user, std::string* secret, std::string* reason);

// Fills `*out` from the command line (SplitCommandLine must have run) and
// the presets. Returns false with a one-line `*reason` (never holding the
// secret) when a value is unknown, a user has no secret or the password
// file is refused. Whether credentials may go without TLS is decided by the
// conversation, on the address it is connected to (smtp_submission.h).
[[nodiscard]] bool ReadMailSecurity(MailSecurity* out, std::string* reason);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_MAIL_SECURITY_OPTIONS_H_
