#include "driver/presets.h"

#include "registry/registry.h"

namespace postrunner {

std::string ReadPreset(const char* value_name, const std::string& fallback) {
  std::string machine = RegReadString(kPresetKey, value_name, fallback, HKEY_LOCAL_MACHINE);
  return RegReadString(kPresetKey, value_name, machine, HKEY_CURRENT_USER);
}

}  // namespace postrunner
