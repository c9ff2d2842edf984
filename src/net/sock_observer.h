// Progress notifications of a CQXBlockSock. An observer is attached with
// CQXBlockSock::SetObserver; none is attached by default, and the socket
// works the same with or without one. Each callback stands for one moment of
// a socket operation; the default implementations do nothing, so an observer
// overrides only what it needs. Callbacks run on the calling thread, inside
// the socket operation; an exception thrown from one is caught by the socket.
#ifndef POSTRUNNER_NET_SOCK_OBSERVER_H_
#define POSTRUNNER_NET_SOCK_OBSERVER_H_

#include <cstdint>

namespace postrunner {

class CQXSockObserver {
 public:
  virtual ~CQXSockObserver() = default;

  // Send is about to transmit a text of `length` bytes (progress range
  // 0..length, position 0).
  virtual void OnSendStart(uint32_t length) { (void)length; }

  // Send has handed one chunk to the network. `bytes_sent` and
  // `bytes_to_send` are the socket's running counters (progress position:
  // `bytes_sent`).
  virtual void OnChunkSent(uint32_t bytes_sent, uint32_t bytes_to_send) {
    (void)bytes_sent;
    (void)bytes_to_send;
  }

  // Send has transmitted the whole text of `length` bytes; the counters as
  // above (progress position: `length`).
  virtual void OnSendComplete(uint32_t bytes_sent, uint32_t bytes_to_send,
                              uint32_t length) {
    (void)bytes_sent;
    (void)bytes_to_send;
    (void)length;
  }

  // Receive is about to wait for data.
  virtual void OnReceiveStart() {}

  // Receive got one block; both values are the received-bytes counter
  // (kept twice for the two progress targets, always equal).
  virtual void OnBlockReceived(uint32_t received_b, uint32_t received_a) {
    (void)received_b;
    (void)received_a;
  }

  // Close is starting (progress position back to 0).
  virtual void OnClose() {}
};

}  // namespace postrunner

#endif  // POSTRUNNER_NET_SOCK_OBSERVER_H_
