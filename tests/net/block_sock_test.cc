// CQXBlockSock against real loopback peers on ephemeral ports.
#include "net/block_sock.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>

#include "net/loopback.h"

namespace postrunner {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A client socket connected to a fresh listener, and the accepted peer.
struct Connected {
  LoopbackListener listener;
  CQXBlockSock sock;
  ScopedFd peer;

  Connected() {
    if (!listener.ok()) return;
    if (!sock.ConnectTo("127.0.0.1", listener.port())) return;
    peer = listener.Accept();
  }
  bool ok() const { return peer.valid(); }
};

TEST(BlockSockConnect, HostFormsAndDefaultPort) {
  LoopbackListener listener;
  ASSERT_TRUE(listener.ok());
  const std::string port = std::to_string(listener.port());

  CQXBlockSock sock;
  // The port in the text wins over the caller's default.
  EXPECT_TRUE(sock.ConnectTo("127.0.0.1:" + port, 25));
  EXPECT_EQ(0, sock.GetErrorCode());
  EXPECT_GE(sock.GetSocket(), 0);
  EXPECT_TRUE(listener.Accept().valid());

  // Without a port the default applies.
  EXPECT_TRUE(sock.ConnectTo("127.0.0.1", listener.port()));
  EXPECT_TRUE(listener.Accept().valid());

  // A time-out of 0 still lets a connect complete.
  sock.SetTimeout(0);
  EXPECT_TRUE(sock.ConnectTo("127.0.0.1", listener.port()));
  EXPECT_TRUE(listener.Accept().valid());

  // A name (from the hosts file) resolves too.
  EXPECT_TRUE(sock.ConnectTo("localhost:" + port, 25));
  EXPECT_TRUE(listener.Accept().valid());
}

TEST(BlockSockConnect, Ipv6Bracketed) {
  LoopbackListener listener(AF_INET6);
  if (!listener.ok()) GTEST_SKIP() << "no IPv6 loopback";
  CQXBlockSock sock;
  EXPECT_TRUE(sock.ConnectTo("[::1]:" + std::to_string(listener.port()), 25));
  EXPECT_TRUE(listener.Accept().valid());
  EXPECT_TRUE(sock.ConnectTo("[::1]", listener.port()));
  EXPECT_TRUE(listener.Accept().valid());
  EXPECT_TRUE(sock.ConnectTo("::1", listener.port()));
  EXPECT_TRUE(listener.Accept().valid());
}

TEST(BlockSockConnect, RefusedLeavesNoSocket) {
  LoopbackListener listener;
  ASSERT_TRUE(listener.ok());
  unsigned port = listener.port();
  listener.Stop();

  CQXBlockSock sock;
  EXPECT_FALSE(sock.ConnectTo("127.0.0.1", port));
  EXPECT_EQ(10061, sock.GetErrorCode());
  EXPECT_EQ("WSAECONNREFUSED", sock.GetErrorText());
  EXPECT_EQ(-1, sock.GetSocket());
  std::string text = "kept";
  EXPECT_FALSE(sock.Receive(text));
  EXPECT_EQ(30004, sock.GetErrorCode());
  EXPECT_EQ("kept", text);
}

TEST(BlockSockConnect, UnresolvableOrMalformedHost) {
  CQXBlockSock sock;
  for (const char* host : {"no-such-host.invalid", "", "[::1", "[]:25",
                           "127.0.0.1:", "127.0.0.1:99999", "127.0.0.1:2x",
                           "[::1]x"}) {
    SCOPED_TRACE(host);
    EXPECT_FALSE(sock.ConnectTo(host, 25));
    EXPECT_EQ(30003, sock.GetErrorCode());
    EXPECT_EQ("Invalid Address in Connect", sock.GetErrorText());
    EXPECT_EQ(-1, sock.GetSocket());
  }
}

TEST(BlockSockConnect, TimesOutWhenNobodyAnswers) {
  // A listener that is never accepted from and whose queue is full drops
  // further handshakes, so a connect there only ends by its time-out.
  LoopbackListener listener(AF_INET, 0);
  ASSERT_TRUE(listener.ok());
  std::unique_ptr<CQXBlockSock> fillers[4];
  CQXBlockSock sock;
  sock.SetTimeout(1);
  bool timed_out = false;
  for (auto& filler : fillers) {
    filler = std::make_unique<CQXBlockSock>();
    filler->SetTimeout(1);
    auto start = Clock::now();
    if (!filler->ConnectTo("127.0.0.1", listener.port())) {
      EXPECT_EQ(10060, filler->GetErrorCode());
      EXPECT_EQ("WSAETIMEDOUT", filler->GetErrorText());
      EXPECT_LT(SecondsSince(start), 2.5);
      EXPECT_EQ(-1, filler->GetSocket());
      timed_out = true;
      break;
    }
  }
  if (!timed_out) GTEST_SKIP() << "this network stack never drops handshakes";
}

TEST(BlockSockConnect, ReconnectClosesOldSocket) {
  Connected c;
  ASSERT_TRUE(c.ok());
  EXPECT_TRUE(c.sock.ConnectTo("127.0.0.1", c.listener.port()));
  EXPECT_TRUE(PeerClosed(c.peer.get()));
  EXPECT_TRUE(c.listener.Accept().valid());
}

TEST(BlockSockTransfer, SendsTenThousandBytesWhole) {
  Connected c;
  ASSERT_TRUE(c.ok());
  std::string text(10000, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7);
  const std::string copy = text;
  EXPECT_TRUE(c.sock.Send(text));
  EXPECT_EQ(copy, text);
  EXPECT_EQ(0, c.sock.GetErrorCode());
  EXPECT_EQ(copy, ReadFromPeer(c.peer.get(), 10000));
  EXPECT_EQ(10000u, c.sock.GetBytesToSend());
  EXPECT_EQ(10000u, c.sock.GetBytesSent());
}

TEST(BlockSockTransfer, EmptySendSucceeds) {
  Connected c;
  ASSERT_TRUE(c.ok());
  EXPECT_TRUE(c.sock.Send(""));
  EXPECT_EQ(0u, c.sock.GetBytesToSend());
  EXPECT_EQ(0u, c.sock.GetBytesSent());
}

TEST(BlockSockTransfer, ReceivesOneBlockPerCall) {
  Connected c;
  ASSERT_TRUE(c.ok());
  c.sock.SetTimeout(2);
  std::string big(5000, 'r');
  ASSERT_EQ(5000, ::send(c.peer.get(), big.data(), big.size(), 0));
  std::string got, text;
  while (got.size() < big.size() && c.sock.Receive(text)) {
    EXPECT_LE(text.size(), 4096u);
    got += text;
  }
  EXPECT_EQ(big, got);
  EXPECT_EQ(5000u, c.sock.GetBytesReceived());

  // A zero byte is data like any other.
  ASSERT_EQ(8, ::send(c.peer.get(), "250\0junk", 8, 0));
  EXPECT_TRUE(c.sock.Receive(text));
  EXPECT_EQ(std::string("250\0junk", 8), text);
  EXPECT_EQ(5008u, c.sock.GetBytesReceived());

  c.sock.ResetCommCounters();
  EXPECT_EQ(0u, c.sock.GetBytesReceived());
}

TEST(BlockSockTransfer, PeerCloseReadsAsOk) {
  Connected c;
  ASSERT_TRUE(c.ok());
  ASSERT_EQ(4, ::send(c.peer.get(), "221\n", 4, 0));
  EXPECT_TRUE(c.peer.Reset());
  std::string text;
  EXPECT_TRUE(c.sock.Receive(text));
  EXPECT_EQ("221\n", text);
  for (int i = 0; i < 2; ++i) {
    text = "stale";
    EXPECT_FALSE(c.sock.Receive(text));
    EXPECT_EQ(0, c.sock.GetErrorCode());
    EXPECT_EQ("Ok", c.sock.GetErrorText());
    EXPECT_EQ("", text);
    EXPECT_GE(c.sock.GetSocket(), 0);  // a failed Receive keeps the socket
  }
}

TEST(BlockSockTransfer, PeerResetIsAnError) {
  Connected c;
  ASSERT_TRUE(c.ok());
  linger hard{1, 0};
  ASSERT_EQ(0, ::setsockopt(c.peer.get(), SOL_SOCKET, SO_LINGER, &hard,
                            sizeof hard));
  EXPECT_TRUE(c.peer.Reset());
  std::string text;
  c.sock.SetTimeout(2);
  EXPECT_FALSE(c.sock.Receive(text));
  EXPECT_EQ(10054, c.sock.GetErrorCode());
  EXPECT_EQ("WSAECONNRESET", c.sock.GetErrorText());
  // Sending into the reset connection fails instead of killing the process.
  EXPECT_FALSE(c.sock.Send(std::string(100000, 'x')));
  EXPECT_EQ(10054, c.sock.GetErrorCode());
}

TEST(BlockSockTransfer, ReceiveWaitIsBounded) {
  Connected c;
  ASSERT_TRUE(c.ok());
  std::string text = "stale";
  c.sock.SetTimeout(0);
  auto start = Clock::now();
  EXPECT_FALSE(c.sock.Receive(text));
  EXPECT_EQ(30005, c.sock.GetErrorCode());
  EXPECT_EQ("Timeout in Receive or Send", c.sock.GetErrorText());
  EXPECT_EQ("", text);
  EXPECT_LT(SecondsSince(start), 0.5);

  c.sock.SetTimeout(1);
  start = Clock::now();
  EXPECT_FALSE(c.sock.Receive(text));
  EXPECT_EQ(30005, c.sock.GetErrorCode());
  EXPECT_GE(SecondsSince(start), 0.9);
  EXPECT_LT(SecondsSince(start), 2.5);

  // Data already waiting is returned even with a time-out of 0.
  ASSERT_EQ(5, ::send(c.peer.get(), "220 x", 5, 0));
  ASSERT_TRUE(ReadFromPeer(c.peer.get(), 0).empty());
  c.sock.SetTimeout(0);
  for (int i = 0; i < 200 && !c.sock.Receive(text); ++i) ::usleep(5000);
  EXPECT_EQ("220 x", text);
}

TEST(BlockSockTransfer, StalledPeerEndsSendByTimeout) {
  Connected c;
  ASSERT_TRUE(c.ok());
  int small = 4096;
  ::setsockopt(c.peer.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  c.sock.SetTimeout(1);
  // Far more than the socket buffers on both sides can hold.
  const std::string text(32 << 20, 'm');
  auto start = Clock::now();
  EXPECT_FALSE(c.sock.Send(text));
  EXPECT_EQ(30005, c.sock.GetErrorCode());
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(text.size(), c.sock.GetBytesToSend());
  EXPECT_LT(c.sock.GetBytesSent(), text.size());
  EXPECT_GT(c.sock.GetBytesSent(), 0u);
  EXPECT_GE(c.sock.GetSocket(), 0);
}

TEST(BlockSockLifecycle, CloseAndDestroy) {
  Connected c;
  ASSERT_TRUE(c.ok());
  EXPECT_TRUE(c.sock.Close());
  EXPECT_TRUE(c.sock.Close());
  EXPECT_EQ(-1, c.sock.GetSocket());
  EXPECT_TRUE(PeerClosed(c.peer.get()));
  EXPECT_FALSE(c.sock.Send("HELO x\r\n"));
  EXPECT_EQ(30004, c.sock.GetErrorCode());
  EXPECT_EQ("No Socket for reading or writing", c.sock.GetErrorText());
  std::string text = "untouched";
  EXPECT_FALSE(c.sock.Receive(text));
  EXPECT_EQ(30004, c.sock.GetErrorCode());
  EXPECT_EQ("untouched", text);

  // The object may connect again after Close.
  EXPECT_TRUE(c.sock.ConnectTo("127.0.0.1", c.listener.port()));
  ScopedFd peer = c.listener.Accept();
  ASSERT_TRUE(peer.valid());

  // Destroying a connected object closes its socket.
  auto other = std::make_unique<CQXBlockSock>();
  ASSERT_TRUE(other->ConnectTo("127.0.0.1", c.listener.port()));
  ScopedFd other_peer = c.listener.Accept();
  ASSERT_TRUE(other_peer.valid());
  other.reset();
  EXPECT_TRUE(PeerClosed(other_peer.get()));
}

TEST(BlockSockLifecycle, ResolveHost) {
  CQXBlockSock sock;
  EXPECT_EQ("", sock.ResolveHost("127.0.0.1"));  // no socket yet
  ASSERT_TRUE(sock.CreateSocket());
  EXPECT_EQ("127.0.0.1", sock.ResolveHost("127.0.0.1"));
  EXPECT_EQ("127.0.0.1", sock.ResolveHost("127.0.0.1:587"));
  EXPECT_EQ("::1", sock.ResolveHost("[::1]:25"));
  EXPECT_EQ("WSAHOST_NOT_FOUND", sock.ResolveHost("no-such-host.invalid"));
  EXPECT_EQ(0, sock.GetErrorCode());
}

}  // namespace
}  // namespace postrunner
