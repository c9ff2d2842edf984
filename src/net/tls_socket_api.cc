#include "net/tls_socket_api.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/tls_library.h"
#include "net/tls_session_cache.h"
#include "platform/deadline.h"
#include "platform/file_io.h"

namespace postrunner {
namespace {

using Clock = std::chrono::steady_clock;

[[nodiscard]] bool IsNumericHost(const std::string& host) {
  unsigned char bytes[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), bytes) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

struct SslFree {
  void operator()(SSL* ssl) const { Ssl().SSL_free(ssl); }
};

// The reason a handshake failed: the verification result when the
// certificate was refused, else OpenSSL's own reason.
std::string HandshakeFailure(SSL* ssl, int error, int saved_errno) {
  const SslApi& api = Ssl();
  long verify = api.SSL_get_verify_result(ssl);
  if (verify != X509_V_OK) {
    api.ERR_clear_error();
    if (verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH) {
      return "certificate verify failed: host name mismatch";
    }
    return std::string("certificate verify failed: ") + api.X509_verify_cert_error_string(verify);
  }
  std::string reason = TakeSslErrorReason();
  if (!reason.empty()) return "TLS handshake failed: " + reason;
  if (error == SSL_ERROR_SYSCALL && saved_errno != 0) {
    return "TLS handshake failed: " + ErrnoText(saved_errno);
  }
  return "the server closed the connection during the TLS handshake";
}

}  // namespace

// One TLS connection: the OpenSSL session, decrypted bytes not yet taken by
// Receive, and how the connection ended, if it did.
struct TlsSession {
  std::unique_ptr<SSL, SslFree> ssl;
  std::string host;     // the name the certificate was checked for
  std::string ca_file;  // and the trust file it was checked against
  char buffer[16 * 1024];  // one TLS record holds at most 16 KiB
  size_t begin = 0;
  size_t end = 0;
  bool closed = false;     // the server ended the TLS stream
  int error = 0;           // errno for a failed connection, 0 while sound
  bool write_wants_read = false;

  [[nodiscard]] bool HasNews() const { return begin < end || closed || error != 0; }

  // One SSL_read into the empty buffer. Returns 1 when there is news, 0
  // when OpenSSL needs the socket readable (`*want_write` false) or
  // writable (true) first.
  [[nodiscard]] int ReadRecord(bool* want_write) {
    const SslApi& api = Ssl();
    api.ERR_clear_error();
    errno = 0;
    int n = api.SSL_read(ssl.get(), buffer, sizeof buffer);
    if (n > 0) {
      begin = 0;
      end = static_cast<size_t>(n);
      return 1;
    }
    int saved_errno = errno;
    switch (api.SSL_get_error(ssl.get(), n)) {
      case SSL_ERROR_WANT_READ:
        *want_write = false;
        return 0;
      case SSL_ERROR_WANT_WRITE:
        *want_write = true;
        return 0;
      case SSL_ERROR_ZERO_RETURN:
        closed = true;
        return 1;
      case SSL_ERROR_SYSCALL:
        error = saved_errno != 0 ? saved_errno : ECONNRESET;
        api.ERR_clear_error();
        return 1;
      default:
        error = EPROTO;
        api.ERR_clear_error();
        return 1;
    }
  }
};

TlsSocketApi::TlsSocketApi(SocketApi& plain) : plain_(&plain) {}

TlsSocketApi::~TlsSocketApi() { EndSession(); }

bool TlsSocketApi::Secured(int fd) const { return session_ != nullptr && fd == fd_; }

bool TlsSocketApi::StartTls(int fd, const std::string& host, const std::string& ca_file,
                            int timeout_ms, std::string* reason) {
  EndSession();
  SSL_CTX* context = ClientTlsContext(ca_file, reason);
  if (context == nullptr) return false;
  const SslApi& api = Ssl();
  auto session = std::make_unique<TlsSession>();
  session->ssl.reset(api.SSL_new(context));
  SSL* ssl = session->ssl.get();
  bool set_up = ssl != nullptr && api.SSL_set_fd(ssl, fd) == 1;
  if (set_up && IsNumericHost(host)) {
    set_up = api.X509_VERIFY_PARAM_set1_ip_asc(api.SSL_get0_param(ssl), host.c_str()) == 1;
  } else if (set_up) {
    set_up = api.SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                          const_cast<char*>(host.c_str())) == 1 &&
             api.SSL_set1_host(ssl, host.c_str()) == 1;
  }
  if (!set_up) {
    *reason = "cannot set up TLS for " + host + ": " + TakeSslErrorReason();
    return false;
  }
  api.SSL_ctrl(ssl, SSL_CTRL_MODE,
               SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER, nullptr);
  // A session kept from a connection verified for the same host and trust
  // is offered; the server may resume it or run a full handshake.
  if (cache_ != nullptr) {
    if (SSL_SESSION* kept = cache_->Find(host, ca_file)) (void)api.SSL_set_session(ssl, kept);
  }
  if (!Handshake(fd, ssl, timeout_ms, reason)) return false;
  // A resumed session carries the verification of the handshake it came
  // from; a session that did not verify is never taken on.
  if (api.SSL_get_verify_result(ssl) != X509_V_OK) {
    *reason = HandshakeFailure(ssl, SSL_ERROR_SSL, 0);
    return false;
  }
  session->host = host;
  session->ca_file = ca_file;
  fd_ = fd;
  session_ = std::move(session);
  return true;
}

bool TlsSocketApi::Handshake(int fd, SSL* ssl, int timeout_ms, std::string* reason) {
  const SslApi& api = Ssl();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    api.ERR_clear_error();
    errno = 0;
    int rc = api.SSL_connect(ssl);
    if (rc == 1) return true;
    int saved_errno = errno;
    int error = api.SSL_get_error(ssl, rc);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      *reason = HandshakeFailure(ssl, error, saved_errno);
      return false;
    }
    int ready = plain_->Wait(fd, error == SSL_ERROR_WANT_WRITE, RemainingMs(deadline));
    if (ready == 0) {
      *reason = "TLS handshake timed out";
      return false;
    }
    if (ready < 0) {
      *reason = "TLS handshake failed: " + ErrnoText(errno);
      return false;
    }
  }
}

void TlsSocketApi::EndSession() {
  if (session_ == nullptr) return;
  // A connection that stayed sound leaves its session for the next one
  // (taken now: in TLS 1.3 the ticket came after the handshake). One
  // attempt at the TLS close; a peer that is gone does not matter here.
  if (session_->error == 0) {
    if (cache_ != nullptr) cache_->Keep(session_->ssl.get(), session_->host, session_->ca_file);
    Ssl().SSL_shutdown(session_->ssl.get());
  }
  Ssl().ERR_clear_error();
  session_.reset();
  fd_ = -1;
}

int TlsSocketApi::Resolve(const std::string& host, uint16_t port, int type,
                          std::vector<SocketAddress>* out) {
  return plain_->Resolve(host, port, type, out);
}

int TlsSocketApi::Open(int family, int type, int protocol) {
  return plain_->Open(family, type, protocol);
}

int TlsSocketApi::SetReuseAddress(int fd) { return plain_->SetReuseAddress(fd); }

int TlsSocketApi::Connect(int fd, const SocketAddress& address, int timeout_ms) {
  return plain_->Connect(fd, address, timeout_ms);
}

int TlsSocketApi::Wait(int fd, bool for_write, int timeout_ms) {
  if (!Secured(fd)) return plain_->Wait(fd, for_write, timeout_ms);
  TlsSession& s = *session_;
  if (for_write) {
    // A write that stopped for a read (a TLS message from the server must
    // be taken first) goes on once the socket is readable.
    return plain_->Wait(fd, !s.write_wants_read, timeout_ms);
  }
  if (s.HasNews()) return 1;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    bool want_write = false;
    if (s.ReadRecord(&want_write)) return 1;
    // Records that carry no data (session tickets) and partial records end
    // here too: wait for more, within what is left of the time.
    int ready = plain_->Wait(fd, want_write, RemainingMs(deadline));
    if (ready <= 0) return ready;
  }
}

ssize_t TlsSocketApi::Send(int fd, const void* data, size_t size) {
  if (!Secured(fd)) return plain_->Send(fd, data, size);
  TlsSession& s = *session_;
  if (s.error != 0) {
    errno = s.error;
    return -1;
  }
  if (size == 0) return 0;
  const SslApi& api = Ssl();
  api.ERR_clear_error();
  errno = 0;
  int chunk = static_cast<int>(std::min<size_t>(size, 1 << 30));
  int n = api.SSL_write(s.ssl.get(), data, chunk);
  if (n > 0) {
    s.write_wants_read = false;
    return n;
  }
  int saved_errno = errno;
  int error = api.SSL_get_error(s.ssl.get(), n);
  api.ERR_clear_error();
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
    s.write_wants_read = error == SSL_ERROR_WANT_READ;
    errno = EAGAIN;
    return -1;
  }
  s.error = (error == SSL_ERROR_SYSCALL && saved_errno != 0) ? saved_errno : EPIPE;
  errno = s.error;
  return -1;
}

ssize_t TlsSocketApi::Receive(int fd, void* buffer, size_t size) {
  if (!Secured(fd)) return plain_->Receive(fd, buffer, size);
  TlsSession& s = *session_;
  if (s.begin == s.end && !s.closed && s.error == 0) {
    bool want_write = false;
    if (!s.ReadRecord(&want_write)) {
      errno = EAGAIN;
      return -1;
    }
  }
  if (s.begin < s.end) {
    size_t n = std::min(size, s.end - s.begin);
    std::memcpy(buffer, s.buffer + s.begin, n);
    s.begin += n;
    return static_cast<ssize_t>(n);
  }
  if (s.error != 0) {
    errno = s.error;
    return -1;
  }
  return 0;
}

int TlsSocketApi::PeerAddress(int fd, SocketAddress* out) {
  return plain_->PeerAddress(fd, out);
}

int TlsSocketApi::Close(int fd) {
  if (Secured(fd)) EndSession();
  return plain_->Close(fd);
}

}  // namespace postrunner
