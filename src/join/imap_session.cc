#include "join/imap_session.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "join/imap_reply.h"
#include "net/curl_options.h"
#include "platform/file_io.h"

namespace postrunner {

// Where the data of one transfer goes: a file, or a bounded reply text.
struct ImapSession::Sink {
  int fd = -1;
  std::string* text = nullptr;
  uint64_t bytes = 0;
  bool failed = false;
  int error = 0;
};

namespace {

// libcurl's receive buffer: big pieces come in fewer reads and writes.
constexpr long kReceiveBufferBytes = 256 * 1024;
// Bound on the untagged reply text of one command.
constexpr size_t kMaxReplyBytes = 64 * 1024 * 1024;

extern "C" size_t OnData(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<ImapSession::Sink*>(user);
  const size_t n = size * count;
  if (sink->fd >= 0) {
    if (WriteAll(sink->fd, data, n) != n) {
      sink->error = errno;
      sink->failed = true;
      return 0;
    }
  } else if (sink->text != nullptr) {
    if (sink->text->size() + n > kMaxReplyBytes) {
      sink->failed = true;
      return 0;
    }
    sink->text->append(data, n);
  }
  sink->bytes += n;
  return n;
}

// Keeps the server's last tagged refusal. Only what the server sent is
// looked at: the client's lines hold the password.
extern "C" int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  if (type != CURLINFO_HEADER_IN) return 0;
  auto* transcript = static_cast<ImapSession::Transcript*>(user);
  transcript->partial.append(data, std::min<size_t>(size, 4096));
  size_t end;
  while ((end = transcript->partial.find('\n')) != std::string::npos) {
    std::string text;
    if (TaggedRefusal(std::string_view(transcript->partial).substr(0, end), &text)) {
      transcript->refusal = text;
    }
    transcript->partial.erase(0, end + 1);
  }
  if (transcript->partial.size() > 8192) transcript->partial.clear();
  return 0;
}

// Connects only to loopback addresses: the socket of a clear-text session.
extern "C" curl_socket_t OpenLoopbackSocket(void*, curlsocktype, curl_sockaddr* address) {
  bool loopback = false;
  if (address->family == AF_INET) {
    sockaddr_in in;
    std::memcpy(&in, &address->addr, sizeof in);
    loopback = (ntohl(in.sin_addr.s_addr) >> 24) == 127;
  } else if (address->family == AF_INET6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, &address->addr, sizeof in6);
    loopback = IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr);
  }
  if (!loopback) return CURL_SOCKET_BAD;
  return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

}  // namespace

ImapSession::ImapSession(const ImapUrl& url, const ImapLogin& login) : url_(url), login_(login) {}

bool ImapSession::SetUp(std::string* reason) {
  if (!curl_) {
    *reason = "libcurl (" + std::string(kCurlLibraryName) + ") cannot be loaded for IMAP";
    return false;
  }
  CURL* curl = curl_.get();
  CurlOptions options(curl);
  const bool clear_allowed = !url_.implicit_tls && url_.loopback_host;
  options.Set(CURLOPT_PROTOCOLS_STR, "imap,imaps")
      .Set(CURLOPT_USE_SSL, static_cast<long>(clear_allowed ? CURLUSESSL_TRY : CURLUSESSL_ALL))
      .Set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2))
      .Set(CURLOPT_SSL_VERIFYPEER, 1L)
      .Set(CURLOPT_SSL_VERIFYHOST, 2L)
      .Set(CURLOPT_CONNECTTIMEOUT, login_.timeout)
      .Set(CURLOPT_SERVER_RESPONSE_TIMEOUT, login_.timeout)
      .Set(CURLOPT_LOW_SPEED_LIMIT, 1L)
      .Set(CURLOPT_LOW_SPEED_TIME, login_.timeout)
      .Set(CURLOPT_NOPROGRESS, 1L)
      .Set(CURLOPT_NOSIGNAL, 1L)
      .Set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes)
      .Set(CURLOPT_ERRORBUFFER, static_cast<char*>(error_))
      .Set(CURLOPT_VERBOSE, 1L)
      .Set(CURLOPT_DEBUGFUNCTION, &OnDebug)
      .Set(CURLOPT_DEBUGDATA, static_cast<void*>(&transcript_))
      .Set(CURLOPT_WRITEFUNCTION, &OnData);
  if (clear_allowed) options.Set(CURLOPT_OPENSOCKETFUNCTION, &OpenLoopbackSocket);
  if (!login_.ca_file.empty()) options.Set(CURLOPT_CAINFO, login_.ca_file.c_str());
  if (!login_.user.empty()) options.Set(CURLOPT_USERNAME, login_.user.c_str());
  if (login_.auth == ImapAuth::kPassword) {
    if (!login_.user.empty()) options.Set(CURLOPT_PASSWORD, login_.secret.c_str());
  } else {
    options.Set(CURLOPT_XOAUTH2_BEARER, login_.secret.c_str())
        .Set(CURLOPT_LOGIN_OPTIONS,
             login_.auth == ImapAuth::kXoauth2 ? "AUTH=XOAUTH2" : "AUTH=OAUTHBEARER");
  }
  if (!options.ok()) {
    *reason = options.FailureText();
    return false;
  }
  set_up_ = true;
  return true;
}

bool ImapSession::Perform(const std::string& url, const char* custom, Sink* sink,
                          std::string* reason) {
  if (!set_up_ && !SetUp(reason)) return false;
  CurlOptions options(curl_.get());
  options.Set(CURLOPT_URL, url.c_str())
      .Set(CURLOPT_CUSTOMREQUEST, custom)
      .Set(CURLOPT_WRITEDATA, static_cast<void*>(sink));
  if (!options.ok()) {
    *reason = options.FailureText();
    return false;
  }
  error_[0] = '\0';
  transcript_.refusal.clear();
  const CURLcode code = Curl().easy_perform(curl_.get());
  if (code == CURLE_OK && !sink->failed) return true;
  login_refused_ = code == CURLE_LOGIN_DENIED;
  const std::string where = url_.url_host + ":" + std::to_string(url_.port);
  if (sink->error != 0) {
    *reason = "cannot write a fetched message: " + ErrnoText(sink->error);
  } else if (!transcript_.refusal.empty()) {
    *reason = "IMAP server " + where + " refused: " + transcript_.refusal;
  } else {
    *reason = "IMAP with " + where + " failed: " +
              (error_[0] != '\0' ? std::string(error_) : Curl().easy_strerror(code));
    if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE) {
      *reason += " (is the server's certificate trusted? /CAFile: names more)";
    }
  }
  return false;
}

bool ImapSession::Command(const std::string& command, std::string* reply, std::string* reason) {
  Sink sink;
  sink.text = reply;
  return Perform(MailboxUrl(url_), command.c_str(), &sink, reason);
}

bool ImapSession::Fetch(uint32_t uid, int fd, std::string* reason) {
  Sink sink;
  sink.fd = fd;
  if (!Perform(MailboxUrl(url_) + ";UID=" + std::to_string(uid), nullptr, &sink, reason)) {
    *reason = "message UID " + std::to_string(uid) + " not fetched: " + *reason;
    return false;
  }
  curl_off_t announced = -1;
  if (Curl().easy_getinfo(curl_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) !=
          CURLE_OK ||
      announced < 0 || static_cast<uint64_t>(announced) != sink.bytes) {
    *reason = "IMAP server " + url_.url_host + " sent " + std::to_string(sink.bytes) +
              " bytes of message UID " + std::to_string(uid) + ", not the " +
              std::to_string(announced) + " it announced";
    return false;
  }
  return true;
}

std::string UidList(const std::vector<uint32_t>& uids) {
  std::string out;
  for (uint32_t uid : uids) {
    if (!out.empty()) out.push_back(',');
    out += std::to_string(uid);
  }
  return out;
}

}  // namespace postrunner
