#include "oauth/token_endpoint.h"

#include "platform/secret_memory.h"

namespace postrunner {

OAuthClient::~OAuthClient() { WipeSecret(&client_secret); }

std::string EndpointErrorReason(const std::string& url, const TokenResponse& token) {
  std::string reason = "the token endpoint " + url + " refused the request: " + token.error;
  if (!token.error_description.empty()) reason += ": " + token.error_description;
  return reason;
}

TokenAnswer RequestToken(const OAuthClient& client, const FormFields& grant,
                         TokenResponse* token, std::string* reason) {
  FormFields fields = grant;
  fields.emplace_back("client_id", client.client_id);
  if (!client.client_secret.empty()) fields.emplace_back("client_secret", client.client_secret);
  if (!client.scope.empty()) fields.emplace_back("scope", client.scope);
  std::string form = FormEncode(fields);
  for (auto& field : fields) WipeSecret(&field.second);
  HttpAnswer answer;
  const bool answered = PostForm(client.token_url, form, client.trust, &answer, reason);
  WipeSecret(&form);
  if (!answered) return TokenAnswer::kUnusable;
  std::string problem;
  const TokenAnswer read = ParseTokenResponse(answer.body, answer.status, token, &problem);
  if (read == TokenAnswer::kError) *reason = EndpointErrorReason(client.token_url, *token);
  if (read == TokenAnswer::kUnusable) {
    *reason = "the token endpoint " + client.token_url + " gave no token: " + problem;
  }
  return read;
}

}  // namespace postrunner
