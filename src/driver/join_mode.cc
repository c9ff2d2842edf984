#include "driver/join_mode.h"

#include <string>

#include "driver/command_line.h"
#include "driver/main_flow.h"
#include "driver/mail_security_options.h"
#include "driver/presets.h"
#include "driver/timeout_option.h"
#include "join/imap_join.h"
#include "join/imap_url.h"
#include "join/join.h"
#include "platform/ascii.h"
#include "platform/console.h"
#include "platform/path.h"

namespace postrunner {
namespace {

[[nodiscard]] bool ReadImapAuth(ImapAuth* auth, std::string* reason) {
  const std::string text = OptionOrPreset("/MailAuth:", "MailAuth");
  if (text.empty() || EqualNoCase(text, "plain") || EqualNoCase(text, "login")) {
    *auth = ImapAuth::kPassword;
  } else if (EqualNoCase(text, "xoauth2")) {
    *auth = ImapAuth::kXoauth2;
  } else if (EqualNoCase(text, "oauthbearer")) {
    *auth = ImapAuth::kOauthBearer;
  } else {
    *reason = "unknown /MailAuth: \"" + text + "\" (plain, login, xoauth2 or oauthbearer)";
    return false;
  }
  return true;
}

// Fills `*login` for `url`. The bearer token of xoauth2 and oauthbearer is
// read as a password is; a token fetched from an OAuth endpoint would be
// put into login->secret here instead.
[[nodiscard]] bool ReadImapLogin(const ImapUrl& url, ImapLogin* login, std::string* reason) {
  login->user = url.user.empty() ? OptionOrPreset("/MailUser:", "MailUser") : url.user;
  if (login->user.empty()) {
    *reason = "no IMAP user: give it in the URL (imaps://USER@HOST/...) or with /MailUser:";
    return false;
  }
  if (!ReadImapAuth(&login->auth, reason)) return false;
  login->ca_file = ExpandHome(OptionOrPreset("/CAFile:", "CAFile"));
  const std::string timeout = OptionOrPreset("/Timeout:", "Timeout");
  int seconds = 0;
  if (!timeout.empty()) {
    if (!ParseTimeoutSeconds(timeout, &seconds)) {
      *reason = "/Timeout: takes seconds from 1 to " + std::to_string(kMaxTimeoutSeconds);
      return false;
    }
    login->timeout = seconds;
  }
  return ReadMailSecret(login->user, &login->secret, reason);
}

}  // namespace

int RunJoinMode() {
  const std::string source = GetOptionValue("/Join:");
  const std::string folder = ExpandHome(GetOptionValue("/JoinTo:"));
  const bool delete_pieces = HasOption("/JoinDelete");
  if (!IsImapUrl(source)) return RunJoin(ExpandHome(source), folder, delete_pieces);
  ImapUrl url;
  ImapLogin login;
  std::string reason;
  if (!ParseImapUrl(source, &url, &reason) || !ReadImapLogin(url, &login, &reason)) {
    PrintReason(reason);
    return kExitUsage;
  }
  return RunImapJoin(url, login, folder, delete_pieces);
}

}  // namespace postrunner
