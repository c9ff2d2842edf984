// The access token cache: one file per token endpoint, client, user and
// scope in $XDG_CACHE_HOME/postrunner/ (default ~/.cache/postrunner/),
// folder 0700 and files 0600 (platform/private_file.h), named by a hash of
// those four so that the name tells nothing. A cached token is used until
// 60 seconds before it expires; runs in between ask the endpoint nothing.
#ifndef POSTRUNNER_OAUTH_TOKEN_CACHE_H_
#define POSTRUNNER_OAUTH_TOKEN_CACHE_H_

#include <cstdint>
#include <string>

namespace postrunner {

// Seconds before its expiry at which a cached token is no longer used: a
// token must outlive the conversation that carries it.
inline constexpr int64_t kTokenExpiryMarginSeconds = 60;

// What a cached token belongs to.
struct TokenCacheKey {
  std::string token_url;
  std::string client_id;
  std::string user;
  std::string scope;
};

// The cache folder: $XDG_CACHE_HOME/postrunner when that is an absolute
// path, else $HOME/.cache/postrunner; "" when no home folder is known (no
// cache then).
[[nodiscard]] std::string TokenCacheFolder();

// The cache file of `key` in `folder`.
[[nodiscard]] std::string TokenCachePath(const std::string& folder, const TokenCacheKey& key);

// Reads the token cached at `path` into `*token` when it is valid beyond
// `now` plus the margin (Unix seconds). False without a reason when there
// is none to use (missing, expired, unreadable content); false with
// `*reason` when the file is refused (a link, a FIFO, open to others).
[[nodiscard]] bool LoadCachedToken(const std::string& path, int64_t now, std::string* token,
                                   std::string* reason);

// Caches `token`, valid until `expires_at` (Unix seconds), at `path`,
// making its folder when missing. False with `*reason` when it cannot.
[[nodiscard]] bool StoreCachedToken(const std::string& path, const std::string& token,
                                    int64_t expires_at, std::string* reason);

// Removes the token cached at `path` (a token the server refused). Harmless
// when there is none.
void ForgetCachedToken(const std::string& path);

}  // namespace postrunner

#endif  // POSTRUNNER_OAUTH_TOKEN_CACHE_H_
