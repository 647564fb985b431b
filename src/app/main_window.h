// The program's one window: its title, size, controls with their places,
// default texts and looks, and the events it answers.
#pragma once

#include "app/controls.h"

namespace folivex {

// The site whose books the program saves.
inline constexpr const char* kSiteHost = "www.folivex.com";

// `MainWindow`: built afresh on every call, texts in code page 936.
WindowSpec MainWindowSpec();

}  // namespace folivex
