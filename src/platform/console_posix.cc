#include "platform/console.h"

#include <cstdio>
#include <string>

namespace postrunner {

void PrintLine(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void PrintReason(std::string_view reason) {
  std::string line = "postrunner: ";
  for (char c : reason) {
    const unsigned char u = static_cast<unsigned char>(c);
    line += (u < 0x20 || u == 0x7f) ? ' ' : c;
  }
  line += '\n';
  std::fflush(stdout);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace postrunner
