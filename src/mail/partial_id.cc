#include "mail/partial_id.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/unique_source.h"

namespace postrunner {
namespace {

// True for the bytes RFC 2045 allows in a token: printable ASCII except the
// blank and the tspecials.
bool IsTokenByte(char c) {
  return c > ' ' && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?=", c) == nullptr;
}

}  // namespace

PartialIdSources CurrentPartialIdSources() {
  PartialIdSources s;
  s.now = GetLocalTime();
  s.process_id = CurrentProcessId();
  if (!RandomNumber(&s.random)) {
    s.random = static_cast<uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
  }
  return s;
}

std::string MakePartialId(const PartialIdSources& s, const std::string& sender) {
  const LocalTime& t = s.now;
  // 150 characters at most, whatever the fields hold: the text always fits.
  char unique[192];
  (void)std::snprintf(unique, sizeof unique, "%d%d%d%d.%04d%02d%02d%02d%02d%02d.%ld.%016llx.",
                      t.month, t.day, t.minute, t.second, t.year, t.month, t.day, t.hour, t.minute,
                      t.second, s.process_id, static_cast<unsigned long long>(s.random));
  std::string id = unique;
  for (char c : sender) id.push_back(IsTokenByte(c) ? c : '.');
  return id;
}

}  // namespace postrunner
