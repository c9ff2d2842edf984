// Standard output, the program's only channel to its user. Every progress and
// result line goes through PrintLine; nothing is ever written to standard
// error.
#ifndef POSTRUNNER_PLATFORM_CONSOLE_H_
#define POSTRUNNER_PLATFORM_CONSOLE_H_

#include <string_view>

namespace postrunner {

// Writes `text` and a line end to standard output and flushes, so that lines
// appear in order and at once even when output goes to a pipe or a log file.
void PrintLine(std::string_view text);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_CONSOLE_H_
