#include "run/output_path.h"

#include "archive/entry_path.h"
#include "platform/parent_directory.h"

namespace unpak {

bool CheckOutputPath(const std::string& archivePath, std::string* reason) {
  return CheckOutputPathForm(archivePath, reason) &&
         CheckParentLinks(NativePath(archivePath), reason);
}

}  // namespace unpak
