// CQXBlockSock against a scripted peer: the faults a real connection does
// not produce on demand.
#include <gtest/gtest.h>
#include <netdb.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "net/block_sock.h"
#include "net/fake_socket.h"

namespace postrunner {
namespace {

// A connected socket over a fake peer.
class FakeConnected : public ::testing::Test {
 protected:
  void SetUp() override {
    api.addresses = {FakeSocketApi::Ipv4("192.0.2.1", 25)};
    ASSERT_TRUE(sock.ConnectTo("mail.example.com", 25));
  }
  FakeSocketApi api;
  CQXBlockSock sock{api};
};

std::string Pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i % 251);
  return text;
}

TEST_F(FakeConnected, SendsInChunksOf4096) {
  const std::string text = Pattern(10000);
  EXPECT_TRUE(sock.Send(text));
  EXPECT_EQ((std::vector<size_t>{4096, 4096, 1808}), api.send_requests);
  EXPECT_EQ(text, api.sent);
  // One writability wait per chunk, each with (about) the whole time-out.
  EXPECT_EQ((std::vector<bool>{true, true, true}), api.wait_for_write);
  EXPECT_GT(api.wait_timeouts.back(), 59000);
  EXPECT_LE(api.wait_timeouts.back(), 60000);
}

TEST_F(FakeConnected, PartialSendsContinueWhereTheyStopped) {
  api.send_limit = 1000;
  const std::string text = Pattern(10000);
  EXPECT_TRUE(sock.Send(text));
  EXPECT_EQ(text, api.sent);
  ASSERT_EQ(10u, api.send_requests.size());
  EXPECT_EQ(4096u, api.send_requests[0]);
  EXPECT_EQ(1000u, api.send_requests[9]);
  EXPECT_EQ(10000u, sock.GetBytesSent());
  EXPECT_EQ(10000u, sock.GetBytesToSend());
}

TEST_F(FakeConnected, NothingFitsWaitsAgain) {
  api.send_errnos = {EAGAIN, EAGAIN, 0};
  EXPECT_TRUE(sock.Send("MAIL From: <a@b>\r\n"));
  EXPECT_EQ("MAIL From: <a@b>\r\n", api.sent);
  EXPECT_EQ(3u, api.wait_for_write.size());
}

TEST_F(FakeConnected, EmptyTextWaitsOnceAndSendsZeroBytes) {
  EXPECT_TRUE(sock.Send(""));
  EXPECT_EQ(std::vector<size_t>{0}, api.send_requests);
  EXPECT_EQ(1u, api.wait_timeouts.size());
  EXPECT_EQ(0u, sock.GetBytesToSend());
}

TEST_F(FakeConnected, SendFailureKeepsCountersAndSocket) {
  api.send_fail_call = 2;
  api.send_fail_errno = EPIPE;
  EXPECT_FALSE(sock.Send(Pattern(10000)));
  EXPECT_EQ(10054, sock.GetErrorCode());
  EXPECT_EQ(10000u, sock.GetBytesToSend());
  EXPECT_EQ(4096u, sock.GetBytesSent());
  EXPECT_GE(sock.GetSocket(), 0);
}

TEST_F(FakeConnected, SendThatTakesNothingFailsInsteadOfSpinning) {
  api.send_takes_nothing = true;
  EXPECT_FALSE(sock.Send("DATA\r\n"));
  EXPECT_EQ(30006, sock.GetErrorCode());
  EXPECT_EQ("Incorrect number of byrtes in Send", sock.GetErrorText());
}

TEST_F(FakeConnected, WaitTimeoutAndFailure) {
  api.wait_results = {1, 0};
  EXPECT_FALSE(sock.Send(Pattern(5000)));
  EXPECT_EQ(30005, sock.GetErrorCode());
  EXPECT_EQ(4096u, sock.GetBytesSent());

  api.wait_results = {-1};
  EXPECT_FALSE(sock.Send("x"));
  EXPECT_EQ(30005, sock.GetErrorCode());
  EXPECT_TRUE(api.sent.size() == 4096u);

  std::string text = "stale";
  api.incoming = {"250 OK\r\n"};
  api.wait_results = {-1};
  EXPECT_FALSE(sock.Receive(text));
  EXPECT_EQ(30005, sock.GetErrorCode());
  EXPECT_EQ("", text);
  EXPECT_TRUE(sock.Receive(text));  // the data was left in place
  EXPECT_EQ("250 OK\r\n", text);
}

TEST_F(FakeConnected, TimeoutsReachTheWait) {
  sock.SetTimeout(0);
  EXPECT_TRUE(sock.Send("x"));
  EXPECT_EQ(0, api.wait_timeouts.back());
  sock.SetTimeout(-5);  // no endless wait from a negative value
  std::string text;
  api.wait_results = {0};
  EXPECT_FALSE(sock.Receive(text));
  EXPECT_EQ(0, api.wait_timeouts.back());
  sock.SetTimeout(10);
  api.wait_results = {0};
  EXPECT_FALSE(sock.Receive(text));
  EXPECT_EQ(10000, api.wait_timeouts.back());
  EXPECT_FALSE(api.wait_for_write.back());
}

TEST_F(FakeConnected, ReceiveErrors) {
  std::string text;
  api.receive_errno = ECONNRESET;
  EXPECT_FALSE(sock.Receive(text));
  EXPECT_EQ(10054, sock.GetErrorCode());
  api.receive_errno = EAGAIN;  // readiness that vanished
  EXPECT_FALSE(sock.Receive(text));
  EXPECT_EQ(30005, sock.GetErrorCode());
  api.receive_errno = 0;  // closed by the peer
  EXPECT_FALSE(sock.Receive(text));
  EXPECT_EQ(0, sock.GetErrorCode());
}

TEST(BlockSockFakeConnect, TriesEveryAddressInOrder) {
  FakeSocketApi api;
  api.addresses = {FakeSocketApi::Ipv6("2001:db8::1", 25),
                   FakeSocketApi::Ipv4("192.0.2.1", 25),
                   FakeSocketApi::Ipv4("192.0.2.2", 25)};
  api.connect_errors = {ENETUNREACH, ECONNREFUSED, 0};
  CQXBlockSock sock(api);
  EXPECT_TRUE(sock.ConnectTo("[2001:db8::1]:2525", 25));
  EXPECT_EQ(0, sock.GetErrorCode());
  EXPECT_EQ("2001:db8::1", api.resolved_hosts.back());
  EXPECT_EQ(2525, api.resolved_ports.back());
  EXPECT_EQ((std::vector<std::string>{"2001:db8::1", "192.0.2.1",
                                      "192.0.2.2"}),
            api.connected_to);
  // The first socket from CreateSocket is IPv4; each attempt then has a
  // socket of its address's family, and only the last one stays open.
  EXPECT_EQ((std::vector<int>{AF_INET, AF_INET6, AF_INET, AF_INET}),
            api.opened_families);
  EXPECT_EQ(1u, api.open_fds.size());
  EXPECT_EQ(sock.GetSocket(), *api.open_fds.begin());
}

TEST(BlockSockFakeConnect, ConnectWaitFollowsTheTimeout) {
  FakeSocketApi api;
  api.addresses = {FakeSocketApi::Ipv4("192.0.2.1", 25)};
  CQXBlockSock sock(api);
  EXPECT_TRUE(sock.ConnectTo("mail.example.com", 25));
  sock.SetTimeout(5);
  EXPECT_TRUE(sock.ConnectTo("mail.example.com", 25));
  sock.SetTimeout(0);  // a connect still gets its round trip
  EXPECT_TRUE(sock.ConnectTo("mail.example.com", 25));
  EXPECT_EQ((std::vector<int>{60000, 5000, 1000}), api.connect_timeouts);
}

TEST(BlockSockFakeConnect, AllAddressesFailReportsTheFirstError) {
  FakeSocketApi api;
  api.addresses = {FakeSocketApi::Ipv4("192.0.2.1", 25),
                   FakeSocketApi::Ipv4("192.0.2.2", 25)};
  api.connect_errors = {ETIMEDOUT, EHOSTUNREACH};
  CQXBlockSock sock(api);
  EXPECT_FALSE(sock.ConnectTo("mail.example.com", 25));
  EXPECT_EQ(10060, sock.GetErrorCode());
  EXPECT_EQ("WSAETIMEDOUT", sock.GetErrorText());
  EXPECT_EQ(-1, sock.GetSocket());
  EXPECT_TRUE(api.open_fds.empty());
  EXPECT_EQ(25, api.resolved_ports.back());
}

TEST(BlockSockFakeConnect, ResolverFailures) {
  FakeSocketApi api;
  CQXBlockSock sock(api);
  api.resolve_error = EAI_NONAME;
  EXPECT_FALSE(sock.ConnectTo("nowhere.example", 25));
  EXPECT_EQ(30003, sock.GetErrorCode());
  EXPECT_EQ(-1, sock.GetSocket());
  EXPECT_TRUE(api.open_fds.empty());
  EXPECT_TRUE(api.connected_to.empty());

  ASSERT_TRUE(sock.CreateSocket());
  EXPECT_EQ("WSAHOST_NOT_FOUND", sock.ResolveHost("nowhere.example"));
  api.resolve_error = EAI_AGAIN;
  EXPECT_EQ("WSATRY_AGAIN", sock.ResolveHost("nowhere.example"));
  api.resolve_error = 0;  // resolves, but to nothing
  EXPECT_FALSE(sock.ConnectTo("empty.example", 25));
  EXPECT_EQ(30003, sock.GetErrorCode());
}

TEST(BlockSockFakeConnect, SocketRefusedBySystem) {
  FakeSocketApi api;
  api.open_errno = EMFILE;
  CQXBlockSock sock(api);
  EXPECT_FALSE(sock.CreateSocket());
  EXPECT_EQ(30002, sock.GetErrorCode());
  EXPECT_EQ("Invalid Socket", sock.GetErrorText());
  EXPECT_FALSE(sock.ConnectTo("127.0.0.1", 25));
  EXPECT_EQ(30002, sock.GetErrorCode());
  EXPECT_TRUE(api.resolved_hosts.empty());
  EXPECT_EQ(-1, sock.GetSocket());
}

// Records every notification as text.
class RecordingObserver : public CQXSockObserver {
 public:
  std::vector<std::string> calls;
  bool throw_on_block = false;
  bool throw_on_chunk = false;
  void OnSendStart(uint32_t length) override {
    calls.push_back("start " + std::to_string(length));
  }
  void OnChunkSent(uint32_t sent, uint32_t to_send) override {
    if (throw_on_chunk) throw std::runtime_error("observer failed");
    calls.push_back("chunk " + std::to_string(sent) + "/" +
                    std::to_string(to_send));
  }
  void OnSendComplete(uint32_t sent, uint32_t to_send,
                      uint32_t length) override {
    calls.push_back("done " + std::to_string(sent) + "/" +
                    std::to_string(to_send) + " " + std::to_string(length));
  }
  void OnReceiveStart() override { calls.push_back("wait"); }
  void OnBlockReceived(uint32_t b, uint32_t a) override {
    if (throw_on_block) throw std::runtime_error("observer failed");
    calls.push_back("block " + std::to_string(b) + "/" + std::to_string(a));
  }
  void OnClose() override { calls.push_back("close"); }
};

TEST_F(FakeConnected, ObserverSeesEveryMoment) {
  RecordingObserver observer;
  sock.SetObserver(&observer);
  ASSERT_TRUE(sock.Send("HELO"));
  ASSERT_TRUE(sock.Send(Pattern(5000)));
  api.incoming = {"250 a\r\n", "250 bb\r\n"};
  std::string text;
  ASSERT_TRUE(sock.Receive(text));
  ASSERT_TRUE(sock.Receive(text));
  sock.Close();
  EXPECT_EQ((std::vector<std::string>{
                "start 4", "chunk 4/4", "done 4/4 4", "start 5000",
                "chunk 4100/5004", "chunk 5004/5004", "done 5004/5004 5000",
                "wait", "block 7/7", "wait", "block 15/15", "close"}),
            observer.calls);

  // With notifications off only Close still reports.
  observer.calls.clear();
  ASSERT_TRUE(sock.ConnectTo("mail.example.com", 25));
  observer.calls.clear();
  sock.EnableNotifications(FALSE);
  EXPECT_TRUE(sock.Send("x"));
  api.incoming = {"y"};
  EXPECT_TRUE(sock.Receive(text));
  sock.Close();
  EXPECT_EQ(std::vector<std::string>{"close"}, observer.calls);
  sock.SetObserver(nullptr);
}

TEST_F(FakeConnected, ThrowingObserverLosesNeitherBlockNorSend) {
  RecordingObserver observer;
  observer.throw_on_block = true;
  observer.throw_on_chunk = true;
  sock.SetObserver(&observer);
  api.incoming = {"354 go ahead\r\n"};
  std::string text;
  EXPECT_TRUE(sock.Receive(text));
  EXPECT_EQ("354 go ahead\r\n", text);
  // Every chunk goes out and the send succeeds although each notification
  // after a chunk throws.
  EXPECT_TRUE(sock.Send(Pattern(9000)));
  EXPECT_EQ(Pattern(9000), api.sent);
  EXPECT_EQ(0, sock.GetErrorCode());
  EXPECT_EQ((std::vector<std::string>{"wait", "start 9000", "done 9000/9000 9000"}),
            observer.calls);
  sock.SetObserver(nullptr);
}

}  // namespace
}  // namespace postrunner
