// The pieces of secure submission that need no server: the EHLO extension
// parser and the SASL responses, checked against the published examples of
// RFC 4616 and of the XOAUTH2 mechanism.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mail/sasl.h"
#include "mail/smtp_extensions.h"

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
}

}  // namespace
}  // namespace postrunner
