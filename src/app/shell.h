// Shutdown of the GUI program. The one value shared by the GUI thread and
// the page workers, `SaveFolder`, lives with book analysis, which writes it
// (app/save_folder.h); here it is released at the end.
#pragma once

namespace folivex {

// Runs once after the message loop has ended: stops the window's downloads
// (waiting up to 5 s for pages being written, so none is left half written)
// and releases `SaveFolder`. A page worker still running afterwards keeps
// the copy it holds and reads an empty folder next.
void ExitCleanup();

}  // namespace folivex
