#include "platform/entry_guard.h"

#include <cstdio>

#include "platform/console.h"

namespace postrunner {
namespace {

// The writes below are the last word of a failing run: when standard error
// itself fails there is nowhere left to report it, so their results are
// dropped on purpose.

// Writes `text` with control bytes as spaces, so that the reason stays one line.
void WriteOneLine(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char u = static_cast<unsigned char>(*p);
    (void)std::fputc((u < 0x20 || u == 0x7f) ? ' ' : *p, stderr);
  }
}

}  // namespace

void PrintEntryFailure(const char* what, const char* detail) noexcept {
  ClearStatusLine();
  (void)std::fflush(stdout);
  (void)std::fputs(detail == nullptr ? "postrunner: not enough memory to " : "postrunner: cannot ",
             stderr);
  WriteOneLine(what);
  if (detail != nullptr) {
    (void)std::fputs(": ", stderr);
    WriteOneLine(detail);
  }
  (void)std::fputc('\n', stderr);
  (void)std::fflush(stderr);
}

}  // namespace postrunner
