// The id that ties the message/partial pieces of one split file together
// (RFC 2046 section 5.2.2). A reader joins every piece that carries the same
// id, so ids must never repeat across runs: two files sent at once by one
// sender, or a month apart, must not be mistaken for one.
//
// The id starts as it always has, with the month, day, minute and second of
// the local time (no leading zeros), and goes on with what makes it unique:
// the full date and time, the process id and a 64-bit random number, each
// after a ".", then "." and the sender address. Every byte of the address
// that may not stand in an unquoted MIME parameter ("@", blanks, quotes,
// non-ASCII) becomes ".", so the id is one token.
#ifndef POSTRUNNER_MAIL_PARTIAL_ID_H_
#define POSTRUNNER_MAIL_PARTIAL_ID_H_

#include <cstdint>
#include <string>

#include "platform/local_time.h"

namespace postrunner {

// What one id is made of.
struct PartialIdSources {
  LocalTime now;
  long process_id = 0;
  uint64_t random = 0;
};

// The local time, this process's id and a random number from the kernel
// (a clock reading stands in when the kernel has none to give).
PartialIdSources CurrentPartialIdSources();

// The id for `sources` and `sender`, e.g.
// "2375.20260203100705.4242.9f3c0a1b2c3d4e5f.backup.example.com".
std::string MakePartialId(const PartialIdSources& sources, const std::string& sender);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_PARTIAL_ID_H_
