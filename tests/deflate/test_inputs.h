// Deterministic inputs for the compressor tests: text, random bytes, skewed
// byte frequencies, binary-like records, runs, and mixtures of them.
#ifndef POSTRUNNER_TESTS_DEFLATE_TEST_INPUTS_H_
#define POSTRUNNER_TESTS_DEFLATE_TEST_INPUTS_H_

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "deflate/deflate.h"

namespace postrunner {
namespace test {

using Bytes = std::vector<unsigned char>;

inline Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<unsigned char>(rng());
  return out;
}

inline Bytes Text(size_t n, uint32_t seed) {
  static const char* kWords[] = {"the", "of", "and", "to", "in", "is", "that", "for", "it",
                                 "window", "match", "literal", "distance", "block", "archive",
                                 "entry", "deflate", "tree", "code", "buffer", "stream"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < n) {
    std::string w;
    if (rng() % 5 != 0) {
      w = kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    } else {
      for (unsigned k = 2 + rng() % 8; k > 0; k--) w += static_cast<char>('a' + rng() % 26);
    }
    w += (rng() % 7 == 0) ? ".\n" : " ";
    out.insert(out.end(), w.begin(), w.end());
  }
  out.resize(n);
  return out;
}

// Byte k*5 with probability about 2^-(k+1).
inline Bytes Skewed(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) {
    unsigned k = 0;
    while ((rng() & 1) && k < 40) k++;
    b = static_cast<unsigned char>(k * 5);
  }
  return out;
}

inline Bytes Records(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < n) {
    uint32_t v = rng();
    for (int i = 0; i < 4; i++) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    out.insert(out.end(), 12 - rng() % 3, 0);
    out.push_back(static_cast<unsigned char>(rng() % 4));
  }
  out.resize(n);
  return out;
}

inline Bytes Mixed(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < n) {
    size_t k = 500 + rng() % 200000;
    Bytes part;
    switch (rng() % 6) {
      case 0: part = Text(k, rng()); break;
      case 1: part = RandomBytes(k, rng()); break;
      case 2: part = Skewed(k, rng()); break;
      case 3: part = Records(k, rng()); break;
      case 4: part.assign(k, 0); break;
      default:
        for (size_t i = 0; i < k; i++) {
          part.push_back(static_cast<unsigned char>("abcabcab"[i % 8]));
        }
    }
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(n);
  return out;
}

// A pull function over `data`, handing out at most `chunk` bytes per call.
inline DeflatePull PullFrom(const Bytes& data, size_t* pos, unsigned chunk = 1u << 30) {
  return [&data, pos, chunk](unsigned char* buffer, unsigned capacity) -> long {
    size_t n = std::min<size_t>({capacity, chunk, data.size() - *pos});
    std::copy(data.begin() + static_cast<long>(*pos), data.begin() + static_cast<long>(*pos + n),
              buffer);
    *pos += n;
    return static_cast<long>(n);
  };
}

// A push function appending to `out`.
inline DeflatePush PushTo(Bytes* out) {
  return [out](const unsigned char* data, unsigned length) -> unsigned {
    out->insert(out->end(), data, data + length);
    return length;
  };
}

}  // namespace test
}  // namespace postrunner

#endif  // POSTRUNNER_TESTS_DEFLATE_TEST_INPUTS_H_
