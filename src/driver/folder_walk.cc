#include "driver/folder_walk.h"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <utility>
#include <vector>

#include "driver/archive_file.h"
#include "driver/thread_count.h"
#include "platform/console.h"
#include "platform/directory_search.h"
#include "platform/file_io.h"
#include "platform/file_names.h"
#include "platform/file_info.h"
#include "platform/scoped_fd.h"
#include "zip/parallel_entries.h"

namespace postrunner {
namespace {

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const Identity&) const = default;
};

struct Walk {
  ArchiveHandle* handle = nullptr;
  // Set when files are compressed on several threads: every step then
  // takes its turn through it, in walk order.
  ParallelEntries* parallel = nullptr;
  bool recurse = false;
  bool has_archive = false;
  Identity archive;
  std::string top;                  // the top folder as given, for reasons
  std::string archive_name;         // for reasons
  std::vector<Identity> ancestors;  // folders being walked, top first
};

// Runs `step` now, or at its turn when files are compressed on several
// threads. False when the walk must stop.
[[nodiscard]] bool Step(const Walk& walk, ParallelEntries::Action step) {
  return walk.parallel != nullptr ? walk.parallel->QueueAction(std::move(step)) : step();
}

// Runs `open` and returns its descriptor. When descriptors ran out while
// files queued ahead of their turn hold theirs, writes those first and
// tries once more. errno is open's.
[[nodiscard]] int OpenMakingRoom(const Walk& walk, const std::function<int()>& open) {
  int fd = open();
  if (fd >= 0 || walk.parallel == nullptr || (errno != EMFILE && errno != ENFILE)) return fd;
  const int error = errno;
  if (!walk.parallel->Finish()) {
    errno = error;
    return -1;
  }
  return open();
}

// Reports a folder that cannot be opened or read; the walk fails with it.
[[nodiscard]] bool FolderFailed(const Walk& walk, const std::string& prefix, int error) {
  std::string folder = walk.top + prefix;
  // The top folder is named as given, without the '/' the walk adds.
  if (prefix.empty() && folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string reason = folder + ": cannot read the folder: " + ErrnoText(error);
  // The walk fails with this report, whether or not the run had stopped already.
  (void)Step(walk, [reason] {
    PrintReason(reason);
    return false;
  });
  return false;
}

// Reports an entry that could not be added; the walk fails with it.
[[nodiscard]]
bool EntryFailed(const Walk& walk, const std::string& name, ArchiveResult result, int error) {
  if (result == ResultOk) return true;
  PrintArchiveFailure(result, error, walk.top + name, walk.archive_name);
  return false;
}

// Adds the file `entry` of `folder` as `name`.
[[nodiscard]]
bool AddFile(const Walk& walk, int folder, const DirEntry& entry, const std::string& name) {
  std::string line = "Adding file " + entry.name;
  if (!Step(walk, [line] {
        PrintLine(line);
        return true;
      })) {
    return false;
  }
  // Opened through the folder's descriptor, exactly as the folder names
  // it: however deep the folder lies, and whatever bytes the name holds.
  std::string path = DescriptorPath(folder, entry.name);
  if (walk.parallel == nullptr) {
    ArchiveResult r = ArchiveAddEntry(walk.handle, name.c_str(), path.c_str(), 0, SourceFileName);
    return EntryFailed(walk, name, r, ArchiveLastError(walk.handle));
  }
  // Opened now, while the folder is: the file's turn may come much later.
  ScopedFd file(OpenMakingRoom(walk, [&path] { return OpenRegularFile(path.c_str()); }));
  const int open_error = errno;
  return walk.parallel->QueueFile(name, std::move(file), entry.name, open_error,
                                  [&walk, name](ArchiveResult r, int error) {
                                    return EntryFailed(walk, name, r, error);
                                  });
}

[[nodiscard]] bool WalkFolder(Walk* walk, int folder, const std::string& prefix);

// Walks the sub-folder `entry` of `folder`, whose entry name is `name`.
[[nodiscard]]
bool WalkSubfolder(Walk* walk, int folder, const DirEntry& entry, const std::string& name) {
  ScopedFd sub(OpenMakingRoom(*walk, [folder, &entry] { return OpenFolderAt(folder, entry.name); }));
  if (!sub.valid()) return FolderFailed(*walk, name, errno);
  Identity id;
  if (!DescriptorIdentity(sub.get(), &id.device, &id.inode)) {
    return FolderFailed(*walk, name, errno);
  }
  // A link back to a folder being walked would never end.
  if (std::find(walk->ancestors.begin(), walk->ancestors.end(), id) != walk->ancestors.end()) {
    return true;
  }
  walk->ancestors.push_back(id);
  bool ok = WalkFolder(walk, sub.get(), name);
  walk->ancestors.pop_back();
  return ok;
}

bool WalkFolder(Walk* walk, int folder, const std::string& prefix) {
  if (!prefix.empty()) {
    // A folder entry that cannot be added fails the walk as a file does:
    // what follows would land in a broken archive.
    if (!Step(*walk, [walk, prefix] {
          ArchiveResult r =
              ArchiveAddEntry(walk->handle, prefix.c_str(), nullptr, 0, SourceFolder);
          return EntryFailed(*walk, prefix, r, errno);
        })) {
      return false;
    }
  }
  std::vector<DirEntry> entries;
  if (!ListFolderAt(folder, &entries)) return FolderFailed(*walk, prefix, errno);
  for (const DirEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    std::string name = prefix.empty() ? entry.name : prefix + "/" + entry.name;
    if (entry.attributes & (kAttrFolder | kAttrSystem)) {
      if (!(entry.attributes & kAttrFolder) || !walk->recurse) continue;
      if (!WalkSubfolder(walk, folder, entry, name)) return false;
      continue;
    }
    if (walk->has_archive && Identity{entry.device, entry.inode} == walk->archive) continue;
    if (!AddFile(*walk, folder, entry, name)) return false;
  }
  return true;
}

}  // namespace

bool AddFolderToArchive(ArchiveHandle* handle, const std::string& folder, bool recurse,
                        const std::string& prefix, const std::string& archive_name,
                        unsigned threads) {
  Walk walk;
  walk.handle = handle;
  walk.recurse = recurse;
  walk.has_archive = ArchiveOutputIdentity(handle, &walk.archive.device, &walk.archive.inode);
  walk.top = folder;
  walk.archive_name = archive_name.empty() ? std::string("the archive") : archive_name;
  if (!walk.top.empty() && walk.top.back() != '/' && walk.top.back() != '\\') walk.top += '/';
  RaiseOpenFileLimit();
  // A top folder that is missing or no folder (a mistyped path) fails the
  // walk, as one that cannot be opened does: an empty archive would hide it.
  ScopedFd top(OpenFolder(folder));
  if (!top.valid()) return FolderFailed(walk, prefix, errno);
  Identity id;
  if (DescriptorIdentity(top.get(), &id.device, &id.inode)) walk.ancestors.push_back(id);
  threads = CompressingThreads(threads);
  if (threads < 2) return WalkFolder(&walk, top.get(), prefix);
  ParallelEntries parallel(handle, threads);
  walk.parallel = &parallel;
  // The walk may stop early; what it queued before the failure still
  // takes its turn, the failure's report last.
  const bool walked = WalkFolder(&walk, top.get(), prefix);
  const bool finished = parallel.Finish();
  return walked && finished;
}

}  // namespace postrunner
