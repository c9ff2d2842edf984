#include "oauth/token_cache.h"

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "oauth/sha256.h"
#include "platform/private_file.h"
#include "platform/secret_memory.h"
#include "platform/system_api.h"
#include "platform/user_account.h"

namespace postrunner {

std::string TokenCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/postrunner";
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.cache/postrunner";
}

std::string TokenCachePath(const std::string& folder, const TokenCacheKey& key) {
  // Each part ends in a NUL, which none can hold: no two keys run together.
  std::string text;
  for (const std::string* part : {&key.token_url, &key.client_id, &key.user, &key.scope}) {
    text += *part;
    text += '\0';
  }
  return folder + "/token-" + Sha256Hex(text).substr(0, 40) + ".json";
}

bool LoadCachedToken(const std::string& path, int64_t now, std::string* token,
                     std::string* reason) {
  std::string content;
  bool missing = false;
  if (!ReadPrivateFile(path, "token cache file", &content, &missing, reason)) {
    if (missing) reason->clear();
    return false;
  }
  reason->clear();
  bool usable = false;
  try {
    const nlohmann::json cached = nlohmann::json::parse(content, nullptr, false);
    if (cached.is_object() && cached.contains("access_token") &&
        cached["access_token"].is_string() && cached.contains("expires_at") &&
        cached["expires_at"].is_number_integer()) {
      const int64_t expires_at = cached["expires_at"].get<int64_t>();
      *token = cached["access_token"].get<std::string>();
      usable = !token->empty() && expires_at - kTokenExpiryMarginSeconds > now;
    }
  } catch (const std::exception&) {
    usable = false;
  }
  WipeSecret(&content);
  if (!usable) WipeSecret(token);
  return usable;
}

bool StoreCachedToken(const std::string& path, const std::string& token, int64_t expires_at,
                      std::string* reason) {
  const std::string folder = path.substr(0, path.find_last_of('/'));
  if (!MakePrivateFolder(folder, "token cache folder", reason)) return false;
  nlohmann::json cached;
  cached["access_token"] = token;
  cached["expires_at"] = expires_at;
  std::string content = cached.dump() + "\n";
  const bool stored = ReplacePrivateFile(path, "token cache file", content, reason);
  WipeSecret(&content);
  return stored;
}

void ForgetCachedToken(const std::string& path) { (void)System().RemoveFile(path); }

}  // namespace postrunner
