// The IMAP mailbox URL of "/Join:" and the server replies the join reads:
// the input is the URL text, a NUL byte, and reply lines.
//
// Holds: parsing is deterministic; a URL that is accepted is read by
// libcurl's own URL parser as exactly what was parsed (scheme, host, port,
// no user, password, query or fragment, one path part); the mailbox path
// holds only unreserved characters and %XX escapes and decodes, through
// modified UTF-7, back to the mailbox name; SEARCH UIDs are never 0; a
// refusal text holds no control byte and stays short.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <strings.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "join/imap_reply.h"
#include "join/imap_url.h"

namespace postrunner {
namespace {

using fuzz::Shown;

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::string Part(CURLU* url, CURLUPart what) {
  char* text = nullptr;
  if (curl_url_get(url, what, &text, 0) != CURLUE_OK || text == nullptr) return "(none)";
  std::string out(text);
  curl_free(text);
  return out;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// `path` with its %XX escapes decoded; every other byte must be unreserved.
std::string Unescaped(const std::string& path) {
  std::string out;
  for (size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (c == '%') {
      FUZZ_CHECK(i + 2 < path.size() && Hex(path[i + 1]) >= 0 && Hex(path[i + 2]) >= 0,
                 "a bad escape in " + Shown(path));
      out += static_cast<char>(Hex(path[i + 1]) * 16 + Hex(path[i + 2]));
      i += 2;
      continue;
    }
    FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '.' || c == '_' || c == '~',
               "a reserved byte left in " + Shown(path));
    out += c;
  }
  return out;
}

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 63)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 63)));
    out->push_back(static_cast<char>(0x80 | (code & 63)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 63)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 63)));
    out->push_back(static_cast<char>(0x80 | (code & 63)));
  }
}

// Modified UTF-7 back to UTF-8, independently of the encoder.
std::string FromUtf7(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out.push_back(text[i]);
      continue;
    }
    const size_t end = text.find('-', i);
    FUZZ_CHECK(end != std::string::npos, "an unclosed shift in " + Shown(text));
    if (end == i + 1) {
      out.push_back('&');
      i = end;
      continue;
    }
    std::vector<uint16_t> units;
    uint32_t bits = 0;
    int count = 0;
    for (size_t k = i + 1; k < end; ++k) {
      const size_t value = kAlphabet.find(text[k]);
      FUZZ_CHECK(value != std::string::npos, "a bad base64 letter in " + Shown(text));
      bits = (bits << 6) | static_cast<uint32_t>(value);
      count += 6;
      if (count >= 16) {
        count -= 16;
        units.push_back(static_cast<uint16_t>(bits >> count));
        bits &= (1u << count) - 1;
      }
    }
    FUZZ_CHECK(count < 6 && bits == 0, "stray base64 bits in " + Shown(text));
    for (size_t k = 0; k < units.size(); ++k) {
      uint32_t code = units[k];
      if (code >= 0xD800 && code < 0xDC00 && k + 1 < units.size()) {
        code = 0x10000 + ((code - 0xD800) << 10) + (units[++k] - 0xDC00);
      }
      AppendUtf8(code, &out);
    }
    i = end;
  }
  return out;
}

// Whether `written` is an IPv4 address in one of the classic forms ("7",
// "0x7f.1") that libcurl and the resolver read as `dotted`.
bool SameIpv4(const std::string& written, const std::string& dotted) {
  in_addr address{};
  return inet_aton(written.c_str(), &address) != 0 && dotted == inet_ntoa(address);
}

void CheckUrl(const ImapUrl& url) {
  const std::string text = MailboxUrl(url);
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  FUZZ_CHECK(parsed != nullptr, "curl_url");
  const CURLUcode code = curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), CURLU_PATH_AS_IS);
  if (code != CURLUE_OK) {
    FUZZ_CHECK(url.url_host.front() == '[', "libcurl refuses " + Shown(text));
    return;
  }
  FUZZ_CHECK(Part(parsed.get(), CURLUPART_SCHEME) == (url.implicit_tls ? "imaps" : "imap"),
             "scheme of " + Shown(text));
  FUZZ_CHECK(Part(parsed.get(), CURLUPART_PORT) == std::to_string(url.port),
             "port of " + Shown(text));
  FUZZ_CHECK(Part(parsed.get(), CURLUPART_USER) == "(none)" &&
                 Part(parsed.get(), CURLUPART_PASSWORD) == "(none)" &&
                 Part(parsed.get(), CURLUPART_QUERY) == "(none)" &&
                 Part(parsed.get(), CURLUPART_FRAGMENT) == "(none)",
             "no user, password, query or fragment in " + Shown(text));
  if (url.url_host.front() != '[') {
    const std::string host = Part(parsed.get(), CURLUPART_HOST);
    FUZZ_CHECK(strcasecmp(host.c_str(), url.url_host.c_str()) == 0 ||
                   SameIpv4(url.url_host, host),
               "host of " + Shown(text) + " is " + Shown(host));
  }
  const std::string path = Part(parsed.get(), CURLUPART_PATH);
  FUZZ_CHECK(path == "/" + url.mailbox_path, "path of " + Shown(text));
  const std::string name = Unescaped(url.mailbox_path);
  FUZZ_CHECK(name.find('/') == std::string::npos, "a second path part in " + Shown(name));
  FUZZ_CHECK(FromUtf7(name) == url.mailbox, Shown(name) + " decodes to another name than " +
                                                Shown(url.mailbox));
}

void CheckReplies(std::string_view lines) {
  std::vector<uint32_t> uids;
  (void)ParseSearchUids(lines, &uids);
  for (uint32_t uid : uids) FUZZ_CHECK(uid != 0, "UID 0 from " + Shown(lines));
  (void)HasCapability(lines, "UIDPLUS");
  std::string text;
  if (TaggedRefusal(lines, &text)) {
    FUZZ_CHECK(!text.empty() && text.size() <= 303, "refusal length");
    for (char c : text) {
      const unsigned char u = static_cast<unsigned char>(c);
      FUZZ_CHECK(u >= 0x20 && u != 0x7F, "a control byte in " + Shown(text));
    }
  }
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  const std::string_view input = fuzz::Input(data, size);
  const size_t nul = input.find('\0');
  const std::string_view url_text = input.substr(0, nul);
  const std::string_view replies =
      nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
  ImapUrl url, again;
  std::string reason, reason_again;
  const bool ok = ParseImapUrl(url_text, &url, &reason);
  FUZZ_CHECK(ParseImapUrl(url_text, &again, &reason_again) == ok &&
                 (!ok || (MailboxUrl(url) == MailboxUrl(again) && url.user == again.user)),
             "parsing is deterministic");
  FUZZ_CHECK(ok || !reason.empty(), "a refusal gives a reason");
  if (ok) {
    FUZZ_CHECK(IsImapUrl(url_text), "IsImapUrl agrees");
    CheckUrl(url);
  }
  CheckReplies(replies);
  return 0;
}
