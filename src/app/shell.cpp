#include "app/shell.h"

#include "app/save_folder.h"

namespace folivex {

void ExitCleanup() { ReleaseSaveFolder(); }

}  // namespace folivex
