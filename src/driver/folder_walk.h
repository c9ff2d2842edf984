// Folder walk: adds the files of a folder, and with `recurse` its
// sub-folders, to an archive being written. Entries are taken in the order
// the directory search gives them (names compared case-insensitively); each
// sub-folder's folder entry comes before its contents. Entry names are
// relative to the top folder. Anything that is neither a regular file nor a
// folder, the archive file itself, and a folder already being walked higher
// up (a link loop) are left out.
#ifndef POSTRUNNER_DRIVER_FOLDER_WALK_H_
#define POSTRUNNER_DRIVER_FOLDER_WALK_H_

#include <string>

#include "zip/archive.h"

namespace postrunner {

// Adds the entries of `folder` (a path exactly as on disk; '/' separates
// folders) under `prefix` ("" for the top folder), printing "Adding file
// <name>" before each file. Folders are opened relative to their parent, so
// depth is no limit. Returns true when every file meant to go in was added,
// false, with the reason printed (naming `archive_name` for a failed write),
// at the first file or folder that could not be read or added. A top
// folder that is missing, is no folder or cannot be opened fails like any
// other folder; an empty one adds nothing and succeeds. `threads` is the
// number of compressing threads (0 = one per online CPU; never more than
// the online CPUs); output and result are the same for every count.
[[nodiscard]]
bool AddFolderToArchive(ArchiveHandle* handle, const std::string& folder, bool recurse,
                        const std::string& prefix, const std::string& archive_name,
                        unsigned threads);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_FOLDER_WALK_H_
