// The IMAP URL a join is given and the replies it reads: mailbox names in
// modified UTF-7 (the examples of RFC 3501 5.1.3 and the corners of its
// base64), URLs that must be refused because libcurl would read more into
// them, and SEARCH replies from servers that add more than UIDs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "join/imap_reply.h"
#include "join/imap_url.h"

namespace postrunner {
namespace {

std::string Utf7(const std::string& text) {
  std::string out;
  EXPECT_TRUE(ModifiedUtf7(text, &out)) << text;
  return out;
}

TEST(ImapText, ModifiedUtf7) {
  EXPECT_EQ(Utf7("INBOX"), "INBOX");
  EXPECT_EQ(Utf7("Tom & Jerry"), "Tom &- Jerry");
  EXPECT_EQ(Utf7("~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"),
            "~peter/mail/&U,BTFw-/&ZeVnLIqe-");
  EXPECT_EQ(Utf7("Entw\xc3\xbcrfe"), "Entw&APw-rfe");
  EXPECT_EQ(Utf7("\xf0\x9f\x93\xa6"), "&2D3c5g-");  // a surrogate pair
  std::string out;
  EXPECT_FALSE(ModifiedUtf7("bad\xc3", &out));         // cut sequence
  EXPECT_FALSE(ModifiedUtf7("\xc0\xaf", &out));        // overlong
  EXPECT_FALSE(ModifiedUtf7("\xed\xa0\x80", &out));    // a lone surrogate
  EXPECT_FALSE(ModifiedUtf7("tab\there", &out));
}

TEST(ImapText, Urls) {
  ImapUrl url;
  std::string reason;
  ASSERT_TRUE(ParseImapUrl("imaps://me%40example.org@mail.example.org", &url, &reason));
  EXPECT_EQ(url.user, "me@example.org");
  EXPECT_EQ(MailboxUrl(url), "imaps://mail.example.org:993/INBOX");
  ASSERT_TRUE(ParseImapUrl("IMAP://[::1]:1143/Old Mail & \xc3\xa4", &url, &reason));
  EXPECT_FALSE(url.implicit_tls);
  EXPECT_TRUE(url.loopback_host);
  EXPECT_EQ(MailboxUrl(url), "imap://[::1]:1143/Old%20Mail%20%26-%20%26AOQ-");
  ASSERT_TRUE(ParseImapUrl("imap://host/a%3Bb", &url, &reason));  // ';' escaped is a letter
  EXPECT_EQ(MailboxUrl(url), "imap://host:143/a%3Bb");
  EXPECT_FALSE(url.loopback_host);
  for (const char* bad :
       {"imaps://host/INBOX/sub", "imaps://host/INBOX;UID=4", "imaps://host/INBOX?ALL",
        "imaps://host/INBOX#x", "imaps://u:pw@host/INBOX", "imaps://u;AUTH=*@host/",
        "imaps://host:0/", "imaps://ho st/", "imaps://host/a%2Fb", "imaps://host/a%zz",
        "imaps://host/a%0Ab", "imaps:///INBOX", "pop3://host/"}) {
    EXPECT_FALSE(ParseImapUrl(bad, &url, &reason)) << bad;
    EXPECT_EQ(reason.find("pw"), std::string::npos);
  }
}

TEST(ImapText, Replies) {
  std::vector<uint32_t> uids;
  EXPECT_TRUE(ParseSearchUids("* OK noise\r\n* SEARCH 4 9 4294967295\r\n* search 12 (MODSEQ 7)\r\n"
                              "* SEARCH\r\n",
                              &uids));
  EXPECT_EQ(uids, (std::vector<uint32_t>{4, 9, 4294967295u, 12}));
  uids.clear();
  EXPECT_FALSE(ParseSearchUids("* SEARCH 1 4294967296\r\n", &uids));
  EXPECT_FALSE(ParseSearchUids("* SEARCH 0\r\n", &uids));
  EXPECT_TRUE(HasCapability("* CAPABILITY IMAP4rev1 uidplus\r\n", "UIDPLUS"));
  EXPECT_FALSE(HasCapability("* OK [CAPABILITY IMAP4rev1 UIDPLUS]\r\n", "UIDPLUS"));
  std::string text;
  EXPECT_TRUE(TaggedRefusal("A003 NO [AUTHENTICATIONFAILED] Authentication\x1b failed.\r", &text));
  EXPECT_EQ(text, "[AUTHENTICATIONFAILED] Authentication? failed.");
  EXPECT_FALSE(TaggedRefusal("* NO [ALERT] quota", &text));
  EXPECT_FALSE(TaggedRefusal("A004 OK done", &text));
}

}  // namespace
}  // namespace postrunner
