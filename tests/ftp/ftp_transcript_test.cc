#include "net/curl_handle.h"
#include "ftp/ftp_transcript.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "net/curl_options.h"
#include "ftp/ftp_client.h"

namespace postrunner {
namespace {

TEST(FtpTranscriptTest, LoginCompletesWithA2xxReplyToUserOrPass) {
  FtpTranscript t;
  t.RepliesReceived("220 ready\r\n");
  EXPECT_FALSE(t.logged_in());  // the greeting is 2xx but answers no login
  t.CommandsSent("USER bob\r\n");
  t.RepliesReceived("331 password please\r\n");
  EXPECT_FALSE(t.logged_in());
  t.CommandsSent("PASS secret\r\n");
  t.RepliesReceived("230 welcome\r\n");
  EXPECT_TRUE(t.logged_in());
  EXPECT_EQ(t.last_reply(), "230 welcome");
}

TEST(FtpTranscriptTest, UserAcceptedWithoutPasswordIsLoggedIn) {
  FtpTranscript t;
  t.CommandsSent("user anonymous\r\n");
  t.RepliesReceived("230 no password needed\r\n");
  EXPECT_TRUE(t.logged_in());
}

TEST(FtpTranscriptTest, RefusedLoginIsNotLoggedIn) {
  FtpTranscript t;
  t.CommandsSent("USER bob\r\n");
  t.RepliesReceived("331 password please\r\n");
  t.CommandsSent("PASS wrong\r\n");
  t.RepliesReceived("530 Authentication failed.\r\n");
  EXPECT_FALSE(t.logged_in());
  EXPECT_EQ(t.last_reply(), "530 Authentication failed.");
}

TEST(FtpTranscriptTest, OnlyTheFinalLineOfAMultiLineReplyCounts) {
  FtpTranscript t;
  t.CommandsSent("PASS x\r\n");
  t.RepliesReceived("230-Welcome\r\n");
  EXPECT_FALSE(t.logged_in());
  t.RepliesReceived("230-more text\r\n230 Logged in\r\n");
  EXPECT_TRUE(t.logged_in());
  EXPECT_EQ(t.last_reply(), "230 Logged in");
}

TEST(FtpTranscriptTest, ASuccessfulReplyToAnotherCommandIsNoLogin) {
  FtpTranscript t;
  t.CommandsSent("AUTH TLS\r\n");
  t.RepliesReceived("234 go ahead\r\n");
  t.CommandsSent("PASS x\r\nSYST\r\n");  // the last command in a chunk counts
  t.RepliesReceived("215 UNIX\r\n");
  EXPECT_FALSE(t.logged_in());
}

TEST(FtpTranscriptTest, LastReplyIgnoresBlankLinesAndLineEnds) {
  FtpTranscript t;
  EXPECT_EQ(t.last_reply(), "");
  t.RepliesReceived("550 No such file\n\r\n");
  EXPECT_EQ(t.last_reply(), "550 No such file");
  t.RepliesReceived("226 done");
  EXPECT_EQ(t.last_reply(), "226 done");
}

TEST(FailureStatusTextTest, BeforeLoginTheLibraryDescribesTheFailure) {
  EXPECT_EQ(FailureStatusText(CURLE_LOGIN_DENIED, false, "Access denied: 530", "530 no"),
            "Access denied: 530");
  // An empty error buffer falls back to libcurl's text for the code.
  ASSERT_TRUE(CurlLibraryReady());
  EXPECT_EQ(FailureStatusText(CURLE_COULDNT_CONNECT, false, "", ""),
            Curl().easy_strerror(CURLE_COULDNT_CONNECT));
}

TEST(FailureStatusTextTest, AfterLoginTheStoreReportsTheResultCode) {
  EXPECT_EQ(FailureStatusText(CURLE_UPLOAD_FAILED, true, "Failed FTP upload: 550", "550 no"),
            "Error 25 in PutFile");
  EXPECT_EQ(FailureStatusText(CURLE_OPERATION_TIMEDOUT, true, "", ""), "Error 28 in PutFile");
}

TEST(FailureStatusTextTest, WithoutAResultCodeTheServerReplyOrAFixedText) {
  EXPECT_EQ(FailureStatusText(CURLE_OK, true, "", "451 local error"), "451 local error");
  EXPECT_EQ(FailureStatusText(CURLE_OK, true, "", ""), "Error in PutFile");
}

TEST(FailureReasonTest, TheServerReplyFollowsTheLibraryText) {
  EXPECT_EQ(FailureReason(CURLE_LOGIN_DENIED, false, "Access denied: 530", "530 Use TLS."),
            "Access denied: 530; server replied: 530 Use TLS.");
  EXPECT_EQ(FailureReason(CURLE_SSH, false, "Upload failed: Permission denied", ""),
            "Upload failed: Permission denied");
  // After the login the buffer may hold an earlier, harmless note.
  EXPECT_EQ(FailureReason(CURLE_UPLOAD_FAILED, true, "sa_addr inet_ntop() failed", "553 No."),
            std::string(Curl().easy_strerror(CURLE_UPLOAD_FAILED)) + "; server replied: 553 No.");
  // A temporary refusal says so, for a caller that would retry.
  EXPECT_EQ(FailureReason(CURLE_UPLOAD_FAILED, true, "", "452 Disk full."),
            std::string(Curl().easy_strerror(CURLE_UPLOAD_FAILED)) +
                "; server replied: 452 Disk full.; temporary: the server asks to try again later");
}

TEST(FtpTranscriptTest, TheReplyToQuitIsNotTheReason) {
  FtpTranscript t;
  t.CommandsSent("STOR x\r\n");
  t.RepliesReceived("553 Could not create file.\r\n");
  t.CommandsSent("QUIT\r\n");
  t.RepliesReceived("221 Goodbye.\r\n");
  EXPECT_EQ(t.last_reply(), "553 Could not create file.");
}

TEST(CurlOptionsTest, TheFirstRefusedOptionStopsTheRestAndIsNamed) {
  ASSERT_TRUE(CurlLibraryReady());
  CurlEasy easy;
  CurlOptions options(easy.get());
  options.Set(CURLOPT_NOPROGRESS, 1L)
      .Set(CURLOPT_PROTOCOLS_STR, "no-such-protocol")
      .Set(static_cast<CURLoption>(99999), 1L);  // a later refusal keeps the first
  EXPECT_FALSE(options.ok());
  EXPECT_EQ(options.FailureText(),
            std::string("libcurl refused option PROTOCOLS_STR: ") +
                Curl().easy_strerror(CURLE_UNSUPPORTED_PROTOCOL));
}

TEST(FtpTimeoutsTest, EnvironmentSetsAllTimeOutsOrNone) {
  const FtpTimeouts defaults;
  auto with = [](const char* value) {
    if (value) {
      setenv("POSTRUNNER_FTP_TIMEOUT", value, 1);
    } else {
      unsetenv("POSTRUNNER_FTP_TIMEOUT");
    }
    FtpTimeouts t = FtpTimeoutsFromEnvironment();
    unsetenv("POSTRUNNER_FTP_TIMEOUT");
    return t;
  };
  FtpTimeouts t = with("2");
  EXPECT_EQ(t.connect, 2);
  EXPECT_EQ(t.response, 2);
  EXPECT_EQ(t.accept, 2);
  EXPECT_EQ(t.stall, 2);
  for (const char* ignored : {static_cast<const char*>(nullptr), "", "0", "-1", "3601",
                              "abc", "5s", "99999999999999999999"}) {
    t = with(ignored);
    EXPECT_EQ(t.connect, defaults.connect) << (ignored ? ignored : "(unset)");
    EXPECT_EQ(t.stall, defaults.stall) << (ignored ? ignored : "(unset)");
  }
  EXPECT_GT(defaults.connect, 0);
  EXPECT_GT(defaults.response, 0);
  EXPECT_GT(defaults.accept, 0);
  EXPECT_GT(defaults.stall, 0);
}

TEST(CFtpClientTest, UnusableServerOrCredentialsGiveNoConnection) {
  CFtpClient ftp;
  EXPECT_EQ(ftp.Upload("host:99999", "x", "/dev/null", "u", "p"), FALSE);
  EXPECT_EQ(ftp.GetStatusText(), kNoConnectionText);
  EXPECT_EQ(ftp.Upload("127.0.0.1:1", "x", "/dev/null", "u", "p\r\nDELE y"), FALSE);
  EXPECT_EQ(ftp.GetStatusText(), kNoConnectionText);
  ftp.SetPassiveMode(TRUE);
  EXPECT_EQ(ftp.GetStatusText(), "");
}

TEST(CFtpClientTest, LocalFileIsCheckedBeforeConnecting) {
  CFtpClient ftp;
  // Port 1 on loopback is closed: had the client connected first, the status
  // would describe the refused connection instead.
  EXPECT_EQ(ftp.Upload("127.0.0.1:1", "x", "/nonexistent/file", "u", "p"), FALSE);
  EXPECT_EQ(ftp.GetStatusText(),
            "Cannot open local file /nonexistent/file: No such file or directory");
  EXPECT_EQ(ftp.Upload("127.0.0.1:1", "x", "/dev/null", "u", "p"), FALSE);
  EXPECT_EQ(ftp.GetStatusText(), "Local file /dev/null is not a regular file");
}

}  // namespace
}  // namespace postrunner
