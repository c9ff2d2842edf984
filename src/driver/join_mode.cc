#include "driver/join_mode.h"

#include <memory>
#include <string>

#include "driver/command_line.h"
#include "driver/main_flow.h"
#include "driver/mail_security_options.h"
#include "driver/mail_token.h"
#include "driver/oauth_options.h"
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
  // A token endpoint issues bearer tokens: XOAUTH2 unless chosen otherwise.
  const bool bearer_by_default = text.empty() && OAuthConfigured() && !MailSecretGiven();
  if (bearer_by_default || EqualNoCase(text, "xoauth2")) {
    *auth = ImapAuth::kXoauth2;
  } else if (text.empty() || EqualNoCase(text, "plain") || EqualNoCase(text, "login")) {
    *auth = ImapAuth::kPassword;
  } else if (EqualNoCase(text, "oauthbearer")) {
    *auth = ImapAuth::kOauthBearer;
  } else {
    *reason = "unknown /MailAuth: \"" + text + "\" (plain, login, xoauth2 or oauthbearer)";
    return false;
  }
  return true;
}

// Fills `*login` for `url`. The bearer token of xoauth2 and oauthbearer is
// read as a password is; with none given and a token endpoint set up,
// ObtainImapToken fetches it.
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

// With no ready password or token and a token endpoint set up, puts the
// run's access token (cached or fresh, asked for once) into login->secret
// and the source that can renew it into `*tokens`. Returns 0 or the exit
// code with `*reason` (never holding a secret).
[[nodiscard]] int ObtainImapToken(ImapLogin* login, std::unique_ptr<MailTokenSource>* tokens,
                                  std::string* reason) {
  if (!login->secret.empty() || !OAuthConfigured()) return 0;
  OAuthSettings settings;
  if (int code = ReadOAuthSettings(login->ca_file, static_cast<int>(login->timeout), false,
                                   &settings, reason)) {
    return code;
  }
  *tokens = std::make_unique<MailTokenSource>(settings, login->user);
  return (*tokens)->Obtain(&login->secret, reason) ? 0 : kExitNotDelivered;
}

// The IMAP join. A token from the endpoint that the server refuses (a
// cached one revoked before its time) is renewed once and the join run
// again, as a mail run does; without `tokens` a refusal ends the run.
[[nodiscard]] int JoinRenewing(const ImapUrl& url, ImapLogin* login, const std::string& folder,
                               bool delete_pieces, MailTokenSource* tokens) {
  if (tokens == nullptr) return RunImapJoin(url, *login, folder, delete_pieces);
  ImapLoginRefusal refusal;
  const int code = RunImapJoin(url, *login, folder, delete_pieces, &refusal);
  if (!refusal.refused) return code;
  std::string reason;
  if (tokens->Renew(&login->secret, &reason)) {
    return RunImapJoin(url, *login, folder, delete_pieces);
  }
  PrintReason(refusal.reason);
  if (!reason.empty()) PrintReason(reason);
  return code;
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
  std::unique_ptr<MailTokenSource> tokens;
  if (int code = ObtainImapToken(&login, &tokens, &reason)) {
    PrintReason(reason);
    return code;
  }
  return JoinRenewing(url, &login, folder, delete_pieces, tokens.get());
}

}  // namespace postrunner
