#include "join/imap_reply.h"

#include "platform/ascii.h"

namespace postrunner {
namespace {

constexpr size_t kMaxReasonLength = 300;

// Calls `on_line(line)` for each line of `lines`, endings removed.
template <typename OnLine>
void EachLine(std::string_view lines, OnLine on_line) {
  while (!lines.empty()) {
    const size_t end = lines.find('\n');
    std::string_view line = lines.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    on_line(line);
    if (end == std::string_view::npos) break;
    lines.remove_prefix(end + 1);
  }
}

// The next blank-separated word of `*text`, removed from it.
std::string_view NextWord(std::string_view* text) {
  const size_t begin = text->find_first_not_of(' ');
  if (begin == std::string_view::npos) {
    *text = {};
    return {};
  }
  text->remove_prefix(begin);
  const size_t end = text->find(' ');
  const std::string_view word = text->substr(0, end);
  text->remove_prefix(end == std::string_view::npos ? text->size() : end);
  return word;
}

[[nodiscard]] bool ParseUid(std::string_view word, uint32_t* uid) {
  if (word.empty() || word.size() > 10) return false;
  uint64_t value = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value == 0 || value > 0xFFFFFFFFu) return false;
  *uid = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

bool ParseSearchUids(std::string_view lines, std::vector<uint32_t>* uids) {
  bool ok = true;
  EachLine(lines, [&](std::string_view line) {
    if (NextWord(&line) != "*" || !EqualNoCase(NextWord(&line), "SEARCH")) return;
    for (std::string_view word = NextWord(&line); ok && !word.empty(); word = NextWord(&line)) {
      if (word.front() == '(') break;  // (MODSEQ n)
      uint32_t uid = 0;
      ok = ParseUid(word, &uid) && uids->size() < kMaxSearchUids;
      if (ok) uids->push_back(uid);
    }
  });
  return ok;
}

bool HasCapability(std::string_view lines, std::string_view name) {
  bool found = false;
  EachLine(lines, [&](std::string_view line) {
    if (NextWord(&line) != "*" || !EqualNoCase(NextWord(&line), "CAPABILITY")) return;
    for (std::string_view word = NextWord(&line); !word.empty(); word = NextWord(&line)) {
      if (EqualNoCase(word, name)) found = true;
    }
  });
  return found;
}

bool TaggedRefusal(std::string_view line, std::string* text) {
  const std::string_view tag = NextWord(&line);
  if (tag.empty() || tag == "*" || tag == "+") return false;
  const std::string_view status = NextWord(&line);
  if (!EqualNoCase(status, "NO") && !EqualNoCase(status, "BAD")) return false;
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  text->assign(line.substr(0, kMaxReasonLength));
  for (char& c : *text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  if (line.size() > kMaxReasonLength) text->append("...");
  if (text->empty()) text->assign(std::string(status) + " without a reason");
  return true;
}

}  // namespace postrunner
