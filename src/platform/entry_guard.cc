#include "platform/entry_guard.h"

#include <cstdio>

#include "platform/console.h"

namespace postrunner {
namespace {

// Writes `text` with control bytes as spaces, so that the reason stays one line.
void WriteOneLine(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char u = static_cast<unsigned char>(*p);
    std::fputc((u < 0x20 || u == 0x7f) ? ' ' : *p, stderr);
  }
}

}  // namespace

void PrintEntryFailure(const char* what, const char* detail) noexcept {
  ClearStatusLine();
  std::fflush(stdout);
  std::fputs(detail == nullptr ? "postrunner: not enough memory to " : "postrunner: cannot ",
             stderr);
  WriteOneLine(what);
  if (detail != nullptr) {
    std::fputs(": ", stderr);
    WriteOneLine(detail);
  }
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace postrunner
