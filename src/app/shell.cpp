#include "app/shell.h"

#include "analysis/save_folder.h"

namespace folivex {

void ExitCleanup() { ReleaseSaveFolder(); }

}  // namespace folivex
