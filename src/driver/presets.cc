#include "driver/presets.h"

#include "driver/command_line.h"
#include "registry/registry.h"

namespace postrunner {

std::string ReadPreset(const char* value_name, const std::string& fallback) {
  std::string machine = RegReadString(kPresetKey, value_name, fallback, HKEY_LOCAL_MACHINE);
  return RegReadString(kPresetKey, value_name, machine, HKEY_CURRENT_USER);
}

std::string OptionOrPreset(const char* option, const char* value_name) {
  return HasOption(option) ? GetOptionValue(option) : ReadPreset(value_name, "");
}

}  // namespace postrunner
