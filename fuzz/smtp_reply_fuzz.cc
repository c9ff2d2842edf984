// What an SMTP server sends, as the client reads it: the input is the
// server's byte stream, read into whole replies by SmtpReplyReader over a
// scripted peer that delivers it in blocks; each reply's code is taken and
// it is parsed as an EHLO reply.
//
// Holds: the replies are the stream's bytes in order, none lost or added;
// each is complete (continuation lines, then one final line) and bounded;
// the reader stops only where no whole reply is left or the limit is hit;
// cutting the stream into other blocks gives the same replies; the EHLO
// parse is deterministic and keeps only upper-case mechanism names.
#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mail/smtp_extensions.h"
#include "mail/smtp_reply.h"
#include "net/block_sock.h"
#include "platform/socket.h"

namespace postrunner {
namespace {

using fuzz::Shown;

// A peer that has sent `stream` and closed: each receive hands out the next
// block, of a size chosen by `block_size(offset)`.
class ScriptedPeer : public SocketApi {
 public:
  ScriptedPeer(std::string_view stream, size_t (*block_size)(std::string_view, size_t))
      : stream_(stream), block_size_(block_size) {}

  int Resolve(const std::string&, uint16_t, int, std::vector<SocketAddress>*) override {
    return EAI_FAIL;
  }
  int Open(int, int, int) override { return 7; }
  int SetReuseAddress(int) override { return 0; }
  int Connect(int, const SocketAddress&, int) override { return ECONNREFUSED; }
  int Wait(int, bool, int) override { return 1; }
  ssize_t Send(int, const void*, size_t size) override { return static_cast<ssize_t>(size); }
  ssize_t Receive(int, void* buffer, size_t size) override {
    size_t n = std::min({size, block_size_(stream_, sent_), stream_.size() - sent_});
    std::memcpy(buffer, stream_.data() + sent_, n);
    sent_ += n;
    return static_cast<ssize_t>(n);
  }
  int PeerAddress(int, SocketAddress*) override {
    errno = ENOTCONN;
    return -1;
  }
  int Close(int) override { return 0; }

  size_t sent() const { return sent_; }

 private:
  std::string_view stream_;
  size_t (*block_size_)(std::string_view, size_t);
  size_t sent_ = 0;
};

size_t WholeBlocks(std::string_view, size_t) { return kSocketBlockSize; }

// 1 to 16 bytes, chosen by the byte at `offset`.
size_t SmallBlocks(std::string_view stream, size_t offset) {
  return offset < stream.size() ? 1 + static_cast<unsigned char>(stream[offset]) % 16 : 1;
}

struct ReadResult {
  std::vector<std::string> replies;
  size_t consumed = 0;  // bytes of the stream the replies hold
  size_t delivered = 0; // bytes the peer handed out
};

ReadResult ReadAll(std::string_view stream, size_t (*block_size)(std::string_view, size_t)) {
  ScriptedPeer peer(stream, block_size);
  CQXBlockSock socket(peer);
  FUZZ_CHECK(socket.CreateSocket(), "the scripted peer gives a socket");
  SmtpReplyReader reader(&socket);
  ReadResult result;
  std::string reply;
  while (reader.Read(0, &reply)) {
    result.consumed += reply.size();
    result.replies.push_back(reply);
    FUZZ_CHECK(result.replies.size() <= stream.size(), "more replies than bytes");
  }
  FUZZ_CHECK(reply.empty(), "a failed read leaves the reply empty, got " + Shown(reply));
  result.delivered = peer.sent();
  return result;
}

void CheckReply(const std::string& reply) {
  FUZZ_CHECK(!reply.empty() && reply.back() == '\n', "a reply ends a line: " + Shown(reply));
  FUZZ_CHECK(reply.size() <= kMaxSmtpReplyBytes + kSocketBlockSize,
             "a reply stays within the limit: " + std::to_string(reply.size()));
  FUZZ_CHECK(SmtpReplyReader::WholeReplyLength(reply) == reply.size(),
             "a reply is exactly one whole reply: " + Shown(reply));
  const int code = SmtpReplyCode(reply);
  FUZZ_CHECK(code >= -1 && code <= 999, "reply code " + std::to_string(code));
  const size_t first_line = reply.find_first_of(std::string("\r\n\0", 3));
  FUZZ_CHECK((code == -1) == (first_line < 3), "code -1 only for a short first line");

  SmtpExtensions ext, again;
  const bool positive = ParseEhloReply(reply, &ext);
  FUZZ_CHECK(positive == (reply.size() >= 3 && reply[0] == '2'), "EHLO success iff 2xx");
  FUZZ_CHECK(ParseEhloReply(reply, &again) == positive && again.starttls == ext.starttls &&
                 again.auth_mechanisms == ext.auth_mechanisms &&
                 again.size_limit == ext.size_limit,
             "EHLO parse is deterministic");
  if (!positive) {
    FUZZ_CHECK(!ext.starttls && ext.auth_mechanisms.empty() && ext.size_limit == 0,
               "a refused EHLO reply leaves nothing");
  }
  for (const std::string& mechanism : ext.auth_mechanisms) {
    FUZZ_CHECK(!mechanism.empty(), "an empty mechanism name");
    for (char c : mechanism) {
      const bool blank = c != '\0' && std::strchr(" \t\r\n\v\f", c) != nullptr;
      FUZZ_CHECK(!(c >= 'a' && c <= 'z') && !blank,
                 "mechanism names are upper case words: " + Shown(mechanism));
    }
    std::string lower = mechanism;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    FUZZ_CHECK(ext.OffersAuth(lower), "OffersAuth ignores case: " + Shown(mechanism));
  }
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  const std::string_view stream = fuzz::Input(data, size);
  const ReadResult whole = ReadAll(stream, WholeBlocks);
  std::string joined;
  for (const std::string& reply : whole.replies) {
    CheckReply(reply);
    joined += reply;
  }
  FUZZ_CHECK(stream.substr(0, joined.size()) == joined,
             "replies are the stream's bytes in order: " + fuzz::Shown(joined));
  const std::string rest(stream.substr(joined.size()));
  const bool over_limit = whole.delivered - whole.consumed > kMaxSmtpReplyBytes;
  FUZZ_CHECK(over_limit || SmtpReplyReader::WholeReplyLength(rest) == 0,
             "the reader stopped before a whole reply: " + fuzz::Shown(rest));

  if (size <= kMaxSmtpReplyBytes) {
    const ReadResult cut = ReadAll(stream, SmallBlocks);
    FUZZ_CHECK(cut.replies == whole.replies, "small blocks give other replies");
  }
  return 0;
}
