// Warnings for the arguments a run ignores. By design an argument that
// begins with no option's name is ignored, and of the arguments that begin
// with the same option's name only the first counts; a typo ("/Recurce",
// "/StartTSL") or a path without its option would then change the run
// without a word. Each such argument gets one warning on standard error;
// the run itself, its standard output and its exit code stay the same.
#ifndef POSTRUNNER_DRIVER_IGNORED_ARGUMENTS_H_
#define POSTRUNNER_DRIVER_IGNORED_ARGUMENTS_H_

namespace postrunner {

// Writes one "postrunner: " line to standard error for each token from 1 on
// (SplitCommandLine must have run) that begins with no option's name and is
// not "--help", "-h" or "--version", and for each that begins with an
// option's name but is the first such token of none (a repeat that does not
// count). An option value is never shown: a token that may be an option is
// named up to its first ':', any other token by its position.
void WarnAboutIgnoredArguments();

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_IGNORED_ARGUMENTS_H_
