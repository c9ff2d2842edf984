// Folder walk: adds the files of a folder, and with `recurse` its
// sub-folders, to an archive being written.
#ifndef POSTRUNNER_DRIVER_FOLDER_WALK_H_
#define POSTRUNNER_DRIVER_FOLDER_WALK_H_

#include <string>

#include "zip/archive.h"

namespace postrunner {

// Adds the entries of `folder` (ending in '/' or '\\') under `prefix` ("" for
// the top folder). Returns true when every file meant to go in was added;
// false at the first file that could not be added.
bool AddFolderToArchive(ArchiveHandle* handle, const std::string& folder,
                        bool recurse, const std::string& prefix);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_FOLDER_WALK_H_
