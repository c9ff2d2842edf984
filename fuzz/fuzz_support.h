// What the fuzz targets share: a check that stops the run with a message in
// the fuzzer's report (libFuzzer then saves the input as the reproducer),
// a scratch folder of the process's own, and the byte transforms several
// targets compare through.
#ifndef POSTRUNNER_FUZZ_FUZZ_SUPPORT_H_
#define POSTRUNNER_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace postrunner::fuzz {

// Reports that `what` does not hold at `file`:`line`, with `detail`, on the
// sanitizers' report channel (which libFuzzer keeps open when it closes
// stderr), and aborts.
[[noreturn]] void CheckFailed(const char* file, int line, const char* what,
                              const std::string& detail);

// Stops the run when `condition` is false; `detail` (a std::string) is
// evaluated only then.
#define FUZZ_CHECK(condition, detail)                                              \
  do {                                                                             \
    if (!(condition)) {                                                            \
      ::postrunner::fuzz::CheckFailed(__FILE__, __LINE__, #condition, (detail));   \
    }                                                                              \
  } while (0)

// `bytes` as printable text with C escapes, cut after 300 bytes.
std::string Shown(std::string_view bytes);

// The input as a string view.
inline std::string_view Input(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// A folder of this process's own under $TMPDIR (or /tmp), made on first
// use and removed with all it holds when the process exits normally.
const std::string& ScratchFolder();

// Removes everything inside `folder`, keeping the folder.
void EmptyFolder(const std::string& folder);

// The names of the entries of `folder`, sorted; subfolders end in '/'.
std::vector<std::string> FolderEntries(const std::string& folder);

// Whole-file writes and reads. False on any failure.
bool WriteFileBytes(const std::string& path, std::string_view bytes);
bool ReadFileBytes(const std::string& path, std::string* bytes);

// ISO-8859-1 bytes as UTF-8 (each byte is the code point of its value).
std::string Latin1ToUtf8(std::string_view bytes);

// A header field as its reader sees it: folding undone by dropping every
// CR LF that a blank or tab follows.
std::string Unfold(std::string_view text);

}  // namespace postrunner::fuzz

#endif  // POSTRUNNER_FUZZ_FUZZ_SUPPORT_H_
