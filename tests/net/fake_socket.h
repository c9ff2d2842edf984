// A scripted stand-in for the system socket calls, for the faults a real
// loopback peer cannot produce on demand: sends that take only part of a
// chunk or nothing at all, failures on the Nth call, waits that fail,
// resolvers that return several addresses or an error, connects that time
// out. Every call is recorded so tests can check what the socket asked for.
#ifndef POSTRUNNER_TESTS_NET_FAKE_SOCKET_H_
#define POSTRUNNER_TESTS_NET_FAKE_SOCKET_H_

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace postrunner {

class FakeSocketApi : public SocketApi {
 public:
  // --- Script ---------------------------------------------------------
  std::vector<SocketAddress> addresses;  // what Resolve returns
  int resolve_error = 0;                 // EAI_* code Resolve returns
  int open_errno = 0;                    // Open fails with this when set
  std::deque<int> connect_errors;        // per attempt; empty: success
  std::deque<int> wait_results;          // per Wait; empty: 1 (ready)
  size_t send_limit = static_cast<size_t>(-1);  // most bytes one send takes
  int send_fail_call = 0;     // 1-based send call that fails (0: none)
  int send_fail_errno = ECONNRESET;
  std::deque<int> send_errnos;           // per send before the above; 0: ok
  bool send_takes_nothing = false;       // every send returns 0
  std::deque<std::string> incoming;      // blocks Receive hands out
  int receive_errno = 0;                 // when no block is queued
  SocketAddress peer;                    // PeerAddress; none (ENOTCONN) unless set
  // --- Record ---------------------------------------------------------
  std::vector<std::string> resolved_hosts;
  std::vector<uint16_t> resolved_ports;
  std::vector<int> opened_families;
  std::vector<std::string> connected_to;  // NumericAddress per attempt
  std::vector<int> connect_timeouts;
  std::vector<int> wait_timeouts;
  std::vector<bool> wait_for_write;
  std::vector<size_t> send_requests;      // sizes asked for
  std::string sent;                       // bytes taken, in order
  std::set<int> open_fds;
  int closes = 0;

  static SocketAddress Ipv4(const char* text, uint16_t port) {
    SocketAddress a;
    auto* in = reinterpret_cast<sockaddr_in*>(&a.storage);
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    inet_pton(AF_INET, text, &in->sin_addr);
    a.family = AF_INET;
    a.length = sizeof(sockaddr_in);
    return a;
  }
  static SocketAddress Ipv6(const char* text, uint16_t port) {
    SocketAddress a;
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    inet_pton(AF_INET6, text, &in6->sin6_addr);
    a.family = AF_INET6;
    a.length = sizeof(sockaddr_in6);
    return a;
  }

  int Resolve(const std::string& host, uint16_t port, int,
              std::vector<SocketAddress>* out) override {
    resolved_hosts.push_back(host);
    resolved_ports.push_back(port);
    if (resolve_error != 0) return resolve_error;
    out->insert(out->end(), addresses.begin(), addresses.end());
    return 0;
  }

  int Open(int family, int, int) override {
    opened_families.push_back(family);
    if (open_errno != 0) {
      errno = open_errno;
      return -1;
    }
    int fd = next_fd_++;
    open_fds.insert(fd);
    return fd;
  }

  int SetReuseAddress(int) override { return 0; }

  int Connect(int, const SocketAddress& address, int timeout_ms) override {
    connected_to.push_back(NumericAddress(address));
    connect_timeouts.push_back(timeout_ms);
    if (connect_errors.empty()) return 0;
    int error = connect_errors.front();
    connect_errors.pop_front();
    return error;
  }

  int Wait(int, bool for_write, int timeout_ms) override {
    wait_timeouts.push_back(timeout_ms);
    wait_for_write.push_back(for_write);
    if (wait_results.empty()) return 1;
    int result = wait_results.front();
    wait_results.pop_front();
    if (result < 0) errno = EINVAL;
    return result;
  }

  ssize_t Send(int, const void* data, size_t size) override {
    send_requests.push_back(size);
    if (send_fail_call != 0 &&
        static_cast<int>(send_requests.size()) == send_fail_call) {
      errno = send_fail_errno;
      return -1;
    }
    if (!send_errnos.empty()) {
      int error = send_errnos.front();
      send_errnos.pop_front();
      if (error != 0) {
        errno = error;
        return -1;
      }
    }
    if (send_takes_nothing) return 0;
    size_t n = size < send_limit ? size : send_limit;
    sent.append(static_cast<const char*>(data), n);
    return static_cast<ssize_t>(n);
  }

  ssize_t Receive(int, void* buffer, size_t size) override {
    if (incoming.empty()) {
      if (receive_errno == 0) return 0;  // the peer has closed
      errno = receive_errno;
      return -1;
    }
    std::string& block = incoming.front();
    size_t n = block.size() < size ? block.size() : size;
    std::memcpy(buffer, block.data(), n);
    block.erase(0, n);
    if (block.empty()) incoming.pop_front();
    return static_cast<ssize_t>(n);
  }

  int PeerAddress(int, SocketAddress* out) override {
    if (peer.family == AF_UNSPEC) {
      errno = ENOTCONN;
      return -1;
    }
    *out = peer;
    return 0;
  }

  int Close(int fd) override {
    ++closes;
    open_fds.erase(fd);
    return 0;
  }

 private:
  int next_fd_ = 100;
};

}  // namespace postrunner

#endif  // POSTRUNNER_TESTS_NET_FAKE_SOCKET_H_
