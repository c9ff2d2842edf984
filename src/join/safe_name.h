// Turning a name taken from mail, which anybody may have written, into a
// plain file name that stays inside the output folder.
#ifndef POSTRUNNER_JOIN_SAFE_NAME_H_
#define POSTRUNNER_JOIN_SAFE_NAME_H_

#include <string>
#include <string_view>

namespace postrunner {

// Bound on the bytes of a file name made here, below every common limit.
inline constexpr size_t kMaxNameBytes = 200;

// `raw` reduced to its last path component ('/' and '\' both separate),
// control bytes replaced by '_', leading dots, dashes and blanks and trailing
// blanks removed, cut to kMaxNameBytes (never inside a UTF-8 sequence).
// Empty when nothing usable is left.
std::string SafeFileName(std::string_view raw);

// The name of the `k`-th alternative to `name`: "backup.zip", 1 gives
// "backup (1).zip"; a name without extension gets " (1)" at its end.
std::string NumberedName(const std::string& name, int k);

// NAME from a subject of the form "NAME (part 1 of N)"; empty otherwise.
std::string NameFromPartSubject(std::string_view subject);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_SAFE_NAME_H_
