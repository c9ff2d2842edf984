#include "net/block_sock.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "net/socket_errors.h"
#include "platform/console.h"
#include "platform/deadline.h"
#include "platform/file_io.h"
#include "platform/local_time.h"
#include "platform/scoped_fd.h"
#include "platform/socket_names.h"

namespace postrunner {
namespace {

using Clock = std::chrono::steady_clock;

// Calls `notify` and swallows any exception from it, so an observer can
// never break a transfer. Returns false when it threw.
template <typename Notify>
[[nodiscard]] bool CallObserver(Notify notify) {
  try {
    notify();
    return true;
  } catch (...) {
    return false;
  }
}

// Calls `notify` for its effect alone: an observer that throws changes
// nothing, the transfer goes on.
template <typename Notify>
void TellObserver(Notify notify) {
  (void)CallObserver(notify);
}

}  // namespace

CQXBlockSock::CQXBlockSock() : CQXBlockSock(SystemSocketApi()) {}

CQXBlockSock::CQXBlockSock(SocketApi& api) : api_(&api), socket_(&api) {
  EnableDebug(0);
  timeout_ = kDefaultSocketTimeout;
  ResetCommCounters();
  log_file_ = kSocketLogName;
  notify_ = true;
  WriteLog("CQXBlockSock::Constructor: Completed");
}

CQXBlockSock::~CQXBlockSock() {
  CloseSocket();
  WriteLog("CQXBlockSock::Destructor: Completed");
}

void CQXBlockSock::EnableDebug(int on) {
  int old = debug_;
  debug_ = on;
  if (on == 1 && old == 0) {
    WriteLog("CQXBlockSock::EnableDebug: Debugging Enabled");
  }
}

void CQXBlockSock::ResetCommCounters() {
  WriteLog("CQXBlockSock::ResetCommCounters: Resetting Counters");
  received_a_ = 0;
  bytes_to_send_ = 0;
  received_b_ = 0;
  bytes_sent_ = 0;
}

void CQXBlockSock::SetTimeout(int seconds) { timeout_ = seconds; }

int CQXBlockSock::WaitMs() const {
  if (timeout_ <= 0) return 0;
  if (timeout_ > INT_MAX / 1000) return INT_MAX / 1000 * 1000;
  return timeout_ * 1000;
}

int CQXBlockSock::SetErrorCode(int code) {
  error_code_ = code;
  return code;
}

std::string CQXBlockSock::GetErrorText() const {
  return SocketErrorText(error_code_);
}

BOOL CQXBlockSock::CreateSocket(int type, int family) {
  WriteLog("CQXBlockSock::CreateSocket: Start");
  if (socket_.valid()) {
    WriteLog("CQXBlockSock::CreateSocket: Closing Old Socket");
    CloseSocket();
  }
  int code = QXE_OK;
  int fd = api_->Open(family, type, 0);
  if (fd < 0) {
    WriteLog("CQXBlockSock::CreateSocket: Invalid Socket");
    code = QXE_INVALID_SOCKET;
  } else {
    (void)socket_.Reset(fd);  // the old socket is closed already
  }
  SetErrorCode(code);
  if (code == QXE_OK) {
    WriteLog("CQXBlockSock::CreateSocket: Completed");
    return TRUE;
  }
  char line[96];  // holds every line in full
  (void)std::snprintf(line, sizeof line,
                      "CQXBlockSock::CreateSocket: RETURNING FALSE (ERROR %d)", code);
  WriteLog(line);
  return FALSE;
}

BOOL CQXBlockSock::ConnectTo(const std::string& host, unsigned int port,
                             int type) {
  HostPort target;
  try {
    // A text that is no server leaves the host empty: not resolvable.
    if (!ParseHostPort(host, static_cast<uint16_t>(port & 0xFFFF), &target)) {
      target = HostPort{std::string(), static_cast<uint16_t>(port & 0xFFFF)};
    }
  } catch (...) {
    SetErrorCode(QXE_UNKNOWN);
    return FALSE;
  }
  return ConnectTo(target, type);
}

BOOL CQXBlockSock::ConnectTo(const HostPort& target, int type) {
  WriteLog("CQXBlockSock::ConnectTo: Start");
  if (!CreateSocket(type)) return FALSE;
  // Address reuse matters to a socket that listens; a client connects just
  // as well when the system refuses it.
  (void)api_->SetReuseAddress(socket_.get());

  try {
    return ResolveAndConnect(target, type);
  } catch (...) {
    // Only running out of memory can get here; the attempt is given up.
    SetErrorCode(QXE_UNKNOWN);
    CloseSocket();
    char line[96];  // holds every line in full
    (void)std::snprintf(line, sizeof line,
                        "CQXBlockSock::ConnectTo: Exception in connect. RETURNING "
                        "FALSE (ERROR %u)",
                        static_cast<unsigned>(target.port));
    WriteLog(line);
    return FALSE;
  }
}

BOOL CQXBlockSock::ResolveAndConnect(const HostPort& target, int type) {
  std::vector<SocketAddress> addresses;
  if (!target.host.empty() &&
      api_->Resolve(target.host, target.port, type, &addresses) != 0) {
    addresses.clear();
  }
  char line[96];  // holds every line in full
  if (addresses.empty()) {
    WriteLog("CQXBlockSock::ConnectTo: Invalid Address: INADDR_NONE");
    CloseSocket();
    (void)std::snprintf(line, sizeof line,
                        "CQXBlockSock::ConnectTo: RETURNING FALSE (ERROR %d)",
                        QXE_INVALID_ADDRESS);
    WriteLog(line);
    SetErrorCode(QXE_INVALID_ADDRESS);
    return FALSE;
  }

  // Try every address in the resolver's order. The socket CreateSocket
  // made serves the first IPv4 attempt; any other attempt gets a fresh
  // socket of the address's family.
  int first_error = QXE_OK;
  for (size_t i = 0; i < addresses.size(); ++i) {
    const SocketAddress& address = addresses[i];
    if (i > 0 || address.family != AF_INET) {
      int fd = api_->Open(address.family, type, address.protocol);
      if (fd < 0) {
        if (first_error == QXE_OK) first_error = SocketErrorFromErrno(errno);
        // The failed attempt's socket is done with, whatever close says.
        (void)socket_.Reset();
        continue;
      }
      (void)socket_.Reset(fd);  // closes the failed attempt's socket, as above
      (void)api_->SetReuseAddress(fd);  // as in ConnectTo
    }
    // A connect needs a round trip even on loopback, so it always gets at
    // least a second, even when the time-out is 0.
    int error = api_->Connect(socket_.get(), address, std::max(WaitMs(), 1000));
    if (error == 0) {
      SetErrorCode(QXE_OK);
      WriteLog("CQXBlockSock::ConnectTo: Completed");
      return TRUE;
    }
    if (first_error == QXE_OK) first_error = SocketErrorFromErrno(error);
  }
  SetErrorCode(first_error);
  CloseSocket();
  (void)std::snprintf(line, sizeof line,
                      "CQXBlockSock::ConnectTo: RETURNING FALSE (ERROR %d)", first_error);
  WriteLog(line);
  return FALSE;
}

std::string CQXBlockSock::ResolveHost(const std::string& host) {
  if (!socket_.valid()) return std::string();
  try {
    HostPort target;
    if (!ParseHostPort(host, 0, &target)) return SocketErrorText(11001);
    std::vector<SocketAddress> addresses;
    int rc = api_->Resolve(target.host, target.port, SOCK_STREAM, &addresses);
    if (rc != 0) return SocketErrorText(SocketErrorFromResolver(rc, errno));
    if (addresses.empty()) return SocketErrorText(11004);
    return NumericAddress(addresses.front());
  } catch (...) {
    return std::string();
  }
}

bool CQXBlockSock::PeerIsLoopback() const {
  SocketAddress peer;
  return socket_.valid() && api_->PeerAddress(socket_.get(), &peer) == 0 &&
         IsLoopbackAddress(peer);
}

BOOL CQXBlockSock::HaveSocket(const char* no_socket_line) {
  if (socket_.valid()) return TRUE;
  SetErrorCode(QXE_NO_SOCKET);
  WriteLog(no_socket_line);
  return FALSE;
}

BOOL CQXBlockSock::Send(const std::string& text) {
  WriteLog("CQXBlockSock::Send: Start");
  SetErrorCode(QXE_OK);
  if (!HaveSocket("CQXBlockSock::Send: Returning FALSE. (No Socket)")) return FALSE;
  const uint32_t length32 = static_cast<uint32_t>(text.size());
  const bool notify = notify_ && observer_ != nullptr;
  if (observer_ != nullptr) {
    if (notify) TellObserver([&] { observer_->OnSendStart(length32); });
    WriteLog("CQXBlockSock::Send: Start Sending");
  }
  bytes_to_send_ += length32;
  if (!SendChunks(text, notify)) return FALSE;

  SetErrorCode(QXE_OK);
  if (notify) {
    TellObserver([&] {
      observer_->OnSendComplete(bytes_sent_, bytes_to_send_, length32);
    });
  }
  WriteLog("CQXBlockSock::Send: Completed");
  return TRUE;
}

BOOL CQXBlockSock::SendChunks(const std::string& text, bool notify) {
  // The time-out bounds each stall: the deadline moves on whenever the
  // network takes bytes. The socket is non-blocking, so a send never waits
  // on its own; when nothing fits after all, the loop waits again.
  const auto stall_limit = std::chrono::milliseconds(WaitMs());
  Clock::time_point deadline = Clock::now() + stall_limit;
  size_t sent = 0;
  do {
    WriteLog("CQXBlockSock::Send: starting loop");
    if (api_->Wait(socket_.get(), true, RemainingMs(deadline)) <= 0) {
      SetErrorCode(QXE_TIMEOUT);
      WriteLog("CQXBlockSock::Send: Returning FALSE. (TimeOut)");
      return FALSE;
    }
    const size_t chunk = std::min(text.size() - sent, kSocketBlockSize);
    ssize_t n = SendChunk(text.data() + sent, chunk);
    if (n < 0) return FALSE;
    if (n == 0 && chunk > 0) continue;  // nothing fitted after all: wait again
    bytes_sent_ += static_cast<uint32_t>(n);
    if (notify) TellObserver([&] { observer_->OnChunkSent(bytes_sent_, bytes_to_send_); });
    sent += static_cast<size_t>(n);
    deadline = Clock::now() + stall_limit;
  } while (sent < text.size());
  return TRUE;
}

ssize_t CQXBlockSock::SendChunk(const char* data, size_t chunk) {
  WriteLog("CQXBlockSock::Send: Calling socket::send");
  ssize_t n = api_->Send(socket_.get(), data, chunk);
  int error = errno;
  WriteLog("CQXBlockSock::Send: socket::send returned");
  if (n < 0) {
    if (error == EAGAIN || error == EWOULDBLOCK) return 0;
    SetErrorCode(SocketErrorFromErrno(error));
    return -1;
  }
  if (n == 0 && chunk > 0) {
    SetErrorCode(QXE_SEND_COUNT);
    WriteLog("CQXBlockSock::Send: Returning FALSE. (Zero Bytes Sent)");
    return -1;
  }
  return n;
}

BOOL CQXBlockSock::Receive(std::string& text) {
  char buffer[kSocketBlockSize];
  SetErrorCode(QXE_OK);
  WriteLog("CQXBlockSock::Receive: Start");
  if (!HaveSocket("CQXBlockSock::Receive: Returning FALSE. (No Socket)")) return FALSE;
  text.clear();
  const bool notify = notify_ && observer_ != nullptr;
  if (notify) TellObserver([&] { observer_->OnReceiveStart(); });
  WriteLog("CQXBlockSock::Receive: Ready to Receive");

  ssize_t n = ReceiveBlock(buffer, sizeof buffer);
  if (n <= 0) return FALSE;
  received_a_ += static_cast<uint32_t>(n);
  received_b_ += static_cast<uint32_t>(n);
  if (!notify || CallObserver([&] {
        observer_->OnBlockReceived(received_b_, received_a_);
      })) {
    WriteLog("CQXBlockSock::Receive: Block Received");
  } else {
    WriteLog("CQXBlockSock::Receive: Exception in Receive");
  }
  return StoreBlock(buffer, static_cast<size_t>(n), &text);
}

ssize_t CQXBlockSock::ReceiveBlock(char* buffer, size_t size) {
  if (api_->Wait(socket_.get(), false, WaitMs()) <= 0) {
    SetErrorCode(QXE_TIMEOUT);
    WriteLog("CQXBlockSock::Receive: Returning FALSE. (Timeout Error)");
    return -1;
  }
  WriteLog("CQXBlockSock::Receive: Start Receiving");
  ssize_t n = api_->Receive(socket_.get(), buffer, size);
  int error = errno;
  WriteLog("CQXBlockSock::Receive: Ready Receiving");
  if (n == 0) WriteLog("CQXBlockSock::Receive: Returning FALSE (Length = 0)");
  if (n >= 0) return n;
  // Readiness that vanished before the read is no data within the wait.
  if (error == EAGAIN || error == EWOULDBLOCK) {
    SetErrorCode(QXE_TIMEOUT);
    WriteLog("CQXBlockSock::Receive: Returning FALSE. (Timeout Error)");
    return -1;
  }
  SetErrorCode(SocketErrorFromErrno(error));
  WriteLog("CQXBlockSock::Receive: Returning FALSE (Socket Error)");
  return -1;
}

BOOL CQXBlockSock::StoreBlock(const char* buffer, size_t size, std::string* text) {
  WriteLog("CQXBlockSock::Receive: Start buffering");
  try {
    // Every byte received is data, a zero byte included: cutting the block
    // there would drop the line end after it and stall the reader.
    text->assign(buffer, size);
  } catch (const std::bad_alloc&) {
    // Code 0 would read as "the peer closed"; this is a buffering failure.
    SetErrorCode(QXE_BUFFERING);
    PrintLine("Out of memory.");
    WriteLog(
        "CQXBlockSock::Receive: Exception while buffering. Returning FALSE");
    return FALSE;
  }
  WriteLog("CQXBlockSock::Receive: Ready buffering");
  WriteLog("CQXBlockSock::Receive: Returning TRUE");
  return TRUE;
}

BOOL CQXBlockSock::Close() {
  CloseSocket();
  return TRUE;
}

void CQXBlockSock::CloseSocket() {
  if (observer_ != nullptr) TellObserver([&] { observer_->OnClose(); });
  WriteLog("CQXBlockSock::Close: Start");
  // The result of close is not examined: the descriptor is gone either way.
  (void)socket_.Reset();
  WriteLog("CQXBlockSock::Close: Completed");
}

void CQXBlockSock::WriteLog(const char* message) {
  if (!debug_) return;
  try {
    const LocalTime now = GetLocalTime();
    if (log_file_.empty()) return;
    ScopedFd file(OpenRetry(log_file_.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                            0666));
    if (!file.valid()) return;
    char head[96];  // holds the time stamp and the object id in full
    (void)std::snprintf(head, sizeof head,
                        "%04d-%02d-%02d %02d:%02d:%02d %08" PRIXPTR " -> ", now.year,
                        now.month, now.day, now.hour, now.minute, now.second,
                        reinterpret_cast<uintptr_t>(this));
    std::string line(head);
    line += message ? message : "";
    line += '\n';
    // Logging is best effort: a line that does not fit is lost.
    (void)WriteAll(file.get(), line.data(), line.size());
  } catch (...) {
    // Logging is best effort; the line is lost.
  }
}

}  // namespace postrunner
