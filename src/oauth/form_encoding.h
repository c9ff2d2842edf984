// The text forms of OAuth 2.0 requests and redirects: a form body or query
// ("application/x-www-form-urlencoded", RFC 6749 appendix B) made of name
// and value pairs, and the value of one name read back out of a query.
#ifndef POSTRUNNER_OAUTH_FORM_ENCODING_H_
#define POSTRUNNER_OAUTH_FORM_ENCODING_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace postrunner {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// `text` with every byte but ALPHA, DIGIT and "-._~" written as %XX.
[[nodiscard]] std::string PercentEncode(std::string_view text);

// The fields as "name=value&name=value", each part percent-encoded.
[[nodiscard]] std::string FormEncode(const FormFields& fields);

// The decoded value of the first field `name` in the query `query` (the
// text after "?" up to any "#", or a bare form body). False when the field
// is missing or holds a malformed %-escape.
[[nodiscard]] bool QueryValue(std::string_view query, std::string_view name, std::string* value);

}  // namespace postrunner

#endif  // POSTRUNNER_OAUTH_FORM_ENCODING_H_
