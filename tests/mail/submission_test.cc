// Secure submission apart from TLS itself: the EHLO extension parser, the
// SASL responses (checked against the published examples of RFC 4616 and of
// the XOAUTH2 mechanism), a STARTTLS reply followed by injected bytes, and
// AUTH without TLS only to a peer the socket names as loopback.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mail/base64.h"
#include "mail/mail_message.h"
#include "mail/sasl.h"
#include "mail/scripted_smtp.h"
#include "mail/smtp_conversation.h"
#include "mail/smtp_extensions.h"
#include "mail/smtp_submission.h"
#include "net/fake_socket.h"

namespace postrunner {
namespace {

TEST(EhloReplyTest, ReadsStartTlsAuthAndSizeFromEveryLineButTheGreeting) {
  SmtpExtensions e;
  ASSERT_TRUE(ParseEhloReply("250-mail.example.com Hello [192.0.2.7] STARTTLS AUTH X\r\n"
                             "250-SIZE 35882577\r\n250-8BITMIME\r\n"
                             "250-auth plain Login xoauth2\r\n250-AUTH=CRAM-MD5\r\n"
                             "250 starttls\r\n",
                             &e));
  EXPECT_TRUE(e.starttls);
  EXPECT_EQ(e.size_limit, 35882577u);
  EXPECT_EQ(e.auth_mechanisms, (std::vector<std::string>{"PLAIN", "LOGIN", "XOAUTH2", "CRAM-MD5"}));
  EXPECT_TRUE(e.OffersAuth("xoauth2"));
  EXPECT_FALSE(e.OffersAuth("GSSAPI"));

  // The greeting line alone names nothing, whatever words it holds.
  ASSERT_TRUE(ParseEhloReply("250 mail.example.com STARTTLS\n", &e));
  EXPECT_FALSE(e.starttls);
  EXPECT_TRUE(e.auth_mechanisms.empty());
}

TEST(EhloReplyTest, SizeWithoutAUsableLimitMeansNone) {
  const struct {
    const char* line;
    uint64_t limit;
  } cases[] = {{"250 SIZE", 0},
               {"250 SIZE 0", 0},
               {"250 SIZE 10M", 0},
               {"250 SIZE 99999999999999999999999", std::numeric_limits<uint64_t>::max()}};
  for (const auto& c : cases) {
    SmtpExtensions e;
    ASSERT_TRUE(ParseEhloReply(std::string("250-host\r\n") + c.line + "\r\n", &e));
    EXPECT_EQ(e.size_limit, c.limit) << c.line;
  }
}

TEST(EhloReplyTest, RefusalLeavesNothing) {
  SmtpExtensions e;
  e.starttls = true;
  EXPECT_FALSE(ParseEhloReply("502 5.5.2 Error: command not recognized\r\n", &e));
  EXPECT_FALSE(e.starttls);
  EXPECT_FALSE(ParseEhloReply("", &e));
}

TEST(SaslTest, ResponsesOfEachMechanism) {
  EXPECT_EQ(SaslPlainResponse("tim", "tanstaaftanstaaf"), "AHRpbQB0YW5zdGFhZnRhbnN0YWFm");
  EXPECT_EQ(SaslLoginResponse("user"), "dXNlcg==");
  EXPECT_EQ(SaslXoauth2Response("someuser@example.com",
                                "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg"),
            "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhk"
            "SFJoZG1semRHRXVZMjl0Q2cBAQ==");
  EXPECT_STREQ(SaslMechanismName(SaslMechanism::kXoauth2), "XOAUTH2");
  // RFC 7628 section 4.1's example.
  EXPECT_EQ(SaslOauthBearerResponse("user@example.com", "server.example.com", 143,
                                    "vF9dft4qmTc2Nvb3RlckBhbHRhdmlzdGEuY29tCg=="),
            "bixhPXVzZXJAZXhhbXBsZS5jb20sAWhvc3Q9c2VydmVyLmV4YW1wbGUuY29tAXBvcnQ9MTQzAWF1dGg9QmVh"
            "cmVyIHZGOWRmdDRxbVRjMk52YjNSbGNrQmhiSFJoZG1semRHRXVZMjl0Q2c9PQEB");
  // A "," or "=" in the user would end or break the GS2 header.
  EXPECT_EQ(SaslOauthBearerResponse("a,b=c", "h", 1, "t"),
            EncodeStringBase64("n,a=a=2Cb=3Dc,\x01host=h\x01port=1\x01" "auth=Bearer t\x01\x01", TRUE));
  EXPECT_EQ(SaslErrorChallengeAnswer(SaslMechanism::kOauthBearer), "AQ==");
  EXPECT_EQ(SaslErrorChallengeAnswer(SaslMechanism::kXoauth2), "");
}

TEST(StartTlsTest, BytesAfterTheStartTlsReplyEndTheConversation) {
  // Whoever can write to the plain connection could append replies that
  // would later pass as coming over TLS; the client must give up instead.
  ScriptedSmtpServer server({[](ScriptedSmtpServer::Peer& peer) {
    peer.Send("220 hi\r\n");
    peer.ReadLine();
    peer.Send("250-hi\r\n250 STARTTLS\r\n");
    peer.ReadLine();
    peer.Send("220 go ahead\r\n250-forged\r\n250 AUTH PLAIN\r\n");
    peer.ReadLine();
  }});
  CQXMailMessage message;
  message.SetWaits(SmtpWaits{1, 0});
  message.SetTimeout(1);
  message.SetSender("from@src.test");
  message.AddReceiver("to@dst.test");
  message.SetMailServer(server.server());
  MailSecurity security;
  security.extended = true;
  security.transport = MailTransport::kStartTls;
  security.user = "user";
  security.secret = "secret";
  message.SetSecurity(security);
  std::string diagnostics;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(message.Transmit(diagnostics));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("sent data after its STARTTLS reply"),
            std::string::npos);
  std::vector<std::string> transcript = server.Transcript();
  ASSERT_EQ(transcript.size(), 3u);
  EXPECT_EQ(transcript[0].rfind("EHLO ", 0), 0u);
  EXPECT_EQ(transcript[1], "STARTTLS");
  EXPECT_EQ(transcript[2], "<closed>");
}

TEST(PlainAuthTest, CredentialsGoInClearOnlyToAPeerTheSocketNamesAsLoopback) {
  // The server's name resolves to loopback, but what counts is the address
  // the socket is connected to: a name can answer differently each time.
  const struct {
    const char* peer;  // nullptr: the system cannot name the peer
    bool authenticates;
  } cases[] = {{"192.0.2.7", false}, {nullptr, false}, {"127.0.0.1", true}};
  for (const auto& c : cases) {
    FakeSocketApi network;
    network.addresses = {FakeSocketApi::Ipv4("127.0.0.1", 25)};
    if (c.peer) network.peer = FakeSocketApi::Ipv4(c.peer, 25);
    network.incoming = {"220 hi\r\n", "250-hi\r\n250 AUTH PLAIN LOGIN\r\n", "235 ok\r\n"};
    MailSecurity security;
    security.extended = true;
    security.user = "user";
    security.secret = "s3cret-Pa55";
    const MailServer server{"mail.example.com", {"mail.example.com", 25}};
    std::string diagnostics;
    SmtpConversation smtp(server, 1, &diagnostics, false, network);
    SmtpSubmission submission(security, server, &smtp);
    ASSERT_TRUE(smtp.Connect());
    ASSERT_TRUE(submission.OpenTls() && smtp.AwaitGreeting());

    EXPECT_EQ(submission.Introduce("client.test"), c.authenticates) << c.peer;
    const std::string auth = "AUTH PLAIN " + SaslPlainResponse("user", "s3cret-Pa55") + "\r\n";
    if (c.authenticates) {
      EXPECT_EQ(network.sent, "EHLO client.test\r\n" + auth);
    } else {
      EXPECT_EQ(smtp.reason(), "refusing to send credentials unencrypted to mail.example.com "
                               "(use /StartTLS or /TLS)");
      EXPECT_EQ(network.sent, "EHLO client.test\r\n");
    }
  }
}

}  // namespace
}  // namespace postrunner
