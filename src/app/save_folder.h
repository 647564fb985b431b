// The folder the pages of the analysed book are saved into: written by book
// analysis on the GUI thread, read by page workers for every page.
//
// The value is an immutable text behind a shared pointer. A replacement
// swaps the pointer under a mutex and a read copies it under the same
// mutex, so a reader always holds the old or the new value whole, and a
// value stays alive for as long as any reader still holds it.
#pragma once

#include "text/text.h"

namespace folivex {

// The current save folder, ending with the path separator; empty before
// the first analysis.
Text SaveFolder();
void ReplaceSaveFolder(Text folder);
// Releases the value at exit. Workers that still hold a copy keep theirs.
void ReleaseSaveFolder();

}  // namespace folivex
