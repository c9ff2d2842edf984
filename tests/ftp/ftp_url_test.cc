#include "ftp/ftp_url.h"

#include <gtest/gtest.h>

#include <string>

namespace postrunner {
namespace {

struct ServerCase {
  const char* text;
  const char* url_host;
  uint16_t port;
};

TEST(ParseFtpServerTest, AcceptsHostsPortsAndIpv6Forms) {
  const ServerCase cases[] = {
      {"ftp.example.com", "ftp.example.com", 21},
      {"ftp.example.com:2121", "ftp.example.com", 2121},
      {"127.0.0.1:65535", "127.0.0.1", 65535},
      {"my_host-1:1", "my_host-1", 1},
      {"[::1]", "[::1]", 21},
      {"[::1]:990", "[::1]", 990},
      {"[2001:db8::7]:21000", "[2001:db8::7]", 21000},
      {"[::ffff:192.0.2.1]", "[::ffff:192.0.2.1]", 21},
      {"[fe80::1%eth0]:2121", "[fe80::1%25eth0]", 2121},
      {"::1", "[::1]", 21},  // bare IPv6: every ':' belongs to the address
      {"fe80::a:b", "[fe80::a:b]", 21},
      {"b\xC3\xBC" "cher.example", "b\xC3\xBC" "cher.example", 21},
  };
  for (const ServerCase& c : cases) {
    FtpServerAddress address;
    ASSERT_TRUE(ParseFtpServer(c.text, 21, &address)) << c.text;
    EXPECT_EQ(address.url_host, c.url_host) << c.text;
    EXPECT_EQ(address.port, c.port) << c.text;
  }
}

TEST(ParseFtpServerTest, DefaultPortAppliesOnlyWithoutAPort) {
  FtpServerAddress address;
  ASSERT_TRUE(ParseFtpServer("host", 4021, &address));
  EXPECT_EQ(address.port, 4021);
  ASSERT_TRUE(ParseFtpServer("[::1]", 4021, &address));
  EXPECT_EQ(address.port, 4021);
  ASSERT_TRUE(ParseFtpServer("host:22", 4021, &address));
  EXPECT_EQ(address.port, 22);
}

TEST(ParseFtpServerTest, RejectsTextThatWouldBendTheUrl) {
  const char* bad[] = {
      "",           ":21",          "host:",       "host:0",        "host:65536",
      "host:123456", "host:+21",    "host:2 1",    "host: 21",      " host",
      "host ",       "user@host",   "user:pw@host", "host/path",    "host?x",
      "host#x",      "host\\x",     "host\r\n",    "[::1",          "[::1]x",
      "[::1]:",      "[::1]:0",     "[]",          "[127.0.0.1]",   "[g::1]",
      "[fe80::1%]",  "[fe80::1%a/b]", "[::1]@evil", "::1:x",
  };
  for (const char* text : bad) {
    FtpServerAddress address;
    EXPECT_FALSE(ParseFtpServer(text, 21, &address)) << "'" << text << "'";
  }
}

TEST(DefaultRemoteNameTest, TakesTheTextAfterTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(DefaultRemoteName("report.txt"), "report.txt");
  EXPECT_EQ(DefaultRemoteName("C:\\data\\out\\report.txt"), "report.txt");
  EXPECT_EQ(DefaultRemoteName("\\\\server\\share\\report.txt"), "report.txt");
  EXPECT_EQ(DefaultRemoteName("/var/data/report.txt"), "report.txt");
  EXPECT_EQ(DefaultRemoteName("mixed/dir\\report.txt"), "report.txt");
  EXPECT_EQ(DefaultRemoteName("mixed\\dir/report.txt"), "report.txt");
  EXPECT_EQ(DefaultRemoteName("My Report.TXT"), "My Report.TXT");
  EXPECT_EQ(DefaultRemoteName("folder/"), "");
  EXPECT_EQ(DefaultRemoteName(""), "");
}

TEST(PercentEncodePathTest, KeepsUnreservedAndSlashEncodesEverythingElse) {
  EXPECT_EQ(PercentEncodePath("AZaz09-._~/"), "AZaz09-._~/");
  EXPECT_EQ(PercentEncodePath("my file #1?.txt"), "my%20file%20%231%3F.txt");
  EXPECT_EQ(PercentEncodePath("100%"), "100%25");
  EXPECT_EQ(PercentEncodePath("a\\b"), "a%5Cb");
  EXPECT_EQ(PercentEncodePath("x\r\nDELE y"), "x%0D%0ADELE%20y");
  EXPECT_EQ(PercentEncodePath("@:;=&+,$"), "%40%3A%3B%3D%26%2B%2C%24");
  EXPECT_EQ(PercentEncodePath("\xC3\xBC\xFF"), "%C3%BC%FF");
  EXPECT_EQ(PercentEncodePath(std::string("a\0b", 3)), "a%00b");
  EXPECT_EQ(PercentEncodePath(""), "");
}

TEST(BuildFtpUrlTest, PutsHostPortAndEncodedNameTogether) {
  FtpServerAddress v4{"127.0.0.1", 2121};
  EXPECT_EQ(BuildFtpUrl(v4, "a b.txt"), "ftp://127.0.0.1:2121/a%20b.txt");
  EXPECT_EQ(BuildFtpUrl(v4, "in/out.zip"), "ftp://127.0.0.1:2121/in/out.zip");
  // An absolute name keeps its leading '/', giving "//" after the host.
  EXPECT_EQ(BuildFtpUrl(v4, "/abs/x"), "ftp://127.0.0.1:2121//abs/x");
  FtpServerAddress v6{"[::1]", 21};
  EXPECT_EQ(BuildFtpUrl(v6, "f"), "ftp://[::1]:21/f");
}

}  // namespace
}  // namespace postrunner
