// The access token a mail run authenticates with when a token endpoint is
// set up (oauth_options.h): from the token cache while it is valid, else
// from the endpoint, once per run whatever the number of pieces. A token
// the server refuses is renewed once (BearerTokenRenewal): a cached token
// may have been revoked before its time; one the endpoint just issued is
// not asked for again. A refresh token the endpoint rotates replaces the
// refresh token file atomically.
#ifndef POSTRUNNER_DRIVER_MAIL_TOKEN_H_
#define POSTRUNNER_DRIVER_MAIL_TOKEN_H_

#include <string>

#include "driver/oauth_options.h"
#include "mail/mail_security.h"

namespace postrunner {

class MailTokenSource : public BearerTokenRenewal {
 public:
  // `settings` and `user` (the mail user, part of the cache key) are copied.
  MailTokenSource(const OAuthSettings& settings, const std::string& user);

  MailTokenSource(const MailTokenSource&) = delete;
  MailTokenSource& operator=(const MailTokenSource&) = delete;

  // The token for the run: the cached one, else a fresh one. False with
  // `*reason` (never holding a secret) when none can be had: nothing may
  // then be sent.
  [[nodiscard]] bool Obtain(std::string* token, std::string* reason);

  // Forgets the refused token's cache entry and asks the endpoint once
  // for a fresh token when the refused one came from the cache; false with
  // an empty reason otherwise.
  [[nodiscard]] bool Renew(std::string* token, std::string* reason) override;

 private:
  // One request to the endpoint with the run's grant; caches the token and
  // stores a rotated refresh token.
  [[nodiscard]] bool Fetch(std::string* token, std::string* reason);
  // The grant's fields; false with `*reason` when the refresh token file
  // cannot be read.
  [[nodiscard]] bool GrantFields(FormFields* fields, std::string* reason) const;
  // Replaces the refresh token file with `refresh_token`; a failure is
  // reported on standard error, the token in hand still used.
  void StoreRefreshToken(const std::string& refresh_token, const std::string& old) const;

  OAuthSettings settings_;
  std::string cache_path_;
  bool from_cache_ = false;
  bool renewed_ = false;
};

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_MAIL_TOKEN_H_
