#include "driver/command_line.h"

#include "platform/ascii.h"
#include "platform/console.h"

namespace postrunner {
namespace {

std::vector<std::string>& RawArguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

std::vector<std::string>& MutableTokenList() {
  static std::vector<std::string> tokens;
  return tokens;
}

// Index of the first token from 1 on that begins with `name`, or 0.
[[nodiscard]] size_t FindOption(const std::string& name) {
  const std::vector<std::string>& tokens = TokenList();
  if (tokens.size() < 2 || name.empty()) return 0;
  for (size_t i = 1; i < tokens.size(); ++i) {
    if (StartsWithNoCase(tokens[i], name)) return i;
  }
  return 0;
}

constexpr const char* kRule = "====================================";

}  // namespace

bool SetRawCommandLine(int argc, const char* const* argv) {
  std::vector<std::string>& raw = RawArguments();
  raw.clear();
  if (argv == nullptr || argc < 0) return false;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) raw.emplace_back(argv[i]);
  return true;
}

const std::vector<std::string>& TokenList() { return MutableTokenList(); }

int SplitCommandLine() {
  std::vector<std::string>& tokens = MutableTokenList();
  tokens = RawArguments();
  if (tokens.empty()) tokens.emplace_back();
  return static_cast<int>(tokens.size());
}

bool HasOption(const std::string& name) { return FindOption(name) != 0; }

size_t OptionIndex(const std::string& name) { return FindOption(name); }

std::string GetOptionValue(const std::string& name) {
  size_t index = FindOption(name);
  if (index == 0) return "";
  return TokenList()[index].substr(name.size());
}

void PrintUsage() {
  static constexpr const char* kLines[] = {
      "Parameters you need to use:",
      kRule,
      "  /Receiver:receiver@example.com",
      "  /Sender:sender@example.com",
      "  /MailServer:mail.example.com",
      "For a single file use",
      "  /File:c:\\IncludeThisFile.txt",
      "Optional",
      "  /Zip[:Filename zipfile]",
      "  /CreateOnly (for use with /Zip. No transmission.)",
      "For a folder use",
      "  /Dir:c:\\MyDir (Implies /Zip)",
      "Optional",
      "  /Zip[:Filename]",
      "  /Recurse",
      "  /CreateOnly (No transmission.)",
      "  /NoSplit (No splitting of big files.)",
      "",
      "Using FTP",
      "  /FTPServer:The FTP server",
      "  /FTPUser:The FTP username",
      "  /FTPPassword:The FTP password",
      "  /FTPFilename:optional argument. The FTP Filename",
      "  /FTPPassiveMode",
      kRule,
      "Use of Registry:",
      kRule,
      "To avoid having to enter the sender",
      "and mailserver every time you can use",
      "the registry to preset these values.",
      "",
      "Set the REG_SZ values Mailserver and",
      "Sender in Software\\Veltrona\\Dropcart",
      "in HKEY_LOCAL_MACHINE or in",
      "HKEY_CURRENT_USER. The User key will",
      "override the Local Machine value.",
      "",
      "NOTE: Backup your registry first.",
      "Make sure you know how to restore",
      "and modify the registry before you",
      "modify any value in the registry.",
      kRule,
      "Veltrona Software, Example Country",
      "https://www.example.com/postrunner",
      kRule,
  };
  for (const char* line : kLines) PrintLine(line);
}

}  // namespace postrunner
