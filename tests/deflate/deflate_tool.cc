// Test driver: compresses standard input to standard output as raw DEFLATE.
//   deflate_tool [level [max_pull]]
// max_pull caps every input read (to exercise short reads). Prints
// "size=<compressed size> flags=<flags>" or "error=<message>" on stderr;
// exits 0 on success, 1 when the compressor reported an error.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "deflate/deflate.h"
#include "platform/file_io.h"

int main(int argc, char** argv) {
  int level = argc > 1 ? std::atoi(argv[1]) : 8;
  unsigned max_pull = argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 0;

  postrunner::DeflatePull pull = [max_pull](unsigned char* buffer, unsigned capacity) -> long {
    if (max_pull != 0 && capacity > max_pull) capacity = max_pull;
    unsigned got = 0;
    // Fill the request unless the input ends, as a file read would.
    while (got < capacity) {
      ssize_t n = postrunner::ReadSome(0, buffer + got, capacity - got);
      if (n <= 0) break;
      got += static_cast<unsigned>(n);
    }
    return got;
  };
  postrunner::DeflatePush push = [](const unsigned char* data, unsigned length) -> unsigned {
    return static_cast<unsigned>(postrunner::WriteAll(1, data, length));
  };
  uint16_t flags = 0;
  postrunner::DeflateResult result = postrunner::DeflateCompress(level, &flags, pull, push);
  if (!result.error.empty() || result.output_failed) {
    std::fprintf(stderr, "error=%s\n",
                 result.output_failed ? "output failed" : result.error.c_str());
    return 1;
  }
  std::fprintf(stderr, "size=%llu flags=%u\n",
               static_cast<unsigned long long>(result.compressed_size), flags);
  return 0;
}
