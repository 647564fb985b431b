// One book of a folivex-dl run, from its address to its pages on disk (and
// its PDF): what the run prints of it and what the report records.
#pragma once

#include <string>

#include "cli/options.h"
#include "cli/progress.h"
#include "cli/run_report.h"
#include "download/page_download.h"
#include "platform/services.h"

namespace folivex {

struct BookJob {
  const CliOptions& options;
  const FetchOptions& fetch;  // the run's, shared by every book
  const Text& output_root;    // code page 936, no trailing separator
  RunProgress& progress;
  DownloadStop& stop;         // the user's interrupt; the book winds down with it
};

// The book at `url`: its page is analysed, and only a book that can be
// downloaded gets a folder; then its pages are saved there. Once the user
// has interrupted the run, a book not yet at its pages is not started.
BookRecord RunBook(const BookJob& job, const std::string& url);

}  // namespace folivex
