// The command line: split once into the process-wide token list, then looked
// up option by option. An option matches a token that begins with its name,
// ASCII letters compared case-insensitively; token 0 (the program path) never
// matches and only the first matching token counts. Also owns the usage text.
#ifndef POSTRUNNER_DRIVER_COMMAND_LINE_H_
#define POSTRUNNER_DRIVER_COMMAND_LINE_H_

#include <string>
#include <vector>

namespace postrunner {

// Records the raw command line of the process: argv as the shell split and
// unquoted it, one argument per token. Returns false when there is nothing
// to record (no argument vector). Must precede SplitCommandLine.
[[nodiscard]] bool SetRawCommandLine(int argc, const char* const* argv);

// The process-wide token list, filled by SplitCommandLine.
const std::vector<std::string>& TokenList();

// Empties the token list and fills it from the raw command line, one token
// per argument, token 0 being the program path (empty when the process was
// started without one). Returns the number of tokens, at least 1.
[[nodiscard]] int SplitCommandLine();

// Whether some token from index 1 on begins with `name`.
[[nodiscard]] bool HasOption(const std::string& name);

// The index of the first token from 1 on that begins with `name`, the one
// that counts; 0 when none does.
[[nodiscard]] size_t OptionIndex(const std::string& name);

// What follows `name` in the first token from index 1 on that begins with
// it; "" when none does. The value is neither trimmed nor unquoted.
std::string GetOptionValue(const std::string& name);

// Writes the 45 lines of the usage text to standard output.
void PrintUsage();

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_COMMAND_LINE_H_
