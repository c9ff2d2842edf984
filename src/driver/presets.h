// The registry presets of a run: string values under one key, the machine's
// value overridden by the user's, and the command line over both.
#ifndef POSTRUNNER_DRIVER_PRESETS_H_
#define POSTRUNNER_DRIVER_PRESETS_H_

#include <string>

namespace postrunner {

// The key under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
inline constexpr const char* kPresetKey = "Software\\Veltrona\\Dropcart";

// The user's value `value_name`, else the machine's, else `fallback`. The
// first call of a run also warns on standard error, naming file and line,
// about every value under the key that is no preset.
std::string ReadPreset(const char* value_name, const std::string& fallback);

// The value of the command-line option `option` when it is given (even
// empty), else the preset `value_name`, else "".
std::string OptionOrPreset(const char* option, const char* value_name);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_PRESETS_H_
