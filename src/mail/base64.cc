#include "mail/base64.h"

#include <cstdint>
#include <new>
#include <stdexcept>

#include "platform/binary_file.h"

namespace postrunner {
namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

size_t EncodedBase64Length(size_t byte_count) { return (byte_count + 2) / 3 * 4; }

std::string EncodeBase64(std::string_view bytes, BOOL /*final*/) {
  // A partial last group is padded whether or not the caller marked the data
  // as final, and a complete last group needs no padding: so the result does
  // not depend on `final`. The argument stays so that callers say what they
  // mean and pieces of a whole remain visible as such.
  std::string out;
  out.resize(EncodedBase64Length(bytes.size()));
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  size_t full = n - n % 3;
  char* o = out.data();
  for (size_t i = 0; i < full; i += 3) {
    uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = kAlphabet[(v >> 6) & 63];
    o[3] = kAlphabet[v & 63];
    o += 4;
  }
  if (n % 3 == 1) {
    uint32_t v = uint32_t{in[full]} << 16;
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = '=';
    o[3] = '=';
  } else if (n % 3 == 2) {
    uint32_t v = (uint32_t{in[full]} << 16) | (uint32_t{in[full + 1]} << 8);
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = kAlphabet[(v >> 6) & 63];
    o[3] = '=';
  }
  return out;
}

std::string EncodeStringBase64(const std::string& text, BOOL final) {
  return EncodeBase64(text, final);
}

BOOL EncodeFileBase64(const std::string& path, BOOL final, std::string* encoded) {
  encoded->clear();
  CBinaryFile file;
  if (file.Open(path, kBinaryReadOnly) < 0) return FALSE;
  int64_t size = file.SeekToEnd();
  if (size < 0 || file.SeekToStart() != 0) return FALSE;
  try {
    // Read up to the measured size, stopping early at the end of the file: a
    // file that shrank meanwhile is sent as it now is, never padded.
    std::string data(static_cast<size_t>(size), '\0');
    size_t got = 0;
    while (got < data.size()) {
      ssize_t n = file.Read(data.data() + got, data.size() - got);
      if (n < 0) return FALSE;
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    data.resize(got);
    file.Close();
    *encoded = EncodeBase64(data, final);
  } catch (const std::bad_alloc&) {
    encoded->clear();
    return FALSE;
  } catch (const std::length_error&) {
    encoded->clear();
    return FALSE;
  }
  return TRUE;
}

}  // namespace postrunner
