#include "join/imap_url.h"

#include <vector>

#include "platform/ascii.h"
#include "platform/host_port.h"

namespace postrunner {
namespace {

constexpr char kBase64Comma[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// Decodes one UTF-8 sequence at `*at`; false when it is not valid.
[[nodiscard]] bool NextCodePoint(std::string_view text, size_t* at, uint32_t* code) {
  const unsigned char lead = static_cast<unsigned char>(text[*at]);
  size_t extra = 0;
  uint32_t min = 0;
  if (lead < 0x80) {
    *code = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, min = 0x80, *code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, min = 0x800, *code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, min = 0x10000, *code = lead & 0x07;
  } else {
    return false;
  }
  if (*at + extra >= text.size()) return false;
  for (size_t i = 1; i <= extra; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[*at + i]);
    if ((next & 0xC0) != 0x80) return false;
    *code = (*code << 6) | (next & 0x3F);
  }
  if (*code < min || *code > 0x10FFFF || (*code >= 0xD800 && *code <= 0xDFFF)) return false;
  *at += extra + 1;
  return true;
}

// Appends the UTF-16 units of `units` in modified base64, between '&' and '-'.
void AppendShifted(const std::vector<uint16_t>& units, std::string* out) {
  out->push_back('&');
  uint32_t bits = 0;
  int count = 0;
  for (uint16_t unit : units) {
    bits = (bits << 16) | unit;
    count += 16;
    while (count >= 6) {
      count -= 6;
      out->push_back(kBase64Comma[(bits >> count) & 63]);
    }
    bits &= (1u << count) - 1;
  }
  if (count > 0) out->push_back(kBase64Comma[(bits << (6 - count)) & 63]);
  out->push_back('-');
}

[[nodiscard]] bool ValidHost(const std::string& host, bool* ipv6) {
  *ipv6 = host.find(':') != std::string::npos;
  for (char c : host) {
    const bool ok = *ipv6 ? (HexDigitValue(c) >= 0 || c == ':' || c == '.')
                          : ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_');
    if (!ok) return false;
  }
  return !host.empty();
}

[[nodiscard]] bool IsLoopbackHost(const std::string& host) {
  return EqualNoCase(host, "localhost") || host == "::1" || host.starts_with("127.");
}

[[nodiscard]] bool ParseMailbox(std::string_view path, ImapUrl* out, std::string* reason) {
  if (path.find_first_of("/;?#") != std::string_view::npos) {
    *reason = "the IMAP URL may name one mailbox and nothing more (no further '/', ';', '?' or '#')";
    return false;
  }
  if (!PercentDecode(path, false, &out->mailbox)) {
    *reason = "the mailbox in the IMAP URL has a broken %-escape";
    return false;
  }
  if (out->mailbox.empty()) out->mailbox = "INBOX";
  std::string encoded;
  if (out->mailbox.find('/') != std::string::npos || !ModifiedUtf7(out->mailbox, &encoded)) {
    *reason = "the mailbox in the IMAP URL is not a plain name (UTF-8, no control character or '/')";
    return false;
  }
  out->mailbox_path = PercentEncode(encoded, IsUnreserved);
  return true;
}

}  // namespace

bool IsImapUrl(std::string_view text) {
  return StartsWithNoCase(text, "imap://") || StartsWithNoCase(text, "imaps://");
}

bool ModifiedUtf7(std::string_view utf8, std::string* out) {
  out->clear();
  std::vector<uint16_t> units;
  size_t at = 0;
  while (at < utf8.size()) {
    uint32_t code = 0;
    if (!NextCodePoint(utf8, &at, &code) || code < 0x20 || code == 0x7F) return false;
    if (code < 0x7F) {
      if (!units.empty()) AppendShifted(units, out);
      units.clear();
      out->append(code == '&' ? "&-" : std::string(1, static_cast<char>(code)));
    } else if (code < 0x10000) {
      units.push_back(static_cast<uint16_t>(code));
    } else {
      code -= 0x10000;
      units.push_back(static_cast<uint16_t>(0xD800 + (code >> 10)));
      units.push_back(static_cast<uint16_t>(0xDC00 + (code & 0x3FF)));
    }
  }
  if (!units.empty()) AppendShifted(units, out);
  return true;
}

bool ParseImapUrl(std::string_view text, ImapUrl* out, std::string* reason) {
  *out = ImapUrl();
  out->given = text;
  out->implicit_tls = StartsWithNoCase(text, "imaps://");
  if (!out->implicit_tls && !StartsWithNoCase(text, "imap://")) {
    *reason = "an IMAP mailbox begins with imaps:// or imap://";
    return false;
  }
  text.remove_prefix(out->implicit_tls ? 8 : 7);
  const size_t slash = text.find('/');
  std::string_view authority = text.substr(0, slash);
  const std::string_view path =
      slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view user = authority.substr(0, at);
    if (user.find_first_of(":;") != std::string_view::npos) {
      *reason = "the IMAP URL may hold a user name but no password or login options "
                "(give the password with /MailPassword:, POSTRUNNER_MAIL_PASSWORD or /MailPasswordFile:)";
      return false;
    }
    if (!PercentDecode(user, false, &out->user) || out->user.empty()) {
      *reason = "the user in the IMAP URL is empty or has a broken %-escape";
      return false;
    }
    authority.remove_prefix(at + 1);
  }
  HostPort host_port;
  bool ipv6 = false;
  if (!ParseHostPort(authority, out->implicit_tls ? kImapsPort : kImapPort, &host_port) ||
      !ValidHost(host_port.host, &ipv6)) {
    *reason = "the IMAP URL names no valid host and port";
    return false;
  }
  out->url_host = ipv6 ? "[" + host_port.host + "]" : host_port.host;
  out->port = host_port.port;
  out->loopback_host = IsLoopbackHost(host_port.host);
  return ParseMailbox(path, out, reason);
}

std::string MailboxUrl(const ImapUrl& url) {
  return std::string(url.implicit_tls ? "imaps://" : "imap://") + url.url_host + ":" +
         std::to_string(url.port) + "/" + url.mailbox_path;
}

}  // namespace postrunner
