#include "join/mime_header.h"

#include <algorithm>
#include <map>

#include "join/encoded_text.h"
#include "platform/ascii.h"

namespace postrunner {
namespace {

constexpr int kMaxSections = 100;  // RFC 2231 continuations of one parameter

[[nodiscard]] bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = FoldAscii(c);
  return out;
}

// A cursor over a structured field value.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  // Skips white space and (nested) comments.
  void SkipBlanks() {
    while (at_ < text_.size()) {
      if (IsBlank(text_[at_])) {
        ++at_;
      } else if (text_[at_] == '(') {
        // A comment left open runs to the end of the text.
        int depth = 0;
        for (; at_ < text_.size(); ++at_) {
          if (text_[at_] == '\\') ++at_;
          else if (text_[at_] == '(') ++depth;
          else if (text_[at_] == ')' && --depth == 0) break;
        }
        at_ = std::min(at_ + 1, text_.size());
      } else {
        break;
      }
    }
  }

  [[nodiscard]] bool Take(char c) {
    SkipBlanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  // A token: up to white space, ';', '=' (when `stop_at_equals`) or '('.
  std::string Token(bool stop_at_equals) {
    SkipBlanks();
    size_t begin = at_;
    while (at_ < text_.size() && !IsBlank(text_[at_]) && text_[at_] != ';' &&
           text_[at_] != '(' && text_[at_] != '"' && !(stop_at_equals && text_[at_] == '=')) {
      ++at_;
    }
    return std::string(text_.substr(begin, at_ - begin));
  }

  // A quoted string (escapes removed) or a token.
  std::string Value() {
    SkipBlanks();
    if (at_ >= text_.size() || text_[at_] != '"') return Token(false);
    std::string out;
    for (++at_; at_ < text_.size() && text_[at_] != '"'; ++at_) {
      if (text_[at_] == '\\' && at_ + 1 < text_.size()) ++at_;
      out.push_back(text_[at_]);
    }
    if (at_ < text_.size()) ++at_;  // the closing quote, when there is one
    return out;
  }

  // Moves past the next ';'. Returns false at the end of the text.
  [[nodiscard]] bool NextParameter() {
    while (at_ < text_.size() && text_[at_] != ';') ++at_;
    if (at_ >= text_.size()) return false;
    ++at_;
    return true;
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

// One RFC 2231 parameter in sections: "name*0*=", "name*1=", ...
struct Sections {
  std::map<int, std::pair<std::string, bool>> parts;  // section -> value, percent-encoded
};

// "utf-8'en'caf%C3%A9" -> the charset and the decoded bytes.
std::string DecodeExtended(std::string_view value, std::string* charset) {
  size_t q1 = value.find('\'');
  size_t q2 = q1 == std::string_view::npos ? q1 : value.find('\'', q1 + 1);
  if (q2 == std::string_view::npos) return DecodePercent(value);
  *charset = std::string(value.substr(0, q1));
  return DecodePercent(value.substr(q2 + 1));
}

std::string JoinSections(const Sections& s) {
  std::string charset;
  std::string bytes;
  for (const auto& [index, part] : s.parts) {
    const auto& [value, encoded] = part;
    if (!encoded) {
      bytes += value;
    } else if (index == 0) {
      bytes += DecodeExtended(value, &charset);
    } else {
      bytes += DecodePercent(value);
    }
  }
  return CharsetToUtf8(charset, std::move(bytes));
}

}  // namespace

bool HeaderBlock::AddLine(std::string_view line) {
  bytes_ += line.size() + 2;
  if (bytes_ > kMaxBytes) return false;
  if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
    if (!fields_.empty()) fields_.back().second.append(line);
    return true;
  }
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return true;  // not a field; ignored
  fields_.emplace_back(Lower(Trim(line.substr(0, colon))), std::string(line.substr(colon + 1)));
  return true;
}

std::string HeaderBlock::Get(std::string_view name) const {
  for (const auto& [field, value] : fields_) {
    if (EqualNoCase(field, name)) return std::string(Trim(value));
  }
  return std::string();
}

void HeaderBlock::Clear() {
  fields_.clear();
  bytes_ = 0;
}

std::string MimeValue::Param(std::string_view name) const {
  for (const auto& [key, value] : params) {
    if (key == name) return value;
  }
  return std::string();
}

bool MimeValue::HasParam(std::string_view name) const {
  for (const auto& param : params) {
    if (param.first == name) return true;
  }
  return false;
}

MimeValue ParseMimeValue(std::string_view text) {
  MimeValue result;
  Scanner scan(text);
  result.value = Lower(scan.Token(false));
  std::map<std::string, Sections> extended;
  while (scan.NextParameter()) {
    std::string name = Lower(scan.Token(true));
    if (name.empty() || !scan.Take('=')) continue;
    std::string value = scan.Value();
    size_t star = name.find('*');
    if (star == std::string::npos) {
      if (!result.HasParam(name)) {
        // Names often arrive as encoded-words even inside quotes.
        const bool is_name = name == "name" || name == "filename";
        result.params.emplace_back(name, is_name ? DecodeEncodedWords(value) : value);
      }
      continue;
    }
    // name*=..., name*N=..., name*N*=...
    std::string base = name.substr(0, star);
    std::string_view rest = std::string_view(name).substr(star + 1);
    bool encoded = !rest.empty() && rest.back() == '*';
    if (rest.empty()) encoded = true;  // "name*": one encoded section
    if (encoded && !rest.empty()) rest.remove_suffix(1);
    int index = 0;
    for (char c : rest) {
      if (c < '0' || c > '9' || index >= kMaxSections) {
        index = -1;
        break;
      }
      index = index * 10 + (c - '0');
    }
    if (index >= 0 && index < kMaxSections) {
      extended[base].parts.emplace(index, std::make_pair(std::move(value), encoded));
    }
  }
  // RFC 2231 values win over plain ones of the same name.
  for (const auto& [base, sections] : extended) {
    std::string value = JoinSections(sections);
    bool replaced = false;
    for (auto& param : result.params) {
      if (param.first == base) {
        param.second = value;
        replaced = true;
      }
    }
    if (!replaced) result.params.emplace_back(base, std::move(value));
  }
  return result;
}

}  // namespace postrunner
