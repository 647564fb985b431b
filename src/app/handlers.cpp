#include "app/handlers.h"

#include "app/window_analysis.h"
#include "app/main_window.h"
#include "app/download_button.h"
#include "platform/services.h"
#include "text/text.h"

namespace folivex {

void OnHomePageClicked() {
  OpenInBrowser(ConcatText("http://", kSiteHost, "/explore/"));
}

void OnBookUrlDoubleClicked() { AnalyzeBook(); }

// The window stays usable: the launcher and its worker run on their own
// threads, and every click starts one more download.
void OnDownloadClicked() { StartThread(&LaunchDownload, 0); }

}  // namespace folivex
