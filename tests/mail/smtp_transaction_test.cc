// The SMTP conversation against a scripted server on loopback: replies in
// fragments and over several lines, refusals at every command, silence,
// servers that close early, several receivers.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mail/mail_message.h"
#include "mail/scripted_smtp.h"
#include "platform/fake_system.h"
#include "platform/socket_names.h"

namespace postrunner {
namespace {

using Peer = ScriptedSmtpServer::Peer;
using Script = ScriptedSmtpServer::Script;

// Replies of one conversation. "" means: stay silent until the client
// closes; "<close>" means: close the connection instead of replying.
struct Replies {
  std::string greeting = "220 test.local ready\r\n";
  std::string helo = "250 test.local\r\n";
  std::string mail = "250 sender ok\r\n";
  std::string rcpt = "250 receiver ok\r\n";
  std::string data = "354 end with .\r\n";
  std::string end = "250 queued\r\n";
  std::string quit = "221 bye\r\n";
};

// Sends `reply`; false when the script should stop here.
bool Answer(Peer& peer, const std::string& reply) {
  if (reply.empty()) {
    peer.WaitForClose();
    return false;
  }
  if (reply == "<close>") {
    peer.Close();
    return false;
  }
  peer.Send(reply);
  return true;
}

// Reads the client's next line and answers it; false when the client
// closed or the script stops.
bool Step(Peer& peer, const std::string& reply) {
  if (peer.ReadLine() == "<closed>") return false;
  return Answer(peer, reply);
}

Script Conversation(Replies r) {
  return [r](Peer& peer) {
    if (!Answer(peer, r.greeting)) return;
    if (!Step(peer, r.helo) || !Step(peer, r.mail) || !Step(peer, r.rcpt) ||
        !Step(peer, r.data)) {
      return;
    }
    if (r.data.rfind("3", 0) != 0) {
      // After a refused DATA the client must not send the text.
      peer.ReadLine();
      return;
    }
    if (peer.ReadData().rfind("<closed>", 0) == 0) return;
    if (!Answer(peer, r.end)) return;
    if (!Step(peer, r.quit)) return;
    peer.WaitForClose();
  };
}

// `text` with the values of its Date and Message-ID lines blanked out, so
// that texts composed apart compare equal.
std::string WithoutDate(std::string text) {
  for (const char* field : {"\r\nDate: ", "\r\nMessage-ID: "}) {
    size_t at = text.find(field);
    if (at == std::string::npos) continue;
    size_t value = at + std::char_traits<char>::length(field);
    text.erase(value, text.find("\r\n", value) - value);
  }
  return text;
}

// The name the client gives after HELO: this host's fully qualified name,
// or the address literal of its end of the loopback connection.
std::string HostName() {
  char name[4096] = {};
  ::gethostname(name, sizeof name - 1);
  std::string canonical = CanonicalHostName(name);
  return canonical.find('.') != std::string::npos ? canonical : "[127.0.0.1]";
}

class SmtpTest : public ::testing::Test {
 protected:
  // No MIME database: content types come from the fallbacks at once.
  void SetUp() override { ::setenv("POSTRUNNER_MIME_TYPES", "", 1); }
  void TearDown() override { ::unsetenv("POSTRUNNER_MIME_TYPES"); }

  // A plain message to `receivers` through `server`, with short waits.
  void Prepare(const ScriptedSmtpServer& server, std::vector<std::string> receivers = {"to@dst.test"}) {
    message_.SetWaits(SmtpWaits{1, 0});
    message_.SetTimeout(1);
    message_.SetSender("from@src.test");
    message_.SetMailServer(server.server());
    message_.SetSubject("hello");
    message_.AddBodyText("body line");
    for (auto& r : receivers) message_.AddReceiver(r);
  }

  // The whole exchange the client should have with a cooperative server.
  std::vector<std::string> FullTranscript(const std::string& receiver, const std::string& text) {
    return {"HELO " + HostName(), "MAIL From: <from@src.test>", "RCPT TO: <" + receiver + ">",
            "DATA", WithoutDate(text), "QUIT", "<closed>"};
  }

  // The transcript of `server` with the Date of the message text blanked.
  static std::vector<std::string> Transcript(ScriptedSmtpServer& server) {
    std::vector<std::string> t = server.Transcript();
    if (t.size() > 4) t[4] = WithoutDate(t[4]);
    return t;
  }

  CQXMailMessage message_;
};

TEST_F(SmtpTest, DeliversTheComposedMessage) {
  ScriptedSmtpServer server({Conversation({})});
  Prepare(server);
  std::string diagnostics;
  EXPECT_TRUE(message_.Transmit(diagnostics));
  EXPECT_EQ(diagnostics, "ServerGreeting: 220 test.local ready\r\n");
  std::vector<std::string> t = Transcript(server);
  ASSERT_EQ(t.size(), 7u);
  // The text is the composed message with its end-of-data line.
  EXPECT_EQ(t, FullTranscript("to@dst.test", message_.ComposeMessage(0, TRUE)));
  EXPECT_EQ(t[4].substr(t[4].size() - 16), "\r\nbody line\r\n.\r\n");
}

TEST_F(SmtpTest, FailingHostNameEndsTheSendBeforeAnyCommand) {
  ScriptedSmtpServer server(std::vector<Script>{});
  Prepare(server);
  FakeSystemApi system;
  system.host_name_errno = ENAMETOOLONG;
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_EQ(diagnostics.rfind("SEND: Unable to retreive the hostname for this computer\n", 0), 0u)
      << diagnostics;
}

TEST_F(SmtpTest, AssemblesMultiLineAndFragmentedReplies) {
  Script script = [](Peer& peer) {
    peer.SendInFragments({"220-first line\r\n22", "0-second\r\n", "220 last\r\n"});
    peer.ReadLine();
    peer.SendInFragments({"250-test.local\r\n250-SIZE 1000\r", "\n250 HELP\r\n"});
    peer.ReadLine();
    peer.SendInFragments({"2", "50 ok\r\n"});
    peer.ReadLine();
    peer.SendInFragments({"250 ok", "\r\n"});
    peer.ReadLine();
    peer.SendInFragments({"354-go", " on\r\n354 end with .\r\n"});
    peer.ReadData();
    peer.SendInFragments({"250-queued\r\n", "250 as 12\r\n"});
    peer.ReadLine();
    peer.Send("221 bye\r\n");
    peer.WaitForClose();
  };
  ScriptedSmtpServer server({script});
  Prepare(server);
  std::string diagnostics;
  EXPECT_TRUE(message_.Transmit(diagnostics));
  EXPECT_EQ(diagnostics, "ServerGreeting: 220-first line\r\n220-second\r\n220 last\r\n");
  EXPECT_EQ(Transcript(server), FullTranscript("to@dst.test", message_.ComposeMessage(0, TRUE)));
}

TEST_F(SmtpTest, RepliesAfterTheirCommandStayForTheNextOne) {
  // A server that answers HELO and MAIL in one block: the second reply
  // belongs to MAIL and must not be taken for the reply to RCPT.
  Script script = [](Peer& peer) {
    peer.Send("220 hi\r\n");
    peer.ReadLine();
    peer.Send("250 hello\r\n250 sender ok\r\n");
    peer.ReadLine();
    peer.ReadLine();
    peer.Send("550 no such user\r\n");
    peer.ReadLine();
  };
  ScriptedSmtpServer server({script});
  Prepare(server);
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_NE(diagnostics.find("RCPT TO: <to@dst.test>\r\n\nFrom :" + server.address() +
                             "\n550 no such user\r\n\n"),
            std::string::npos)
      << diagnostics;
}

TEST_F(SmtpTest, GreetingIsNotJudged) {
  Replies r;
  r.greeting = "554 go away\r\n";
  ScriptedSmtpServer server({Conversation(r)});
  Prepare(server);
  std::string diagnostics;
  EXPECT_TRUE(message_.Transmit(diagnostics));
  EXPECT_EQ(server.Transcript()[0], "HELO " + HostName());
}

TEST_F(SmtpTest, LateGreetingIsWaitedForBeforeHelo) {
  Replies r;
  Script late = Conversation(r);
  Script script = [late](Peer& peer) {
    peer.StayQuiet(1500);
    late(peer);
  };
  ScriptedSmtpServer server({script});
  Prepare(server);
  message_.SetTimeout(3);  // the greeting may take as long as any reply
  std::string diagnostics;
  EXPECT_TRUE(message_.Transmit(diagnostics)) << diagnostics;
  EXPECT_EQ(server.Transcript()[0], "HELO " + HostName());  // not "<early>"
}

TEST_F(SmtpTest, NoGreetingFailsBeforeAnyCommand) {
  for (const char* greeting : {"", "<close>"}) {
    Replies r;
    r.greeting = greeting;
    ScriptedSmtpServer server({Conversation(r)});
    Prepare(server);
    std::string diagnostics;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(message_.Transmit(diagnostics));
    std::string reason = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(diagnostics, "SEND: No greeting from the mailserver\nFrom :" + server.address() +
                               "\nUnable to send email to: to@dst.test");
    // No command went out: the peer saw the client close, or closed first.
    std::vector<std::string> t = server.Transcript();
    EXPECT_TRUE(t.empty() || t == std::vector<std::string>{"<closed>"}) << t[0];
    EXPECT_EQ(reason, "postrunner: the mail server " + server.address() + " sent no greeting: " +
                          (*greeting ? "the connection was closed" : "timed out") + "\n");
    message_.Reset(FALSE);
  }
}

// Which command a refusal hits, and what the diagnostics then say.
struct Refusal {
  const char* name;
  std::string Replies::*field;
  const char* reply;
  const char* command;  // the command line in the diagnostic ("": HELO)
  size_t lines_read;    // transcript entries before the client closed
};

class SmtpRefusalTest : public SmtpTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SmtpRefusalTest, FailsTheReceiverAndStops) {
  const Refusal& p = GetParam();
  Replies r;
  r.*p.field = p.reply;
  ScriptedSmtpServer server({Conversation(r)});
  Prepare(server);
  std::string diagnostics;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(message_.Transmit(diagnostics));
  std::string reason = ::testing::internal::GetCapturedStderr();
  std::string command = *p.command ? p.command : "HELO " + HostName() + "\r\n";
  // The reason names the server, the command and the server's reply, and
  // tells a temporary refusal from a lasting one.
  const std::string note =
      p.reply[0] == '4' ? "; temporary: the server asks to try again later" : "";
  EXPECT_EQ(reason, "postrunner: the mail server " + server.address() + " refused " +
                        command.substr(0, command.size() - 2) + ": " +
                        std::string(p.reply).substr(0, std::strlen(p.reply) - 2) + note + "\n");
  std::string expected = "SEND: Error in response to " + command + "\n" +
                         "From :" + server.address() + "\n" + p.reply + "\n" +
                         "Unable to send email to: to@dst.test";
  EXPECT_EQ(diagnostics, "ServerGreeting: 220 test.local ready\r\n" + expected);
  std::vector<std::string> t = server.Transcript();
  ASSERT_EQ(t.size(), p.lines_read + 1);
  EXPECT_EQ(t.back(), "<closed>");  // no further command, no QUIT
}

INSTANTIATE_TEST_SUITE_P(
    EachCommand, SmtpRefusalTest,
    ::testing::Values(
        Refusal{"HeloPermanent", &Replies::helo, "501 bad\r\n", "", 1},
        Refusal{"MailTemporary", &Replies::mail, "451 later\r\n", "MAIL From: <from@src.test>\r\n", 2},
        Refusal{"RcptPermanent", &Replies::rcpt, "550 unknown\r\n", "RCPT TO: <to@dst.test>\r\n", 3},
        Refusal{"TooShort", &Replies::rcpt, "25\r\n", "RCPT TO: <to@dst.test>\r\n", 3},
        Refusal{"Below200", &Replies::mail, "199 odd\r\n", "MAIL From: <from@src.test>\r\n", 2}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(SmtpTest, RefusedHeloNamesTheHeloCommand) {
  Replies r;
  r.helo = "501 bad\r\n";
  ScriptedSmtpServer server({Conversation(r)});
  Prepare(server);
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_NE(diagnostics.find("SEND: Error in response to HELO " + HostName() + "\r\n\nFrom :" +
                             server.address() + "\n501 bad\r\n\n"),
            std::string::npos);
}

TEST_F(SmtpTest, HeloAndQuitAreNotJudgedWhenCheckingIsOff) {
  Replies r;
  r.helo = "502 what\r\n";
  r.quit = "500 eh\r\n";
  ScriptedSmtpServer server({Conversation(r)});
  Prepare(server);
  message_.SetCheckReplies(FALSE);
  std::string diagnostics;
  EXPECT_TRUE(message_.Transmit(diagnostics));
  EXPECT_EQ(server.Transcript().size(), 7u);
}

TEST_F(SmtpTest, MailIsJudgedEvenWhenCheckingIsOff) {
  Replies r;
  r.mail = "550 no\r\n";
  ScriptedSmtpServer server({Conversation(r)});
  Prepare(server);
  message_.SetCheckReplies(FALSE);
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
}

TEST_F(SmtpTest, MessageTakenByTheServerStaysSentWhateverQuitGets) {
  for (const char* quit : {"421 closing\r\n", "<close>", ""}) {
    Replies r;
    r.quit = quit;
    ScriptedSmtpServer server({Conversation(r)});
    Prepare(server);
    std::string diagnostics;
    EXPECT_TRUE(message_.Transmit(diagnostics)) << quit;
    // The refusal is recorded, not counted against the delivery.
    EXPECT_NE(diagnostics.find("SEND: Error in response to QUIT\r\n\nFrom :" + server.address() +
                               "\n" + (*quit == '4' ? quit : "") + "\n"),
              std::string::npos)
        << diagnostics;
    message_.Reset(FALSE);
  }
}

TEST_F(SmtpTest, DataMustBeInvitedBeforeTheTextIsSent) {
  for (const char* reply : {"250 ok\r\n", "451 later\r\n", "554 no\r\n"}) {
    Replies r;
    r.data = reply;
    ScriptedSmtpServer server({Conversation(r)});
    Prepare(server);
    std::string diagnostics;
    EXPECT_FALSE(message_.Transmit(diagnostics));
    EXPECT_NE(diagnostics.find("SEND: Error in response to DATA\nFrom :" + server.address() +
                               "\n" + reply + "\n"),
              std::string::npos)
        << diagnostics;
    std::vector<std::string> t = server.Transcript();
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[3], "DATA");
    EXPECT_EQ(t[4], "<closed>");  // the text never went out
    message_.Reset(FALSE);
  }
}

TEST_F(SmtpTest, RejectedMessageIsNotReportedAsSent) {
  for (const char* reply : {"554 content rejected\r\n", "452 no room\r\n", "354 again\r\n"}) {
    Replies r;
    r.end = reply;
    ScriptedSmtpServer server({Conversation(r)});
    Prepare(server);
    std::string diagnostics;
    EXPECT_FALSE(message_.Transmit(diagnostics));
    EXPECT_NE(diagnostics.find("SEND: Error in response to DATA\nFrom :" + server.address() +
                               "\n" + reply + "\n"),
              std::string::npos);
    std::vector<std::string> t = server.Transcript();
    EXPECT_EQ(t.back(), "<closed>");  // no QUIT after a failure
    EXPECT_EQ(t.size(), 6u);
    message_.Reset(FALSE);
  }
}

TEST_F(SmtpTest, SilenceAfterACommandIsAMissingReply) {
  Replies r;
  r.mail = "";
  ScriptedSmtpServer server({Conversation(r)});
  Prepare(server);
  auto start = std::chrono::steady_clock::now();
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(diagnostics, "ServerGreeting: 220 test.local ready\r\n"
                         "SEND: Error in response to MAIL From: <from@src.test>\r\n\n"
                         "From :" + server.address() + "\nUnable to send email to: to@dst.test");
  EXPECT_EQ(server.Transcript().back(), "<closed>");
}

TEST_F(SmtpTest, ReplyThatNeverEndsIsAMissingReply) {
  Script script = [](Peer& peer) {
    peer.Send("220 hi\r\n");
    peer.ReadLine();
    peer.Send("250-still going\r\n250-and going\r\n");
    peer.WaitForClose();
  };
  ScriptedSmtpServer server({script});
  Prepare(server);
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_NE(diagnostics.find("SEND: Error in response to HELO"), std::string::npos);
  EXPECT_EQ(server.Transcript().back(), "<closed>");
}

TEST_F(SmtpTest, SilenceAfterTheTextFailsTheDataStep) {
  Replies r;
  r.end = "";
  ScriptedSmtpServer server({Conversation(r)});
  Prepare(server);
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_NE(diagnostics.find("SEND: Error in response to DATA\nFrom :" + server.address() + "\n\n"),
            std::string::npos);
}

TEST_F(SmtpTest, ServerClosingMidDataFailsTheReceiver) {
  Script script = [](Peer& peer) {
    peer.Send("220 hi\r\n");
    for (const char* reply : {"250 a\r\n", "250 b\r\n", "250 c\r\n", "354 go\r\n"}) {
      peer.ReadLine();
      peer.Send(reply);
    }
    peer.ReadBytes(1000);
    peer.Close();
  };
  ScriptedSmtpServer server({script});
  Prepare(server);
  std::string part_id;
  ASSERT_EQ(message_.AddAttachment(std::string(1'500'000, 'x'), "big.txt", part_id, FALSE,
                                   "text/plain", TRUE),
            1);
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_NE(diagnostics.find("SEND: Error in response to DATA\n"), std::string::npos);
}

TEST_F(SmtpTest, ZeroByteInAReplyIsData) {
  Replies r;
  r.mail = std::string("250 sender\0 ok\r\n", 16);
  ScriptedSmtpServer server({Conversation(r)});
  Prepare(server);
  std::string diagnostics;
  // A reply cut at its zero byte would lose its line end and never end.
  EXPECT_TRUE(message_.Transmit(diagnostics)) << diagnostics;
}

TEST_F(SmtpTest, LinesBeginningWithADotAreDoubled) {
  ScriptedSmtpServer server({Conversation({})});
  Prepare(server);
  message_.AddBodyText("\r\n.\r\n..two\r\n.x");
  std::string diagnostics;
  ASSERT_TRUE(message_.Transmit(diagnostics));
  std::vector<std::string> t = server.Transcript();
  ASSERT_EQ(t.size(), 7u);
  EXPECT_NE(t[4].find("\r\nbody line\r\n..\r\n...two\r\n..x\r\n.\r\n"), std::string::npos) << t[4];
}

TEST_F(SmtpTest, SecondReceiverIsServedAfterTheFirstIsRefused) {
  Replies refused;
  refused.rcpt = "550 unknown\r\n";
  ScriptedSmtpServer server({Conversation(refused), Conversation({})});
  Prepare(server, {"first@dst.test", "second@dst.test"});
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_EQ(diagnostics,
            "ServerGreeting: 220 test.local ready\r\n"
            "SEND: Error in response to RCPT TO: <first@dst.test>\r\n\nFrom :" +
                server.address() + "\n550 unknown\r\n\n" +
                "Unable to send email to: first@dst.test"
                "ServerGreeting: 220 test.local ready\r\n");
  std::vector<std::string> t = server.Transcript();
  ASSERT_EQ(t.size(), 4u + 7u);
  EXPECT_EQ(t[6], "RCPT TO: <second@dst.test>");
  EXPECT_NE(t[8].find("\r\nTo: second@dst.test\r\n"), std::string::npos);
}

TEST_F(SmtpTest, EveryFailedReceiverIsListed) {
  Replies refused;
  refused.rcpt = "550 unknown\r\n";
  ScriptedSmtpServer server({Conversation(refused), Conversation(refused)});
  Prepare(server, {"a@dst.test", "b@dst.test"});
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_NE(diagnostics.find("Unable to send email to: a@dst.test"), std::string::npos);
  EXPECT_EQ(diagnostics.substr(diagnostics.size() - 12), ", b@dst.test");
}

TEST_F(SmtpTest, UnreachableServer) {
  int port;
  {
    ScriptedSmtpServer server({});
    port = std::stoi(server.address().substr(10));
  }
  message_.SetWaits(SmtpWaits{1, 0});
  message_.SetSender("from@src.test");
  message_.AddReceiver("to@dst.test");
  message_.SetMailServer(
      {"127.0.0.1:" + std::to_string(port), {"127.0.0.1", static_cast<uint16_t>(port)}});
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_EQ(diagnostics,
            "SEND: Error connecting to the mailserver\nUnable to send email to: to@dst.test");
}

TEST_F(SmtpTest, MissingPartsAreReportedBeforeAnyConnection) {
  std::string diagnostics;
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_EQ(diagnostics, "TRANSMIT: NO SENDER");
  message_.SetSender("from@src.test");
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_EQ(diagnostics, "TRANSMIT: NO RECEIVERS");
  message_.AddReceiver("to@dst.test");
  EXPECT_FALSE(message_.Transmit(diagnostics));
  EXPECT_EQ(diagnostics, "TRANSMIT: NO SERVER");
}

TEST_F(SmtpTest, EchoedErrorsArePrinted) {
  message_.Reset(TRUE);
  Replies r;
  r.rcpt = "550 unknown\r\n";
  ScriptedSmtpServer server({Conversation(r)});
  Prepare(server);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(message_.SendMail());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "SEND: Error in response to RCPT TO: <to@dst.test>\n");
}

TEST_F(SmtpTest, TimeoutIsRaisedToTheFloorOnceTheServerIsReached) {
  ScriptedSmtpServer server({Conversation({})});
  Prepare(server);
  message_.SetWaits(SmtpWaits{30, 0});
  message_.SetTimeout(10);
  EXPECT_TRUE(message_.SendMail());
  EXPECT_EQ(message_.timeout(), 30);
}

TEST(IsReplyOK, JudgesTheFirstThreeCharacters) {
  EXPECT_FALSE(CQXMailMessage::IsReplyOK(""));
  EXPECT_FALSE(CQXMailMessage::IsReplyOK("2"));
  EXPECT_FALSE(CQXMailMessage::IsReplyOK("25"));
  EXPECT_FALSE(CQXMailMessage::IsReplyOK("25\r\n250 ok\r\n"));  // the first line decides
  EXPECT_FALSE(CQXMailMessage::IsReplyOK("199 x"));
  EXPECT_FALSE(CQXMailMessage::IsReplyOK("400 x"));
  EXPECT_TRUE(CQXMailMessage::IsReplyOK("200 x"));
  EXPECT_TRUE(CQXMailMessage::IsReplyOK("399"));
  EXPECT_TRUE(CQXMailMessage::IsReplyOK("2ab"));  // non-digits count as 0
  EXPECT_FALSE(CQXMailMessage::IsReplyOK(std::string("2\0" "50", 4)));
}

}  // namespace
}  // namespace postrunner
