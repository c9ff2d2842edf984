// Placeholder until the folder walk lands: nothing can be added.
#include "driver/folder_walk.h"

namespace postrunner {

bool AddFolderToArchive(ArchiveHandle*, const std::string&, bool,
                        const std::string&) {
  return false;
}

}  // namespace postrunner
