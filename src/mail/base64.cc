#include "mail/base64.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/binary_file.h"

namespace postrunner {
namespace {

// Bytes read and encoded at a time by EncodeFileBase64 (a multiple of 3).
constexpr size_t kEncodeBlockBytes = 3 * 16384;

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of every 12-bit value, so that three bytes take two
// look-ups: the encoder is on the path of every byte mailed.
struct CharPairs {
  char text[4096 * 2];
};
constexpr CharPairs MakeCharPairs() {
  CharPairs pairs{};
  for (int v = 0; v < 4096; ++v) {
    pairs.text[2 * v] = kAlphabet[v >> 6];
    pairs.text[2 * v + 1] = kAlphabet[v & 63];
  }
  return pairs;
}
constexpr CharPairs kCharPairs = MakeCharPairs();

// Writes the EncodedBase64Length(n) characters of the `n` bytes at `in` to
// `o`; returns the end of what it wrote.
char* EncodeInto(const unsigned char* in, size_t n, char* o) {
  const size_t full = n - n % 3;
  for (size_t i = 0; i < full; i += 3) {
    const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    std::memcpy(o, kCharPairs.text + 2 * (v >> 12), 2);
    std::memcpy(o + 2, kCharPairs.text + 2 * (v & 0xFFF), 2);
    o += 4;
  }
  if (n % 3 == 0) return o;
  const uint32_t v = (uint32_t{in[full]} << 16) | (n % 3 == 2 ? uint32_t{in[full + 1]} << 8 : 0);
  o[0] = kAlphabet[v >> 18];
  o[1] = kAlphabet[(v >> 12) & 63];
  o[2] = n % 3 == 2 ? kAlphabet[(v >> 6) & 63] : '=';
  o[3] = '=';
  return o + 4;
}

}  // namespace

size_t EncodedBase64Length(size_t byte_count) { return (byte_count + 2) / 3 * 4; }

size_t DecodedBase64Length(std::string_view text) {
  size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
    ++padding;
  }
  return text.size() / 4 * 3 - padding;
}

std::string EncodeBase64(std::string_view bytes, BOOL /*final*/) {
  // A partial last group is padded whether or not the caller marked the data
  // as final, and a complete last group needs no padding: so the result does
  // not depend on `final`. The argument stays so that callers say what they
  // mean and pieces of a whole remain visible as such.
  std::string out;
  AppendBase64(bytes, &out);
  return out;
}

void AppendBase64(std::string_view bytes, std::string* text) {
  const size_t start = text->size();
  text->resize(start + EncodedBase64Length(bytes.size()));
  EncodeInto(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
             text->data() + start);
}

void AppendBase64Lines(std::string_view bytes, std::string* text) {
  constexpr size_t kLineBytes = kBase64LineLength / 4 * 3;
  const size_t lines = (bytes.size() + kLineBytes - 1) / kLineBytes;
  const size_t start = text->size();
  text->resize(start + EncodedBase64Length(bytes.size()) + 2 * lines);
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  char* o = text->data() + start;
  for (size_t at = 0; at < bytes.size(); at += kLineBytes) {
    const size_t n = bytes.size() - at < kLineBytes ? bytes.size() - at : kLineBytes;
    o = EncodeInto(in + at, n, o);
    *o++ = '\r';
    *o++ = '\n';
  }
}

std::string EncodeStringBase64(const std::string& text, BOOL final) {
  return EncodeBase64(text, final);
}

BOOL EncodeFileBase64(const std::string& path, BOOL /*final*/, std::string* encoded) {
  encoded->clear();
  int error = 0;
  {
    CBinaryFile file;
    if (file.Open(path, kBinaryReadOnly) < 0) return FALSE;
    int64_t size = file.SeekToEnd();
    if (size < 0 || file.SeekToStart() != 0) return FALSE;
    try {
      // The file is read and encoded a block at a time into text whose room
      // is taken first, so the file's bytes are never held whole next to it.
      // A block is a multiple of three bytes: only the last can need padding.
      encoded->reserve(EncodedBase64Length(static_cast<size_t>(size)));
      std::string block(kEncodeBlockBytes, '\0');
      // Up to the measured size, stopping early at the end of the file: a
      // file that shrank meanwhile is sent as it now is, never padded.
      uint64_t left = static_cast<uint64_t>(size);
      while (left > 0) {
        size_t want = left < block.size() ? static_cast<size_t>(left) : block.size();
        size_t got = 0;
        while (got < want) {
          ssize_t n = file.Read(block.data() + got, want - got);
          if (n < 0) {
            error = errno;
            break;
          }
          if (n == 0) break;
          got += static_cast<size_t>(n);
        }
        if (error != 0) break;
        AppendBase64(std::string_view(block.data(), got), encoded);
        if (got < want) break;
        left -= got;
      }
    } catch (const std::bad_alloc&) {
      error = ENOMEM;
    } catch (const std::length_error&) {
      error = ENOMEM;
    }
  }
  if (error == 0) return TRUE;
  encoded->clear();
  encoded->shrink_to_fit();
  errno = error;
  return FALSE;
}

}  // namespace postrunner
