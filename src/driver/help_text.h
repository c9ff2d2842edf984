// The conventional Linux entry points beside the /Option: set:
// "--help"/"-h" and "--version". They are whole arguments (not prefixes)
// anywhere on the command line, and they answer before anything else runs,
// so a user can ask for help without setting up a delivery.
#ifndef POSTRUNNER_DRIVER_HELP_TEXT_H_
#define POSTRUNNER_DRIVER_HELP_TEXT_H_

#include <string>

namespace postrunner {

// What the command line asks of the program before any run.
enum class InfoRequest { kNone, kHelp, kVersion };

// Looks at tokens 1.. of the token list: kHelp when one of them is exactly
// "--help" or "-h", else kVersion when one is exactly "--version".
// SplitCommandLine must have run.
[[nodiscard]] InfoRequest FindInfoRequest();

// Whether `token` is one of "--help", "-h" and "--version", exactly.
[[nodiscard]] bool IsInfoArgument(const std::string& token);

// Writes the help text for Linux users to standard output.
void PrintHelp();

// Writes "postrunner X.Y.Z" to standard output.
void PrintVersion();

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_HELP_TEXT_H_
