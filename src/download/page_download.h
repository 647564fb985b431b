// Fetching a book's page images and saving them as numbered files, several
// at once, each page checked, retried and written whole or not at all.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <functional>
#include <shared_mutex>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "platform/services.h"
#include "text/text.h"

namespace folivex {

inline constexpr int kMaxThreads = 32;
inline constexpr int kDefaultThreads = 10;
inline constexpr int kDefaultAttempts = 3;
// The longest pause a server's Retry-After may ask for; a longer one is
// cut to this so a book does not stall for hours on one page.
inline constexpr std::chrono::seconds kMaxRetryAfter{30};
// No real book has more pages; a larger count is a broken or hostile page,
// and is cut to this so a download stays finite.
inline constexpr int kMaxPages = 100000;

// Ends downloads early from another thread: at once when the window
// closes, gently when the user interrupts a command-line run. Once Stop or
// Drain has returned true no page of these downloads is being written or
// will be, so no temporary file of theirs is left behind.
class DownloadStop {
 public:
  // Asks every download given this to stop: pages not yet written are
  // abandoned and their transfers give up. Waits up to `bound` for the
  // pages being written to be finished; false when a write still runs then.
  bool Stop(std::chrono::milliseconds bound);
  // No page starts, nor is asked again, from now on; the pages in flight
  // have up to `grace` to arrive and be written. Then as Stop(write_bound).
  bool Drain(std::chrono::milliseconds grace, std::chrono::milliseconds write_bound);
  // True from the first call of Drain or Stop on.
  bool Draining() const { return draining_; }
  // Runs `write` unless the downloads were stopped; false when they were.
  bool WriteUnlessStopped(const std::function<void()>& write);

  // Counts a page in flight, so Drain knows when none is left; false, and
  // nothing counted, once draining. Every true is followed by EndPage.
  bool BeginPage();
  void EndPage();
  // Sleeps for `pause` unless the downloads are drained or stopped first;
  // false when they were.
  bool PauseUnlessDraining(std::chrono::milliseconds pause);
  // The flag this stop raises for transfers to give up (FetchOptions::cancel).
  std::shared_ptr<const std::atomic<bool>> CancelFlag() const { return cancel_; }

 private:
  std::atomic<bool> draining_{false};
  std::atomic<bool> stopped_{false};
  const std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);
  std::mutex pages_lock_;
  std::condition_variable changed_;  // a page ended, or draining began
  int in_flight_ = 0;
  std::shared_timed_mutex writing_;
};

struct DownloadSettings {
  int threads = 1;            // pages in flight at once, 1..kMaxThreads
  // Fetches of one page before it counts as failed; only failures that can
  // heal (see Retryable) are asked again.
  int attempts = kDefaultAttempts;
  // The pause before the second attempt; it doubles for every further one.
  // A Retry-After from the server replaces it, up to kMaxRetryAfter.
  std::chrono::milliseconds retry_pause{400};
  std::chrono::seconds max_retry_after = kMaxRetryAfter;
  FetchOptions fetch;
  // Keep a page already on disk when it is a complete image (a rerun
  // resumes); otherwise every page is fetched again and replaced.
  bool keep_complete = false;
  // A page fetched already (the cover is page 1): when a page's address is
  // this one, its first attempt uses these bytes instead of a request.
  std::optional<std::pair<Text, FetchResult>> prefetched;
  // When set (and outliving the download), stops it early; its fetches
  // then watch the stop's cancel flag.
  DownloadStop* stop = nullptr;
};

// Where page n comes from and where it goes. Asked afresh for every page,
// so an analysis during a download sends the remaining pages to the new
// book's address and folder.
struct PageTarget {
  Text address;
  // The page file, "<folder>/<n>.jpg". The picture is saved under the
  // extension of its real format instead (n.webp, n.png): the name tells
  // what the file holds, whatever the address said.
  Text path;
};
using PageTargetFor = std::function<PageTarget(int page)>;

enum class PageStatus { Saved, Kept, Failed };

struct PageOutcome {
  int page = 0;
  PageStatus status = PageStatus::Failed;
  int attempts = 0;
  std::optional<Failure> failure;  // why it failed (Failed only)
  std::size_t bytes = 0;
  Text path;  // the page's file, saved or kept; empty when it failed

  // Failed because the download was stopped: the page is still to come.
  // With 0 attempts it never started.
  bool Stopped() const { return failure && failure->kind == FailureKind::Stopped; }
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
// removed. With keep_complete a page counts as there when a complete
// picture is on disk under its number with any picture extension. A saved
// page replaces its files of other picture extensions, so one number never
// names two pictures.
DownloadReport DownloadBook(const std::vector<int>& pages, const DownloadSettings& settings,
                            const PageTargetFor& target_for, const PageFinished& on_finished);

// Why a fetched body cannot be saved as a page image; empty when it can.
std::optional<Failure> RejectPage(const FetchResult& fetched);

// The failed pages of a report grouped by their short reason, groups in the
// order of their first page: "3, 13-15 (404); 6 (not an image)". At most
// `max_pages` numbers are listed, then "…". `open` and `close` go around
// each reason, `between` between groups, so the window can use its own
// punctuation.
std::string FailedPagesText(const DownloadReport& report, std::size_t max_pages,
                            std::string_view open = " (", std::string_view close = ")",
                            std::string_view between = "; ");

// Pages 1..count (none when count < 1).
std::vector<int> PageRange(int count);

}  // namespace folivex
