#include "driver/ignored_arguments.h"

#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/help_text.h"
#include "platform/ascii.h"
#include "platform/console.h"

namespace postrunner {
namespace {

// Every option name the run looks up (see the README's option table).
constexpr const char* kOptionNames[] = {
    "/Receiver:",     "/Sender:",       "/Mailserver:",      "/File:",
    "/Filename:",     "/Dir:",          "/Recurse",          "/Zip",
    "/Zip:",          "/CreateOnly",    "/Threads:",         "/NoSplit",
    "/SplitSize:",    "/StartTLS",      "/TLS",              "/MailUser:",
    "/MailPassword:", "/MailPasswordFile:", "/MailAuth:",    "/CAFile:",
    "/FTPServer:",    "/FTPUser:",      "/FTPPassword:",     "/FTPPasswordFile:",
    "/FTPFilename:",  "/FTPPassiveMode", "/FTPTLS",          "/SSHKey:",
    "/KnownHosts:",   "/Join:",         "/JoinTo:",          "/Quiet",
    "/Timeout:",      "/JoinDelete",    "/OAuthLogin",       "/OAuthProvider:",
    "/OAuthTenant:",  "/OAuthTokenURL:", "/OAuthAuthURL:",   "/OAuthDeviceURL:",
    "/OAuthClientID:", "/OAuthClientSecretFile:", "/OAuthScope:", "/OAuthRefreshTokenFile:",
    "/OAuthGrant:",
};

// How a warning names token `index`: a token that may be a mistyped option
// up to its first ':' (its value may be a secret), any other by position.
std::string Shown(const std::string& token, size_t index) {
  if (token.empty() || (token[0] != '/' && token[0] != '-')) {
    return "argument " + std::to_string(index);
  }
  const size_t colon = token.find(':');
  return colon == std::string::npos ? token : token.substr(0, colon + 1);
}

void WarnAbout(const std::string& token, size_t index) {
  std::string repeated;  // the longest option the token repeats
  for (const char* name : kOptionNames) {
    if (!StartsWithNoCase(token, name)) continue;
    if (OptionIndex(name) == index) return;  // the token counts for `name`
    if (repeated.size() < std::string(name).size()) repeated = name;
  }
  if (repeated.empty()) {
    PrintReason(Shown(token, index) + " matches no option and is ignored");
  } else {
    PrintReason(repeated + " is given more than once; argument " + std::to_string(index) +
                " is ignored, the first one counts");
  }
}

}  // namespace

void WarnAboutIgnoredArguments() {
  const std::vector<std::string>& tokens = TokenList();
  for (size_t i = 1; i < tokens.size(); ++i) {
    if (!IsInfoArgument(tokens[i])) WarnAbout(tokens[i], i);
  }
}

}  // namespace postrunner
