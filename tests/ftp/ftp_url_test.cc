#include "ftp/ftp_url.h"

#include <gtest/gtest.h>

#include <string>

namespace postrunner {
namespace {

struct ServerCase {
  const char* text;
  FtpScheme scheme;
  const char* url_host;
  uint16_t port;
};

// Host and port forms are the network layer's; these cases check what FTP
// adds: schemes with their default ports, IPv6 in brackets, zones encoded.
TEST(ParseFtpServerTest, SchemesChooseTheProtocolAndTheDefaultPort) {
  const ServerCase cases[] = {
      {"ftp.example.com", FtpScheme::kFtp, "ftp.example.com", 4021},
      {"ftp://ftp.example.com", FtpScheme::kFtp, "ftp.example.com", 4021},
      {"FTPS://h:2990/", FtpScheme::kFtps, "h", 2990},
      {"ftps://h", FtpScheme::kFtps, "h", 990},
      {"sftp://h", FtpScheme::kSftp, "h", 22},
      {"sftp://[::1]:2222", FtpScheme::kSftp, "[::1]", 2222},
      {"[fe80::1%eth0]:2121", FtpScheme::kFtp, "[fe80::1%25eth0]", 2121},
      {"fe80::a:b", FtpScheme::kFtp, "[fe80::a:b]", 4021},
      {"b\xC3\xBC" "cher.example", FtpScheme::kFtp, "b\xC3\xBC" "cher.example", 4021},
  };
  for (const ServerCase& c : cases) {
    FtpServerAddress address;
    ASSERT_TRUE(ParseFtpServer(c.text, 4021, &address)) << c.text;
    EXPECT_EQ(address.scheme, c.scheme) << c.text;
    EXPECT_EQ(SchemeOf(c.text), c.scheme) << c.text;
    EXPECT_EQ(address.url_host, c.url_host) << c.text;
    EXPECT_EQ(address.port, c.port) << c.text;
  }
}

TEST(ParseFtpServerTest, RejectsTextThatWouldBendTheUrl) {
  const char* bad[] = {
      "host ",      "ho st",       "user@host",  "user:pw@host", "host/path", "host?x",
      "host#x",     "host\\x",     "host\r\n",  "[g::1]",       "[fe80::1%]", "[fe80::1%a/b]",
      "[::1]@evil", "::1:x",       "ftp://",     "sftp://h//",   "http://h",  "ftps://u@h",
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
  FtpServerAddress v4{FtpScheme::kFtp, "127.0.0.1", 2121};
  EXPECT_EQ(BuildFtpUrl(v4, "a b.txt"), "ftp://127.0.0.1:2121/a%20b.txt");
  EXPECT_EQ(BuildFtpUrl(v4, "in/out.zip"), "ftp://127.0.0.1:2121/in/out.zip");
  // An absolute name keeps its leading '/', giving "//" after the host.
  EXPECT_EQ(BuildFtpUrl(v4, "/abs/x"), "ftp://127.0.0.1:2121//abs/x");
  FtpServerAddress v6{FtpScheme::kFtps, "[::1]", 990};
  EXPECT_EQ(BuildFtpUrl(v6, "f"), "ftps://[::1]:990/f");
  // SFTP URLs are absolute: a relative name goes under the home folder.
  FtpServerAddress ssh{FtpScheme::kSftp, "h", 22};
  EXPECT_EQ(BuildFtpUrl(ssh, "in/a b"), "sftp://h:22/~/in/a%20b");
  EXPECT_EQ(BuildFtpUrl(ssh, "/srv/x"), "sftp://h:22/srv/x");
}

}  // namespace
}  // namespace postrunner
