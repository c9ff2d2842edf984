// The program's two channels to its user. Progress and result lines go to
// standard output through PrintLine, exactly as scripts expect to read them.
// The reason behind a failure goes to standard error through PrintReason, one
// line each, so that stdout stays unchanged while a person (or a log) still
// learns why a run failed.
#ifndef POSTRUNNER_PLATFORM_CONSOLE_H_
#define POSTRUNNER_PLATFORM_CONSOLE_H_

#include <string_view>

namespace postrunner {

// Writes `text` and a line end to standard output and flushes, so that lines
// appear in order and at once even when output goes to a pipe or a log file.
void PrintLine(std::string_view text);

// Writes "postrunner: " + `reason` and a line end to standard error. Control
// bytes in `reason` (CR, LF, NUL and the rest) become spaces so that one
// reason is always one line. The caller must never pass a secret.
void PrintReason(std::string_view reason);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_CONSOLE_H_
