#include "mail/smtp_extensions.h"

#include <limits>
#include <sstream>


namespace postrunner {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The decimal value of `word`, or 0 when it is not all digits; values too
// large for 64 bits count as the largest one.
uint64_t SizeValue(const std::string& word) {
  if (word.empty()) return 0;
  uint64_t value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return 0;
    unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      return std::numeric_limits<uint64_t>::max();
    }
    value = value * 10 + digit;
  }
  return value;
}

// Takes the keyword line `line` (text after "250-" or "250 ").
void TakeKeywordLine(const std::string& line, SmtpExtensions* out) {
  std::istringstream words(line);
  std::string keyword;
  if (!(words >> keyword)) return;
  keyword = Upper(keyword);
  std::string word;
  if (keyword == "STARTTLS") {
    out->starttls = true;
  } else if (keyword == "AUTH" || keyword.rfind("AUTH=", 0) == 0) {
    if (keyword.size() > 5) out->auth_mechanisms.push_back(keyword.substr(5));
    while (words >> word) out->auth_mechanisms.push_back(Upper(word));
  } else if (keyword == "SIZE") {
    if (words >> word) out->size_limit = SizeValue(word);
  }
}

}  // namespace

bool SmtpExtensions::OffersAuth(const std::string& mechanism) const {
  const std::string wanted = Upper(mechanism);
  for (const std::string& m : auth_mechanisms) {
    if (m == wanted) return true;
  }
  return false;
}

bool ParseEhloReply(const std::string& reply, SmtpExtensions* out) {
  *out = SmtpExtensions();
  if (reply.size() < 3 || reply[0] != '2') return false;
  size_t line_start = 0;
  bool first = true;
  while (line_start < reply.size()) {
    size_t line_end = reply.find('\n', line_start);
    if (line_end == std::string::npos) line_end = reply.size();
    std::string line = reply.substr(line_start, line_end - line_start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Lines are "250-keyword ..." or "250 keyword ..."; the first one is
    // the greeting.
    if (!first && line.size() > 4) TakeKeywordLine(line.substr(4), out);
    first = false;
    line_start = line_end + 1;
  }
  return true;
}

}  // namespace postrunner
