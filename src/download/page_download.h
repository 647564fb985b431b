// Fetching a book's page images and saving them as numbered files, several
// at once, each page checked, retried and written whole or not at all.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "platform/services.h"
#include "text/text.h"

namespace folivex {

inline constexpr int kMaxThreads = 32;
inline constexpr int kDefaultThreads = 10;
inline constexpr int kDefaultAttempts = 3;
// No real book has more pages; a larger count is a broken or hostile page,
// and is cut to this so a download stays finite.
inline constexpr int kMaxPages = 100000;

struct DownloadSettings {
  int threads = 1;            // pages in flight at once, 1..kMaxThreads
  int attempts = kDefaultAttempts;  // fetches of one page before it counts as failed
  // The pause before the second attempt; it doubles for every further one.
  std::chrono::milliseconds retry_pause{400};
  FetchOptions fetch;
  // Keep a page already on disk when it is a complete image (a rerun
  // resumes); otherwise every page is fetched again and replaced.
  bool keep_complete = false;
  // A page fetched already (the cover is page 1): when a page's address is
  // this one, its first attempt uses these bytes instead of a request.
  std::optional<std::pair<Text, FetchResult>> prefetched;
};

// Where page n comes from and where it goes. Asked afresh for every page,
// so an analysis during a download sends the remaining pages to the new
// book's address and folder.
struct PageTarget {
  Text address;
  Text path;
};
using PageTargetFor = std::function<PageTarget(int page)>;

enum class PageStatus { Saved, Kept, Failed };

struct PageOutcome {
  int page = 0;
  PageStatus status = PageStatus::Failed;
  int attempts = 0;
  std::string reason;  // why it failed, in UTF-8
  std::size_t bytes = 0;
};

struct DownloadReport {
  std::vector<int> saved, kept, failed;  // page numbers, ascending
  std::vector<PageOutcome> outcomes;     // one per page, ascending
  bool AllSaved() const { return failed.empty(); }
};

// Told of each page as it finishes, from the worker thread that did it;
// `finished` counts the pages done so far, this one included. Calls never
// overlap.
using PageFinished = std::function<void(const PageOutcome& outcome, int finished)>;

// Downloads the given pages. Before the first page is written into a
// folder, temporary files that an interrupted earlier run left there are
// removed.
DownloadReport DownloadBook(const std::vector<int>& pages, const DownloadSettings& settings,
                            const PageTargetFor& target_for, const PageFinished& on_finished);

// Why a fetched body cannot be saved as a page image; empty when it can.
std::string RejectPage(const FetchResult& fetched);

// Pages 1..count (none when count < 1).
std::vector<int> PageRange(int count);

}  // namespace folivex
