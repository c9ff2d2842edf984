#include "registry/registry_store.h"

#include <initializer_list>
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
  // Looks over a freshly parsed version and reports what it finds odd.
  using Checker = void (*)(const std::string& path, const Parsed& parsed);

  // `what` names the kind of file in reports ("registry file"); `check`, when
  // given, sees each version once.
  explicit CachedSource(const char* what, Checker check = nullptr)
      : what_(what), check_(check) {}

  // The file the last Get read; "" before the first.
  const std::string& path() const { return path_; }

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
    if (parsed_ && check_) check_(path_, *parsed_);
  }

  static std::unique_ptr<Parsed> Parse(std::string bytes, std::string* problem);

  void Report(const std::string& text) const {
    PrintReason(std::string(what_) + " " + path_ + " " + text);
  }

  const char* what_;
  Checker check_;
  bool loaded_ = false;
  std::string path_;
  FileState state_ = FileState::kMissing;
  FileVersion version_;
  std::string error_;
  std::unique_ptr<Parsed> parsed_;
};

// The bytes come by value for the signature all sources share: the
// MimeTypes source keeps them by moving them.
template <>
std::unique_ptr<RegFile> CachedSource<RegFile>::Parse(
    std::string bytes,  // NOLINT(performance-unnecessary-value-param): see above
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

// Warns, naming file and line, about each section of a hive that `file`
// does not hold: the program never reads it there.
void ReportSectionsOutside(const std::string& path, const RegFile& file,
                           std::initializer_list<Hive> held, const char* holds) {
  for (const RegFile::NamedLine& section : file.SectionsOutside(held)) {
    PrintReason(path + ":" + std::to_string(section.line) + ": section [" + section.name +
                "] is ignored: " + holds);
  }
}

void CheckMachineFile(const std::string& path, const RegFile& file) {
  ReportSectionsOutside(path, file, {Hive::kLocalMachine, Hive::kClassesRoot},
                        "the machine registry file holds only HKEY_LOCAL_MACHINE and "
                        "HKEY_CLASSES_ROOT keys");
}

void CheckUserFile(const std::string& path, const RegFile& file) {
  ReportSectionsOutside(path, file, {Hive::kCurrentUser},
                        "the user registry file holds only HKEY_CURRENT_USER keys");
}

CachedSource<RegFile>& RegFileCache(RegistrySource source) {
  static CachedSource<RegFile> machine("registry file", CheckMachineFile);
  static CachedSource<RegFile> user("registry file", CheckUserFile);
  return source == RegistrySource::kUser ? user : machine;
}

const RegFile* RegFileOf(RegistrySource source) {
  return RegFileCache(source).Get(RegistrySourcePath(source));
}

RegistrySource SourceOf(Hive hive) {
  return hive == Hive::kCurrentUser ? RegistrySource::kUser : RegistrySource::kMachine;
}

const MimeTypes* MimeTypeList() {
  static CachedSource<MimeTypes> types("MIME type list");
  return types.Get(RegistrySourcePath(RegistrySource::kMimeTypes));
}

}  // namespace

RegistrySnapshot::RegistrySnapshot(Hive hive) : hive_(hive) {
  if (hive == Hive::kClassesRoot) types_ = MimeTypeList();
  file_ = RegFileOf(SourceOf(hive));
}

RegistryKey RegistrySnapshot::Load(const std::string& path) const {
  RegistryKey key;
  KeyMerger merger(&key);
  if (types_ != nullptr) types_->Merge(path, &merger);
  if (file_ != nullptr) file_->Merge(hive_, path, &merger);
  return key;
}

RegistryKey LoadRegistryKey(Hive hive, const std::string& path) {
  return RegistrySnapshot(hive).Load(path);
}

std::vector<RegValueLine> LoadValueLines(Hive hive, const std::string& path) {
  std::vector<RegValueLine> lines;
  const RegFile* file = RegFileOf(SourceOf(hive));
  if (file == nullptr) return lines;
  const std::string& file_path = RegFileCache(SourceOf(hive)).path();
  for (RegFile::NamedLine& value : file->ValueLines(hive, path)) {
    lines.push_back({file_path, value.line, std::move(value.name)});
  }
  return lines;
}

}  // namespace postrunner
