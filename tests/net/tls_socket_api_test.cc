// The TLS layer against peers that do not speak TLS: every handshake ends
// within its time-out with a reason, whether the peer stays silent, answers
// in plain text or hangs up.
#include <sys/socket.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "net/loopback.h"
#include "net/tls_socket_api.h"

namespace postrunner {
namespace {

struct Peer {
  const char* name;
  const char* says;  // nullptr: stays silent; "": hangs up at once
  const char* reason;
};

class TlsHandshakeTest : public ::testing::TestWithParam<Peer> {};

TEST_P(TlsHandshakeTest, EndsInTimeWithAReason) {
  LoopbackListener listener;
  ASSERT_TRUE(listener.ok());
  TlsSocketApi tls(SystemSocketApi());
  ScopedSocket client(&tls);
  (void)client.Reset(tls.Open(AF_INET, SOCK_STREAM, 0));  // nothing held yet
  std::vector<SocketAddress> addresses;
  ASSERT_EQ(tls.Resolve("127.0.0.1", static_cast<uint16_t>(listener.port()), SOCK_STREAM,
                        &addresses), 0);
  ASSERT_EQ(tls.Connect(client.get(), addresses.at(0), 2000), 0);
  ScopedFd server = listener.Accept();
  ASSERT_TRUE(server.valid());
  if (GetParam().says != nullptr) {
    std::string text = GetParam().says;
    if (text.empty()) {
      EXPECT_TRUE(server.Reset());
    } else {
      ASSERT_EQ(::send(server.get(), text.data(), text.size(), 0),
                static_cast<ssize_t>(text.size()));
    }
  }

  const auto start = std::chrono::steady_clock::now();
  std::string reason;
  EXPECT_FALSE(tls.StartTls(client.get(), "localhost", "", 300, &reason));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_NE(reason.find(GetParam().reason), std::string::npos) << reason;
  EXPECT_FALSE(tls.Secured(client.get()));
}

INSTANTIATE_TEST_SUITE_P(
    Peers, TlsHandshakeTest,
    ::testing::Values(Peer{"Silent", nullptr, "TLS handshake timed out"},
                      Peer{"PlainText", "220 mail.example.com ESMTP ready\r\n",
                           "TLS handshake failed: "},
                      Peer{"HangsUp", "", "closed the connection during the TLS handshake"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace postrunner
