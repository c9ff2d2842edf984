// Error numbers and texts, and the server forms the socket accepts.
#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "net/block_sock.h"
#include "platform/host_port.h"
#include "net/socket_errors.h"

namespace postrunner {
namespace {

TEST(SocketErrors, MappedErrnoReadsAsItsName) {
  const struct {
    int error_number;
    int code;
    const char* text;
  } cases[] = {
      {ECONNREFUSED, 10061, "WSAECONNREFUSED"},
      {ETIMEDOUT, 10060, "WSAETIMEDOUT"},
      {ECONNRESET, 10054, "WSAECONNRESET"},
      {EPIPE, 10054, "WSAECONNRESET"},
      {EHOSTUNREACH, 10065, "WSAEHOSTUNREACH"},
      {ENETUNREACH, 10051, "WSAENETUNREACH"},
      {EADDRINUSE, 10048, "WSAEADDRINUSE"},
      {ECONNABORTED, 10053, "WSAECONNABORTED"},
      {ENOTCONN, 10057, "WSAENOTCONN"},
      {EINTR, 10004, "WSAEINTR"},
      {EACCES, 10013, "WSAEACCES"},
      {EINVAL, 10022, "WSAEINVAL"},
      {EMFILE, 10024, "WSAEMFILE"},
      {EAGAIN, 10035, "WSAEWOULDBLOCK"},
      {EINPROGRESS, 10036, "WSAEINPROGRESS"},
      {ENOTSOCK, 10038, "WSAENOTSOCK"},
      {EAFNOSUPPORT, 10047, "WSAEAFNOSUPPORT"},
      {EADDRNOTAVAIL, 10049, "WSAEADDRNOTAVAIL"},
      {ENETDOWN, 10050, "WSAENETDOWN"},
      {ENOBUFS, 10055, "WSAENOBUFS"},
      {EISCONN, 10056, "WSAEISCONN"},
      {ESHUTDOWN, 10058, "WSAESHUTDOWN"},
      {EHOSTDOWN, 10064, "WSAEHOSTDOWN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.code, SocketErrorFromErrno(c.error_number));
    EXPECT_EQ(c.text, SocketErrorText(c.code));
  }
  // Unmapped errno values stay as they are and read as undefined; 0 never
  // turns a failure into "Ok".
  EXPECT_EQ("Undefined Socket Error", SocketErrorText(SocketErrorFromErrno(ENOENT)));
  EXPECT_EQ(30008, SocketErrorFromErrno(0));
}

TEST(SocketErrors, ResolverFailures) {
  EXPECT_EQ(11001, SocketErrorFromResolver(EAI_NONAME, 0));
  EXPECT_EQ(11002, SocketErrorFromResolver(EAI_AGAIN, 0));
  EXPECT_EQ(11003, SocketErrorFromResolver(EAI_FAIL, 0));
  EXPECT_EQ(11004, SocketErrorFromResolver(EAI_NODATA, 0));
  EXPECT_EQ(10055, SocketErrorFromResolver(EAI_SYSTEM, ENOMEM));
  EXPECT_EQ("WSAHOST_NOT_FOUND", SocketErrorText(11001));
  EXPECT_EQ("WSATRY_AGAIN", SocketErrorText(11002));
  EXPECT_EQ("WSANO_RECOVERY", SocketErrorText(11003));
  EXPECT_EQ("WSANO_DATA", SocketErrorText(11004));
}

TEST(SocketErrors, FixedTable) {
  EXPECT_EQ("Ok", SocketErrorText(0));
  EXPECT_EQ("Close Failed", SocketErrorText(30001));
  EXPECT_EQ("Invalid Socket", SocketErrorText(30002));
  EXPECT_EQ("Invalid Address in Connect", SocketErrorText(30003));
  EXPECT_EQ("No Socket for reading or writing", SocketErrorText(30004));
  EXPECT_EQ("Timeout in Receive or Send", SocketErrorText(30005));
  EXPECT_EQ("Incorrect number of byrtes in Send", SocketErrorText(30006));
  EXPECT_EQ("Unknown Error in QXBlockSock", SocketErrorText(30008));
  for (int code : {30007, 30009, 10059, 10062, 10063, 10066, -1, 1, 11005}) {
    EXPECT_EQ("Undefined Socket Error", SocketErrorText(code)) << code;
  }
  const struct {
    int code;
    const char* text;
  } names[] = {{10014, "WSAEFAULT"},       {10037, "WSAEALREADY"},
               {10039, "WSAEDESTADDRREQ"}, {10040, "WSAEMSGSIZE"},
               {10041, "WSAEPROTOTYPE"},   {10042, "WSAENOPROTOOPT"},
               {10043, "WSAEPROTONOSUPPORT"}, {10044, "WSAESOCKTNOSUPPORT"},
               {10045, "WSAEOPNOTSUPP"},   {10046, "WSAEPFNOSUPPORT"},
               {10052, "WSAENETRESET"},    {10067, "WSAEPROCLIM"},
               {10091, "WSASYSNOTREADY"},  {10092, "WSAVERNOTSUPPORTED"},
               {10093, "WSANOTINITIALISED"}, {10101, "WSAEDISCON"}};
  for (const auto& n : names) EXPECT_EQ(n.text, SocketErrorText(n.code));

  // The object reads its stored code only.
  CQXBlockSock sock;
  EXPECT_EQ("Ok", sock.GetErrorText());
  EXPECT_EQ(10061, sock.SetErrorCode(10061));
  EXPECT_EQ("WSAECONNREFUSED", sock.GetErrorText());
}

TEST(HostPort, Forms) {
  const struct {
    const char* text;
    const char* host;
    uint16_t port;
  } good[] = {
      {"mail.example.com", "mail.example.com", 25},
      {"mail.example.com:2525", "mail.example.com", 2525},
      {"192.0.2.7", "192.0.2.7", 25},
      {"192.0.2.7:65535", "192.0.2.7", 65535},
      {"[2001:db8::7]", "2001:db8::7", 25},
      {"[2001:db8::7]:1", "2001:db8::7", 1},
      {"2001:db8::7", "2001:db8::7", 25},
      {"::1", "::1", 25},
  };
  for (const auto& g : good) {
    SCOPED_TRACE(g.text);
    HostPort out;
    ASSERT_TRUE(ParseHostPort(g.text, 25, &out));
    EXPECT_EQ(g.host, out.host);
    EXPECT_EQ(g.port, out.port);
  }
  for (const char* bad : {"", ":25", "host:", "host:0", "host:65536",
                          "host:+25", "host: 25", "host:123456", "[::1",
                          "[]", "[::1]25", "[::1]:", "[::1]:x", "a]b"}) {
    HostPort out;
    EXPECT_FALSE(ParseHostPort(bad, 25, &out)) << bad;
  }
}

}  // namespace
}  // namespace postrunner
