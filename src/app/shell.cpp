#include "app/shell.h"

#include "app/download_button.h"
#include "app/save_folder.h"

namespace folivex {

void ExitCleanup() {
  // The process ends right after: pages in flight are abandoned rather
  // than left as temporaries beside the whole ones.
  StopWindowDownloads(std::chrono::seconds(5));
  ReleaseSaveFolder();
}

}  // namespace folivex
