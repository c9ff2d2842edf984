#include "driver/folder_walk.h"

#include <sys/types.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/console.h"
#include "platform/directory_search.h"

namespace postrunner {
namespace {

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const Identity&) const = default;
};

struct Walk {
  ArchiveHandle* handle = nullptr;
  bool recurse = false;
  bool has_archive = false;
  Identity archive;
  std::vector<Identity> ancestors;  // folders being walked, top first
};

bool WalkFolder(Walk* walk, const std::string& folder, const std::string& prefix) {
  if (!prefix.empty()) {
    // A folder entry that cannot be added does not stop the walk.
    ArchiveAddEntry(walk->handle, prefix.c_str(), nullptr, 0, SourceFolder);
  }
  std::vector<DirEntry> entries;
  if (!ListFolder(folder, &entries)) return true;
  for (const DirEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    std::string name = prefix.empty() ? entry.name : prefix + "/" + entry.name;
    Identity id{entry.device, entry.inode};
    if (entry.attributes & (kAttrFolder | kAttrSystem)) {
      if (!(entry.attributes & kAttrFolder) || !walk->recurse) continue;
      // A link back to a folder being walked would never end.
      if (std::find(walk->ancestors.begin(), walk->ancestors.end(), id) !=
          walk->ancestors.end()) {
        continue;
      }
      walk->ancestors.push_back(id);
      bool ok = WalkFolder(walk, folder + entry.name + "/", name);
      walk->ancestors.pop_back();
      if (!ok) return false;
      continue;
    }
    if (walk->has_archive && id == walk->archive) continue;
    PrintLine("Adding file " + entry.name);
    std::string path = folder + entry.name;
    if (ArchiveAddEntry(walk->handle, name.c_str(), path.c_str(), 0, SourceFileName) !=
        ResultOk) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool AddFolderToArchive(ArchiveHandle* handle, const std::string& folder, bool recurse,
                        const std::string& prefix) {
  Walk walk;
  walk.handle = handle;
  walk.recurse = recurse;
  walk.has_archive = ArchiveOutputIdentity(handle, &walk.archive.device, &walk.archive.inode);
  // Both '/' and '\\' separate folders in the paths users give.
  std::string top_folder = folder;
  std::replace(top_folder.begin(), top_folder.end(), '\\', '/');
  if (!top_folder.empty() && top_folder.back() != '/') top_folder += '/';
  Identity top;
  if (FileIdentity(top_folder.empty() ? "." : top_folder, &top.device, &top.inode)) {
    walk.ancestors.push_back(top);
  }
  return WalkFolder(&walk, top_folder, prefix);
}

}  // namespace postrunner
