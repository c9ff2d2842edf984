#include "driver/presets.h"

#include <initializer_list>

#include "driver/command_line.h"
#include "platform/ascii.h"
#include "platform/console.h"
#include "registry/registry.h"

namespace postrunner {
namespace {

// Every value name the run reads under kPresetKey.
constexpr const char* kPresetNames[] = {
    "Mailserver",       "Sender",
    "Security",         "MailUser",
    "MailPasswordFile", "MailAuth",
    "CAFile",           "FTPServer",
    "FTPUser",          "FTPPasswordFile",
    "SSHKey",           "KnownHosts",
    "Receiver",         "Timeout",
    "SplitSize",        "OAuthTokenURL",
    "OAuthAuthURL",     "OAuthDeviceURL",
    "OAuthClientID",    "OAuthClientSecretFile",
    "OAuthScope",       "OAuthRefreshTokenFile",
    "OAuthGrant",       "OAuthProvider",
    "OAuthTenant",
};

bool IsPresetName(const std::string& name) {
  for (const char* preset : kPresetNames) {
    if (EqualNoCase(name, preset)) return true;
  }
  return false;
}

std::string PresetList() {
  std::string list;
  for (const char* preset : kPresetNames) list += (list.empty() ? "" : ", ") + std::string(preset);
  return list;
}

// Warns, naming file and line, about each value under the preset key of
// either file that is no preset (a misspelt "Securty", say): it would be
// ignored without a word.
void WarnAboutUnknownPresets() {
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const RegValueLine& value : RegListValueLines(hive, kPresetKey)) {
      if (IsPresetName(value.name)) continue;
      std::string shown = value.name.empty() ? "@" : "\"" + value.name + "\"";
      PrintReason(value.file + ":" + std::to_string(value.line) + ": " + shown +
                  " is not a preset and is ignored; the presets are " + PresetList());
    }
  }
}

}  // namespace

std::string ReadPreset(const char* value_name, const std::string& fallback) {
  // The first read of a run looks the preset files over once.
  static const bool checked = (WarnAboutUnknownPresets(), true);
  (void)checked;
  std::string machine = RegReadString(kPresetKey, value_name, fallback, HKEY_LOCAL_MACHINE);
  return RegReadString(kPresetKey, value_name, machine, HKEY_CURRENT_USER);
}

std::string OptionOrPreset(const char* option, const char* value_name) {
  return HasOption(option) ? GetOptionValue(option) : ReadPreset(value_name, "");
}

}  // namespace postrunner
