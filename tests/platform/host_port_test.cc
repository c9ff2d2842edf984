// The server forms ParseHostPort accepts: a host name, an IPv4 address or an
// IPv6 address (in brackets when a port follows), with an optional port.
#include "platform/host_port.h"

#include <gtest/gtest.h>

namespace postrunner {
namespace {

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
                          "[]", "[::1]25", "[::1]:", "[::1]:x", "a]b",
                          // A fuzz target's reproducer: the bracketed form kept
                          // a '[' in the host that the plain form refuses.
                          "[:K[:1]:2525", "[a[b]"}) {
    HostPort out;
    EXPECT_FALSE(ParseHostPort(bad, 25, &out)) << bad;
  }
}

}  // namespace
}  // namespace postrunner
