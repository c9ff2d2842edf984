// CQXBlockSock: the program's blocking TCP client socket. It connects to one
// host, sends whole texts, receives one block at a time and closes. Every
// wait for the network (connect included) is bounded by the object's
// time-out; every failure is a FALSE result plus an error code kept in the
// object (Windows Sockets numbers, or the class's own codes 30001..30008;
// GetErrorText turns a code into its short text). The object counts the bytes
// that pass through it, can append a line for every step to the debug log
// "QXSocketLog.txt" in the current directory (off unless EnableDebug(1)), and
// reports progress to an optional observer (none by default).
//
// Ownership: the object owns its socket descriptor (-1 when it has none) and
// closes it in Close and in the destructor. It is used by one thread at a
// time. An observer and a SocketApi passed in are not owned and must outlive
// the object.
#ifndef POSTRUNNER_NET_BLOCK_SOCK_H_
#define POSTRUNNER_NET_BLOCK_SOCK_H_

#include <sys/socket.h>

#include <cstdint>
#include <string>

#include "net/sock_observer.h"
#include "platform/host_port.h"
#include "platform/socket.h"
#include "platform/types.h"

namespace postrunner {

// The class's own error codes (GetErrorCode). 0 means no error; other
// values are Windows Sockets numbers (e.g. 10061 connection refused).
inline constexpr int QXE_OK = 0;
inline constexpr int QXE_CLOSE_FAILED = 30001;      // logged only
inline constexpr int QXE_INVALID_SOCKET = 30002;    // socket() refused
inline constexpr int QXE_INVALID_ADDRESS = 30003;   // host not resolvable
inline constexpr int QXE_NO_SOCKET = 30004;         // Send/Receive w/o socket
inline constexpr int QXE_TIMEOUT = 30005;           // wait expired
inline constexpr int QXE_SEND_COUNT = 30006;        // send took no bytes
inline constexpr int QXE_BUFFERING = 30007;         // failure filling the text
inline constexpr int QXE_UNKNOWN = 30008;           // unexpected failure

// Default time-out of every wait, in seconds.
inline constexpr int kDefaultSocketTimeout = 60;
// Largest chunk Send hands to one send call; largest block Receive returns.
inline constexpr size_t kSocketBlockSize = 4096;
// Name of the debug log, relative to the current directory.
inline constexpr const char* kSocketLogName = "QXSocketLog.txt";

class CQXBlockSock {
 public:
  // A socket over the system's BSD calls: no socket, time-out 60 seconds,
  // counters 0, debugging off, notifications on, no observer.
  CQXBlockSock();
  // The same over `api` (tests pass a fake peer). `api` must outlive this.
  explicit CQXBlockSock(SocketApi& api);
  // Closes a socket that is still open.
  virtual ~CQXBlockSock();

  CQXBlockSock(const CQXBlockSock&) = delete;
  CQXBlockSock& operator=(const CQXBlockSock&) = delete;

  // Makes a fresh socket of `type` (SOCK_STREAM) and `family`, closing any
  // old one first. Returns TRUE; FALSE with code 30002 when the system
  // refuses a socket (the object is then without socket).
  [[nodiscard]] BOOL CreateSocket(int type = SOCK_STREAM, int family = AF_INET);

  // Resolves and connects. `host` is "name", "name:port", "a.b.c.d",
  // "a.b.c.d:port", "[ipv6]" or "[ipv6]:port" (a bare IPv6 address without
  // brackets is taken whole); without a port `port` applies (low 16 bits).
  // Every address the resolver returns is tried in order, each attempt
  // bounded by the time-out (at least one second). Returns TRUE when
  // connected (code 0). On FALSE the object has no socket and the code is
  // 30003 (host malformed or not resolvable), the system's connect error of
  // the first failed attempt (e.g. 10061 refused, 10060 timed out,
  // 10065/10051 unreachable), or CreateSocket's code.
  [[nodiscard]]
  BOOL ConnectTo(const std::string& host, unsigned int port,
                 int type = SOCK_STREAM);

  // The same for a server text parsed already: `target.host` without
  // brackets or port (empty: not resolvable, code 30003), `target.port`.
  [[nodiscard]] BOOL ConnectTo(const HostPort& target, int type = SOCK_STREAM);

  // Whether the socket is connected to a loopback address, as the
  // connected socket itself names its peer (no name is looked up again).
  // False without a socket or when the system cannot tell.
  [[nodiscard]] bool PeerIsLoopback() const;

  // The first address `host` (any form ConnectTo accepts; the port is
  // ignored) resolves to, as numeric text. When it does not resolve: the
  // text of the resolver's error (e.g. "WSAHOST_NOT_FOUND"), which is never
  // an address. Empty when the object has no socket.
  std::string ResolveHost(const std::string& host);

  // Sends all bytes of `text` (zero bytes included) in chunks of at most
  // 4096 bytes, waiting up to the time-out for writability before each
  // chunk; the time-out bounds each stall, not the whole transfer. Adds the
  // length to the bytes-to-send counter first. Returns TRUE when everything
  // went out; FALSE with code 30004 (no socket), 30005 (stalled), 30006
  // (the system took no bytes) or the system's error (e.g. 10054). `text` is
  // not changed. An empty text succeeds after one wait.
  [[nodiscard]] BOOL Send(const std::string& text);

  // Empties `text` (unless there is no socket), waits up to the time-out
  // for data and stores what one recv delivered (at most 4096 bytes, zero
  // bytes included). Returns TRUE with that block. FALSE with: code 0
  // ("Ok") when the peer has closed the connection; 30004 no socket; 30005
  // nothing arrived in time; the system's error (e.g. 10054). A reply that
  // arrives in pieces needs several calls; data not yet read stays queued.
  [[nodiscard]] BOOL Receive(std::string& text);

  // Closes the socket if there is one; the object can connect again.
  // Returns TRUE (closing an object without socket is a success too).
  BOOL Close();

  // Time-out of every wait, in seconds. Negative values count as 0 (a wait
  // that only looks). No other check.
  void SetTimeout(int seconds);

  // The current error code; SetErrorCode stores `code` and returns it.
  [[nodiscard]] int GetErrorCode() const { return error_code_; }
  int SetErrorCode(int code);
  // The short text of the current error code ("Ok" for 0; see
  // net/socket_errors.h).
  std::string GetErrorText() const;

  // Sets all four traffic counters to 0.
  void ResetCommCounters();
  // Sum of the lengths of all texts given to Send.
  [[nodiscard]] uint32_t GetBytesToSend() const { return bytes_to_send_; }
  // Sum of what the individual send calls took.
  [[nodiscard]] uint32_t GetBytesSent() const { return bytes_sent_; }
  // Sum of the lengths of all received blocks.
  [[nodiscard]] uint32_t GetBytesReceived() const { return received_a_; }

  // Switches the debug log on (1) or off (0). Switching it on from off
  // writes "CQXBlockSock::EnableDebug: Debugging Enabled".
  void EnableDebug(int on);
  // Appends "<local time> <object id> -> <message>\n" to the log when
  // debugging is on. Best effort: never fails, never changes the state.
  void WriteLog(const char* message);

  // Attaches `observer` (nullptr detaches). Not owned.
  void SetObserver(CQXSockObserver* observer) { observer_ = observer; }
  // Switches Send's and Receive's notifications on (default) or off.
  void EnableNotifications(BOOL on) { notify_ = on != FALSE; }

  // The socket descriptor, -1 when the object has none.
  [[nodiscard]] int GetSocket() const { return socket_.get(); }

 private:
  // ConnectTo after the socket is made: resolves `target` and tries each
  // address. May throw std::bad_alloc; ConnectTo catches it.
  [[nodiscard]] BOOL ResolveAndConnect(const HostPort& target, int type);
  // The time-out in milliseconds, clamped to what poll accepts.
  [[nodiscard]] int WaitMs() const;
  // TRUE when there is a socket; otherwise stores code 30004, logs
  // `no_socket_line` and returns FALSE.
  [[nodiscard]] BOOL HaveSocket(const char* no_socket_line);
  // Send's loop: waits for room and sends `text` chunk by chunk, notifying
  // the observer after each when `notify`. FALSE with the code stored.
  [[nodiscard]] BOOL SendChunks(const std::string& text, bool notify);
  // One send of `chunk` bytes: the count taken, 0 when nothing fitted after
  // all (try again), -1 on failure with the code stored.
  [[nodiscard]] ssize_t SendChunk(const char* data, size_t chunk);
  // Waits for and reads one block: the count, 0 when the peer has closed,
  // -1 on failure with the code stored.
  [[nodiscard]] ssize_t ReceiveBlock(char* buffer, size_t size);
  // Close without its result, which is always TRUE.
  void CloseSocket();
  // Stores the `size` received bytes up to the first zero byte in `text`.
  // FALSE with code 30007 when memory runs out.
  [[nodiscard]] BOOL StoreBlock(const char* buffer, size_t size, std::string* text);

  int error_code_ = QXE_OK;
  int timeout_ = kDefaultSocketTimeout;
  uint32_t received_a_ = 0;
  uint32_t bytes_to_send_ = 0;
  uint32_t received_b_ = 0;
  uint32_t bytes_sent_ = 0;
  std::string log_file_;
  int debug_ = 0;
  bool notify_ = true;
  SocketApi* api_;
  ScopedSocket socket_;
  CQXSockObserver* observer_ = nullptr;
};

}  // namespace postrunner

#endif  // POSTRUNNER_NET_BLOCK_SOCK_H_
