// The program's two channels to its user. Progress and result lines go to
// standard output through PrintLine, exactly as scripts expect to read them.
// The reason behind a failure goes to standard error through PrintReason, one
// line each, so that stdout stays unchanged while a person (or a log) still
// learns why a run failed. A run whose archive streams into standard output
// sends its lines to standard error instead, leaving stdout to the archive.
#ifndef POSTRUNNER_PLATFORM_CONSOLE_H_
#define POSTRUNNER_PLATFORM_CONSOLE_H_

#include <sys/types.h>

#include <string_view>

namespace postrunner {

// Writes `text` and a line end to standard output (standard error after
// SendLinesToStandardError) and flushes, so that lines appear in order and
// at once even when output goes to a pipe or a log file.
void PrintLine(std::string_view text);

// From now on PrintLine writes to standard error; nothing the program prints
// goes to standard output any more.
void SendLinesToStandardError();

// True after SendLinesToStandardError.
bool LinesGoToStandardError();

// Writes "postrunner: " + `reason` and a line end to standard error. Control
// bytes in `reason` (CR, LF, NUL and the rest) become spaces so that one
// reason is always one line. The caller must never pass a secret.
void PrintReason(std::string_view reason);

// Whether standard output goes to the file with this identity.
bool IsStandardOutput(dev_t device, ino_t inode);

// Whether standard error goes to the file with this identity.
bool IsStandardError(dev_t device, ino_t inode);

// A new descriptor (close-on-exec) for the open file standard output goes
// to, or -1 with errno set.
int DuplicateStandardOutput();

// Whether standard error is a terminal (a person is watching).
bool StandardErrorIsTerminal();

// Replaces the status line on standard error with `text`, cut to the
// terminal's width; the cursor stays on that line. Only for terminals.
void WriteStatusLine(std::string_view text);

// Clears the status line if one is shown. PrintLine and PrintReason call it
// first, so their lines never mix with a half-drawn status line.
void ClearStatusLine();

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_CONSOLE_H_
