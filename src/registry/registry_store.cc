#include "registry/registry_store.h"

#include <memory>
#include <utility>

#include "platform/console.h"
#include "registry/mime_types.h"
#include "registry/reg_file.h"
#include "registry/registry_files.h"

namespace postrunner {
namespace {

// Registry files and type lists are small; anything bigger is not one.
constexpr size_t kMaxSourceBytes = 16 * 1024 * 1024;

// The parsed form of one source file, kept while the file stays the same.
template <typename Parsed>
class CachedSource {
 public:
  // `what` names the kind of file in reports ("registry file").
  explicit CachedSource(const char* what) : what_(what) {}

  // The parsed file at `path`, read again only when it changed; nullptr when
  // it is missing or cannot be read.
  const Parsed* Get(const std::string& path) {
    FileVersion version;
    std::string error;
    FileState state = ProbeFile(path, &version, &error);
    if (loaded_ && path == path_ && state == state_ && version == version_ && error == error_) {
      return parsed_.get();
    }
    loaded_ = true;
    path_ = path;
    state_ = state;
    version_ = version;
    error_ = error;
    parsed_.reset();
    if (state == FileState::kFailed) Report("cannot be read: " + error);
    if (state == FileState::kPresent) Read();
    return parsed_.get();
  }

 private:
  void Read() {
    std::string bytes, error;
    FileVersion read_version;
    FileState state = ReadWholeFile(path_, kMaxSourceBytes, &bytes, &read_version, &error);
    if (state == FileState::kFailed) Report("cannot be read: " + error);
    if (state != FileState::kPresent) return;
    std::string problem;
    parsed_ = Parse(std::move(bytes), &problem);
    if (!problem.empty()) Report(problem);
  }

  static std::unique_ptr<Parsed> Parse(std::string bytes, std::string* problem);

  void Report(const std::string& text) const {
    PrintReason(std::string(what_) + " " + path_ + " " + text);
  }

  const char* what_;
  bool loaded_ = false;
  std::string path_;
  FileState state_ = FileState::kMissing;
  FileVersion version_;
  std::string error_;
  std::unique_ptr<Parsed> parsed_;
};

template <>
std::unique_ptr<RegFile> CachedSource<RegFile>::Parse(std::string bytes,
                                                      std::string* problem) {
  std::string text;
  if (!DecodeRegText(bytes, &text, problem)) {
    *problem += "; ignored";
    return nullptr;
  }
  auto parsed = std::make_unique<RegFile>(text);
  *problem = parsed->Problem();
  return parsed;
}

template <>
std::unique_ptr<MimeTypes> CachedSource<MimeTypes>::Parse(std::string bytes, std::string*) {
  return std::make_unique<MimeTypes>(std::move(bytes));
}

const RegFile* RegFileOf(RegistrySource source) {
  static CachedSource<RegFile> machine("registry file");
  static CachedSource<RegFile> user("registry file");
  auto& cache = source == RegistrySource::kUser ? user : machine;
  return cache.Get(RegistrySourcePath(source));
}

const MimeTypes* MimeTypeList() {
  static CachedSource<MimeTypes> types("MIME type list");
  return types.Get(RegistrySourcePath(RegistrySource::kMimeTypes));
}

}  // namespace

RegistryKey LoadRegistryKey(Hive hive, const std::string& path) {
  RegistryKey key;
  KeyMerger merger(&key);
  if (hive == Hive::kClassesRoot) {
    if (const MimeTypes* types = MimeTypeList()) types->Merge(path, &merger);
  }
  RegistrySource source =
      hive == Hive::kCurrentUser ? RegistrySource::kUser : RegistrySource::kMachine;
  if (const RegFile* file = RegFileOf(source)) file->Merge(hive, path, &merger);
  return key;
}

}  // namespace postrunner
