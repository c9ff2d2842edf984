#include "driver/mail_token.h"

#include <ctime>

#include "oauth/token_cache.h"
#include "platform/console.h"
#include "platform/private_file.h"
#include "platform/secret_memory.h"

namespace postrunner {
namespace {

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

// The first line of `content`, without its line end and surrounding blanks.
std::string FirstLine(const std::string& content) {
  const size_t end = content.find_first_of("\r\n");
  std::string line = content.substr(0, end);
  const size_t first = line.find_first_not_of(" \t");
  const size_t last = line.find_last_not_of(" \t");
  std::string trimmed = first == std::string::npos ? "" : line.substr(first, last - first + 1);
  WipeSecret(&line);
  return trimmed;
}

}  // namespace

MailTokenSource::MailTokenSource(const OAuthSettings& settings, const std::string& user)
    : settings_(settings) {
  const OAuthClient& client = settings_.client;
  const std::string folder = TokenCacheFolder();
  if (folder.empty()) return;  // no home folder: no cache
  cache_path_ = TokenCachePath(folder, TokenCacheKey{client.token_url, client.client_id, user,
                                                     client.scope});
}

bool MailTokenSource::Obtain(std::string* token, std::string* reason) {
  reason->clear();
  if (!ProtectSecretMemory()) {
    *reason = "cannot keep the secrets out of core dumps";
    return false;
  }
  if (!cache_path_.empty() && LoadCachedToken(cache_path_, Now(), token, reason)) {
    from_cache_ = true;
    return true;
  }
  if (!reason->empty()) return false;
  return Fetch(token, reason);
}

bool MailTokenSource::Renew(std::string* token, std::string* reason) {
  reason->clear();
  // A refused token is no use to later runs either.
  if (!cache_path_.empty()) ForgetCachedToken(cache_path_);
  if (!from_cache_ || renewed_) return false;
  renewed_ = true;
  from_cache_ = false;
  std::string fresh;
  if (!Fetch(&fresh, reason)) return false;
  WipeSecret(token);
  *token = fresh;
  WipeSecret(&fresh);
  return true;
}

bool MailTokenSource::GrantFields(FormFields* fields, std::string* reason) const {
  if (settings_.grant == OAuthGrant::kClientCredentials) {
    fields->emplace_back("grant_type", "client_credentials");
    return true;
  }
  std::string content;
  bool missing = false;
  if (!ReadPrivateFile(settings_.refresh_token_file, "refresh token file", &content, &missing,
                       reason)) {
    if (missing) *reason += "; sign in first with postrunner /OAuthLogin";
    return false;
  }
  std::string refresh_token = FirstLine(content);
  WipeSecret(&content);
  if (refresh_token.empty()) {
    *reason = "the refresh token file " + settings_.refresh_token_file +
              " holds no token; sign in again with postrunner /OAuthLogin";
    return false;
  }
  fields->emplace_back("grant_type", "refresh_token");
  fields->emplace_back("refresh_token", refresh_token);
  WipeSecret(&refresh_token);
  return true;
}

void MailTokenSource::StoreRefreshToken(const std::string& refresh_token,
                                        const std::string& old) const {
  if (refresh_token.empty() || refresh_token == old) return;
  std::string reason;
  std::string content = refresh_token + "\n";
  if (!ReplacePrivateFile(settings_.refresh_token_file, "refresh token file", content, &reason)) {
    PrintReason(reason + "; the endpoint's new refresh token is lost, sign in again with "
                "postrunner /OAuthLogin if the next run is refused");
  }
  WipeSecret(&content);
}

bool MailTokenSource::Fetch(std::string* token, std::string* reason) {
  FormFields grant;
  if (!GrantFields(&grant, reason)) return false;
  TokenResponse response;
  const TokenAnswer answer = RequestToken(settings_.client, grant, &response, reason);
  std::string old = grant.size() > 1 ? grant[1].second : "";
  for (auto& field : grant) WipeSecret(&field.second);
  if (answer == TokenAnswer::kToken) StoreRefreshToken(response.refresh_token, old);
  WipeSecret(&old);
  if (answer != TokenAnswer::kToken) {
    if (answer == TokenAnswer::kError && response.error == "invalid_grant" &&
        settings_.grant == OAuthGrant::kRefreshToken) {
      *reason += "; the sign-in must be redone: run postrunner /OAuthLogin with the same options";
    }
    return false;
  }
  *token = response.access_token;
  // A token that would not be used again before its margin is not cached.
  if (!cache_path_.empty() && response.expires_in > kTokenExpiryMarginSeconds) {
    std::string cache_reason;
    if (!StoreCachedToken(cache_path_, *token, Now() + response.expires_in, &cache_reason)) {
      PrintReason(cache_reason + "; the token is not cached");
    }
  }
  return true;
}

}  // namespace postrunner
