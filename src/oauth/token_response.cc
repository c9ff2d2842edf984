#include "oauth/token_response.h"

#include <limits>
#include <nlohmann/json.hpp>

#include "platform/secret_memory.h"

namespace postrunner {
namespace {

using Json = nlohmann::json;

// No answer of an authorization server comes near this.
constexpr size_t kMaxAnswerBytes = 256 * 1024;

// A text member, or "" when it is missing or no string.
std::string TextMember(const Json& object, const char* name) {
  const auto found = object.find(name);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// A text from the network, made safe for one line of a reason: control
// characters become spaces and it is cut after 300 bytes.
std::string OneLine(std::string text) {
  if (text.size() > 300) text = text.substr(0, 300) + "...";
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return text;
}

// Reads the seconds member `name`: a non-negative number (a fraction is cut
// off) or a text of digits (some servers quote it). Missing leaves `*seconds`; false when the
// member is there but no such number.
bool SecondsMember(const Json& object, const char* name, int64_t* seconds) {
  const auto found = object.find(name);
  if (found == object.end() || found->is_null()) return true;
  if (found->is_number_unsigned()) {
    const uint64_t value = found->get<uint64_t>();
    *seconds = static_cast<int64_t>(std::min<uint64_t>(value, 1ULL << 40));
    return true;
  }
  if (found->is_number_float()) {
    const double value = found->get<double>();
    if (!(value >= 0 && value < 1e12)) return false;  // also refuses NaN
    *seconds = static_cast<int64_t>(value);
    return true;
  }
  if (found->is_string()) {
    const std::string text = found->get<std::string>();
    if (text.empty() || text.size() > 12) return false;
    int64_t value = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    *seconds = value;
    return true;
  }
  return false;
}

// Whether `body` nests arrays and objects deeper than an answer ever does;
// such a text is refused before the parser, which recurses, sees it.
bool NestsTooDeep(std::string_view body) {
  constexpr int kMaxDepth = 32;
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

// Parses `body` into `*object`. False when it is no JSON object (or one
// too large or deep for an answer).
bool ParseObject(std::string_view body, Json* object) {
  if (body.size() > kMaxAnswerBytes || NestsTooDeep(body)) return false;
  *object = Json::parse(body, nullptr, false);
  return !object->is_discarded() && object->is_object();
}

// Fills `*error` when `object` is an error response.
bool ReadError(const Json& object, TokenResponse* error) {
  if (object.find("error") == object.end()) return false;
  error->error = OneLine(TextMember(object, "error"));
  error->error_description = OneLine(TextMember(object, "error_description"));
  if (error->error.empty()) error->error = "error";
  return true;
}

std::string StatusText(long status) { return "HTTP " + std::to_string(status); }

TokenAnswer ParseToken(std::string_view body, long status, TokenResponse* out,
                       std::string* problem) {
  Json object;
  if (!ParseObject(body, &object)) {
    *problem = "its answer is no JSON object (" + StatusText(status) + ")";
    return TokenAnswer::kUnusable;
  }
  if (ReadError(object, out)) return TokenAnswer::kError;
  if (status < 200 || status > 299) {
    *problem = "it answered " + StatusText(status) + " without an error code";
    return TokenAnswer::kUnusable;
  }
  out->access_token = TextMember(object, "access_token");
  out->refresh_token = TextMember(object, "refresh_token");
  if (out->access_token.empty()) {
    *problem = "its answer holds no access_token";
    return TokenAnswer::kUnusable;
  }
  if (!SecondsMember(object, "expires_in", &out->expires_in)) {
    *problem = "its expires_in is not a number of seconds";
    return TokenAnswer::kUnusable;
  }
  return TokenAnswer::kToken;
}

TokenAnswer ParseDevice(std::string_view body, long status, DeviceAuthorization* out,
                        TokenResponse* error, std::string* problem) {
  Json object;
  if (!ParseObject(body, &object)) {
    *problem = "its answer is no JSON object (" + StatusText(status) + ")";
    return TokenAnswer::kUnusable;
  }
  if (ReadError(object, error)) return TokenAnswer::kError;
  out->device_code = TextMember(object, "device_code");
  out->user_code = TextMember(object, "user_code");
  out->verification_uri = TextMember(object, "verification_uri");
  if (out->verification_uri.empty()) out->verification_uri = TextMember(object, "verification_url");
  out->verification_uri_complete = TextMember(object, "verification_uri_complete");
  if (status < 200 || status > 299 || out->device_code.empty() || out->user_code.empty() ||
      out->verification_uri.empty()) {
    *problem = "its answer (" + StatusText(status) +
               ") lacks device_code, user_code or verification_uri";
    return TokenAnswer::kUnusable;
  }
  if (!SecondsMember(object, "expires_in", &out->expires_in) ||
      !SecondsMember(object, "interval", &out->interval)) {
    *problem = "its expires_in or interval is not a number of seconds";
    return TokenAnswer::kUnusable;
  }
  return TokenAnswer::kToken;
}

}  // namespace

TokenResponse::~TokenResponse() {
  WipeSecret(&access_token);
  WipeSecret(&refresh_token);
}

DeviceAuthorization::~DeviceAuthorization() { WipeSecret(&device_code); }

TokenAnswer ParseTokenResponse(std::string_view body, long status, TokenResponse* out,
                               std::string* problem) {
  try {
    return ParseToken(body, status, out, problem);
  } catch (const std::exception&) {
    *problem = "its answer could not be read";
  }
  return TokenAnswer::kUnusable;
}

TokenAnswer ParseDeviceAuthorization(std::string_view body, long status, DeviceAuthorization* out,
                                     TokenResponse* error, std::string* problem) {
  try {
    return ParseDevice(body, status, out, error, problem);
  } catch (const std::exception&) {
    *problem = "its answer could not be read";
  }
  return TokenAnswer::kUnusable;
}

}  // namespace postrunner
