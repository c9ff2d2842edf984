#include "ftp/known_hosts.h"

#include "platform/ascii.h"
#include "platform/file_io.h"
#include "platform/file_info.h"
#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

constexpr size_t kMaxKnownHostsBytes = 64 * 1024 * 1024;
constexpr std::string_view kHashedPrefix = "|1|";

// One entry of the file, as views into its line.
struct Entry {
  std::string_view marker;  // "@revoked", ... or empty
  std::string_view hosts;
  std::string_view type;
  std::string_view key;
};

// The next blank-separated field of `*rest`, which then starts after it.
std::string_view NextField(std::string_view* rest) {
  size_t start = rest->find_first_not_of(" \t");
  if (start == std::string_view::npos) {
    *rest = {};
    return {};
  }
  size_t end = rest->find_first_of(" \t", start);
  if (end == std::string_view::npos) end = rest->size();
  std::string_view field = rest->substr(start, end - start);
  rest->remove_prefix(end);
  return field;
}

// False for a blank line, a comment or a line without hosts, type and key.
[[nodiscard]] bool ParseEntry(std::string_view line, Entry* out) {
  std::string_view first = NextField(&line);
  if (first.empty() || first.front() == '#') return false;
  if (first.front() == '@') {
    out->marker = first;
    first = NextField(&line);
  }
  out->hosts = first;
  out->type = NextField(&line);
  out->key = NextField(&line);
  return !out->hosts.empty() && !out->type.empty() && !out->key.empty();
}

// Whether one host pattern names `name`.
[[nodiscard]]
bool PatternMatches(std::string_view pattern, const std::string& name,
                    const HostNameHasher& hash) {
  if (pattern.substr(0, kHashedPrefix.size()) == kHashedPrefix) {
    std::string_view rest = pattern.substr(kHashedPrefix.size());
    size_t bar = rest.find('|');
    if (bar == std::string_view::npos) return false;
    std::string made = hash(rest.substr(0, bar), name);
    return !made.empty() && made == rest.substr(bar + 1);
  }
  if (pattern.find_first_of("*?!") != std::string_view::npos) return false;
  return EqualNoCase(pattern, name);
}

[[nodiscard]]
bool HostsMatch(std::string_view hosts, const std::string& name, const HostNameHasher& hash) {
  while (!hosts.empty()) {
    size_t comma = hosts.find(',');
    if (PatternMatches(hosts.substr(0, comma), name, hash)) return true;
    if (comma == std::string_view::npos) break;
    hosts.remove_prefix(comma + 1);
  }
  return false;
}

// ReadKnownHostsFile, leaving what it read so far when it fails.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::string* text) {
  ScopedFd file(OpenRegularFile(path.c_str()));
  FileInfo info;
  if (!file.valid() || !FileInfoOf(file.get(), &info) || info.size > kMaxKnownHostsBytes) {
    return false;
  }
  char buffer[16384];
  for (;;) {
    ssize_t n = ReadSome(file.get(), buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) return true;
    if (text->size() + static_cast<size_t>(n) > kMaxKnownHostsBytes) return false;
    text->append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace

std::string KnownHostsName(const std::string& host, uint16_t port) {
  if (port == 22) return host;
  return "[" + host + "]:" + std::to_string(port);
}

namespace {

// Calls `visit` with each entry of `text` (blank lines and comments aside)
// until it returns false.
template <typename Visit>
void ForEachEntry(std::string_view text, Visit visit) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Entry entry;
    if (ParseEntry(line, &entry) && !visit(entry)) return;
  }
}

// The name entries of `host` on `port` carry, in lower case as ssh hashes
// and compares it.
std::string EntryName(const std::string& host, uint16_t port) {
  std::string name = KnownHostsName(host, port);
  for (char& c : name) c = FoldAscii(c);
  return name;
}

}  // namespace

HostKeyVerdict CheckKnownHosts(std::string_view text, const std::string& host, uint16_t port,
                               std::string_view key, const HostNameHasher& hash) {
  const std::string name = EntryName(host, port);
  if (key.empty()) return HostKeyVerdict::kUnknown;
  bool listed = false;
  bool known = false;
  bool revoked = false;
  ForEachEntry(text, [&](const Entry& entry) {
    if (entry.marker == "@revoked") {
      revoked = entry.key == key;
      return !revoked;
    }
    if (entry.marker.empty() && HostsMatch(entry.hosts, name, hash)) {
      listed = true;
      if (entry.key == key) known = true;
    }
    return true;
  });
  if (revoked) return HostKeyVerdict::kRevoked;
  if (known) return HostKeyVerdict::kKnown;
  return listed ? HostKeyVerdict::kChanged : HostKeyVerdict::kUnknown;
}

std::vector<std::string> KnownHostKeyTypes(std::string_view text, const std::string& host,
                                           uint16_t port, const HostNameHasher& hash) {
  const std::string name = EntryName(host, port);
  std::vector<std::string> types;
  ForEachEntry(text, [&](const Entry& entry) {
    if (entry.marker.empty() && HostsMatch(entry.hosts, name, hash)) {
      types.emplace_back(entry.type);
    }
    return true;
  });
  return types;
}

bool ReadKnownHostsFile(const std::string& path, std::string* text) {
  text->clear();
  if (ReadWholeFile(path, text)) return true;
  // Without a @revoked line further on, a key listed early would be trusted.
  text->clear();
  return false;
}

}  // namespace postrunner
