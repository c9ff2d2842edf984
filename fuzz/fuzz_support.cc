#include "fuzz_support.h"

#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace postrunner::fuzz {

void CheckFailed(const char* file, int line, const char* what, const std::string& detail) {
  std::string message = std::string("postrunner fuzz check failed: ") + what + " at " + file +
                        ":" + std::to_string(line) + ": " + detail;
  __sanitizer_report_error_summary(message.c_str());
  std::abort();
}

std::string Shown(std::string_view bytes) {
  static constexpr size_t kMaxShown = 300;
  std::string out = "\"";
  for (size_t i = 0; i < bytes.size() && i < kMaxShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    }
  }
  out += '"';
  if (bytes.size() > kMaxShown) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

namespace {

void RemoveScratchFolder();

std::string MakeScratchFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/postrunner-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    CheckFailed(__FILE__, __LINE__, "mkdtemp", "cannot make a scratch folder " + pattern);
  }
  return pattern;
}

void RemoveScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(ScratchFolder(), ignored);
}

}  // namespace

const std::string& ScratchFolder() {
  static const std::string folder = MakeScratchFolder();
  // Registered after the string, so that it runs before the string goes.
  static const int removal = std::atexit(RemoveScratchFolder);
  (void)removal;
  return folder;
}

void EmptyFolder(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::error_code ignored;
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::error_code ignored;
    names.push_back(entry.path().filename().string() +
                    (entry.is_directory(ignored) ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xc0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3f));
    }
  }
  return out;
}

std::string Unfold(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, 2) == "\r\n" && i + 2 < text.size() &&
        (text[i + 2] == ' ' || text[i + 2] == '\t')) {
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

}  // namespace postrunner::fuzz
