#include "download/page_download.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "image/image_format.h"

namespace folivex {
namespace {

// The folder part of a page path: everything up to its last separator.
Text FolderOf(const Text& path) {
  const std::size_t cut = path.rfind(PathSeparator());
  return cut == Text::npos ? Text() : path.substr(0, cut + PathSeparator().size());
}

// Removes the temporary files that interrupted runs left in `folder`; those
// of runs still writing stay.
void RemoveLeftovers(const Text& folder) { RemoveLeftoverTemporaries(folder); }

// The page path with `extension` in place of its own: the extension
// starts at the last dot of the file name.
Text WithExtension(const Text& path, std::string_view extension) {
  const std::size_t dot = path.rfind('.');
  const std::size_t separator = path.find_last_of("/\\");
  const bool has_extension = dot != Text::npos && (separator == Text::npos || dot > separator);
  return ConcatText(has_extension ? std::string_view(path).substr(0, dot) : std::string_view(path),
                    ".", extension);
}

// A complete picture of the page on disk under any picture extension, the
// target's own first; checked in chunks, so a resume does not read every
// kept page whole. Empty when there is none.
Text CompletePageOnDisk(const Text& path) {
  if (ScanImageFile(path).complete) return path;
  for (const char* extension : kImageExtensions) {
    const Text other = WithExtension(path, extension);
    if (other != path && ScanImageFile(other).complete) return other;
  }
  return Text();
}

// Removes the page's files under the other picture extensions.
void RemoveOtherPictures(const Text& saved) {
  for (const char* extension : kImageExtensions) {
    const Text other = WithExtension(saved, extension);
    if (other != saved && FileExists(other)) RemoveFile(other);
  }
}

}  // namespace

std::optional<Failure> RejectPage(const FetchResult& fetched) {
  if (fetched.failure) return fetched.failure;
  if (fetched.status < 200 || fetched.status > 299) {
    return Failure{FailureKind::HttpStatus, {}, fetched.status};
  }
  if (fetched.body.empty()) return Failure{FailureKind::EmptyBody, "the server sent an empty body"};
  if (SniffImage(fetched.body) == ImageKind::None) {
    return Failure{FailureKind::NotImage, "the server sent something that is not an image"};
  }
  if (!IsCompleteImage(fetched.body)) return Failure{FailureKind::IncompleteImage, "the image is cut short"};
  return std::nullopt;
}

std::string FailedPagesText(const DownloadReport& report, std::size_t max_pages, std::string_view open,
                            std::string_view close, std::string_view between) {
  struct Group {
    std::string reason;
    std::vector<int> pages;
  };
  std::vector<Group> groups;
  for (const PageOutcome& o : report.outcomes) {
    if (o.status != PageStatus::Failed) continue;
    const std::string reason = o.failure ? ShortReason(*o.failure) : "failed";
    auto group = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.reason == reason; });
    if (group == groups.end()) group = groups.insert(groups.end(), Group{reason, {}});
    group->pages.push_back(o.page);
  }
  std::string text;
  std::size_t listed = 0;
  for (const Group& group : groups) {
    if (listed >= max_pages) return text + "...";
    if (!text.empty()) text += between;
    // Runs of consecutive pages read as ranges: "13-15".
    std::size_t i = 0;
    bool first = true;
    while (i < group.pages.size()) {
      std::size_t j = i;
      while (j + 1 < group.pages.size() && group.pages[j + 1] == group.pages[j] + 1) ++j;
      if (listed >= max_pages) {
        text += ", ...";
        break;
      }
      text += (first ? "" : ", ") + std::to_string(group.pages[i]);
      if (j > i) text += (j == i + 1 ? ", " : "-") + std::to_string(group.pages[j]);
      listed += j - i + 1;
      first = false;
      i = j + 1;
    }
    text += std::string(open) + group.reason + std::string(close);
  }
  return text;
}

std::vector<int> PageRange(int count) {
  std::vector<int> pages;
  for (int n = 1; n >= 1 && n <= count; ++n) pages.push_back(n);
  return pages;
}

bool DownloadStop::Stop(std::chrono::milliseconds bound) {
  {
    std::lock_guard guard(pages_lock_);
    draining_ = true;
    stopped_ = true;
  }
  *cancel_ = true;
  changed_.notify_all();
  // Writers hold the lock shared while they check the flag and write: once
  // it is held here, none is writing, and every later one sees the flag.
  std::unique_lock lock(writing_, std::defer_lock);
  return lock.try_lock_for(bound);
}

bool DownloadStop::Drain(std::chrono::milliseconds grace, std::chrono::milliseconds write_bound) {
  {
    std::unique_lock lock(pages_lock_);
    draining_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, grace, [&] { return in_flight_ == 0; });
  }
  return Stop(write_bound);
}

bool DownloadStop::BeginPage() {
  std::lock_guard guard(pages_lock_);
  if (draining_) return false;
  ++in_flight_;
  return true;
}

void DownloadStop::EndPage() {
  {
    std::lock_guard guard(pages_lock_);
    --in_flight_;
  }
  changed_.notify_all();
}

bool DownloadStop::PauseUnlessDraining(std::chrono::milliseconds pause) {
  std::unique_lock lock(pages_lock_);
  return !changed_.wait_for(lock, pause, [&] { return draining_.load(); });
}

bool DownloadStop::WriteUnlessStopped(const std::function<void()>& write) {
  std::shared_lock lock(writing_);
  if (stopped_) return false;
  write();
  return true;
}

DownloadReport DownloadBook(const std::vector<int>& pages, const DownloadSettings& settings,
                            const PageTargetFor& target_for, const PageFinished& on_finished) {
  DownloadReport report;
  std::mutex lock;  // guards the report, the cleaned folders and the callback
  std::set<Text> cleaned;
  int finished = 0;
  std::atomic<std::size_t> next{0};

  const Failure stopped{FailureKind::Stopped, {}};
  // A stopped download's transfers give up instead of running to their end.
  FetchOptions fetch = settings.fetch;
  if (settings.stop && !fetch.cancel) fetch.cancel = settings.stop->CancelFlag();
  struct PageInFlight {
    DownloadStop* stop;
    ~PageInFlight() {
      if (stop) stop->EndPage();
    }
  };
  auto one_page = [&](int n) {
    PageOutcome outcome;
    outcome.page = n;
    // A page that never starts keeps 0 attempts.
    if (settings.stop && !settings.stop->BeginPage()) {
      outcome.failure = stopped;
      return outcome;
    }
    const PageInFlight in_flight{settings.stop};
    const PageTarget target = target_for(n);
    {
      const Text folder = FolderOf(target.path);
      std::lock_guard guard(lock);
      if (cleaned.insert(folder).second) RemoveLeftovers(folder);
    }
    if (settings.keep_complete) {
      const Text kept = CompletePageOnDisk(target.path);
      if (!kept.empty()) {
        outcome.status = PageStatus::Kept;
        outcome.path = kept;
        return outcome;
      }
    }
    const int attempts = std::max(1, settings.attempts);
    std::chrono::milliseconds pause = settings.retry_pause;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
      outcome.attempts = attempt;
      const bool reuse = attempt == 1 && settings.prefetched && settings.prefetched->first == target.address;
      const FetchResult fetched = reuse ? settings.prefetched->second : Fetch(target.address, fetch);
      outcome.failure = RejectPage(fetched);
      if (!outcome.failure) {
        const Text path = WithExtension(target.path, ImageExtension(SniffImage(fetched.body)));
        FileResult written;
        const auto write = [&] { written = WriteFileAtomically(path, fetched.body); };
        if (settings.stop && !settings.stop->WriteUnlessStopped(write)) {
          outcome.failure = stopped;
          return outcome;
        }
        if (!settings.stop) write();
        if (written.ok) {
          RemoveOtherPictures(path);
          outcome.status = PageStatus::Saved;
          outcome.bytes = fetched.body.size();
          outcome.path = path;
          return outcome;
        }
        // A folder that cannot be written does not heal by asking again.
        outcome.failure = Failure{written.kind, written.error};
        return outcome;
      }
      if (!Retryable(*outcome.failure) || attempt == attempts) break;
      std::chrono::milliseconds wait = pause;
      if (fetched.retry_after_s) {
        wait = std::min<std::chrono::milliseconds>(std::chrono::seconds(*fetched.retry_after_s),
                                                   settings.max_retry_after);
      }
      if (!settings.stop) {
        std::this_thread::sleep_for(wait);
      } else if (!settings.stop->PauseUnlessDraining(wait)) {
        outcome.failure = stopped;
        return outcome;
      }
      pause *= 2;
    }
    return outcome;
  };

  auto worker = [&] {
    for (;;) {
      const std::size_t index = next.fetch_add(1);
      if (index >= pages.size()) return;
      PageOutcome outcome = one_page(pages[index]);
      std::lock_guard guard(lock);
      ++finished;
      report.outcomes.push_back(outcome);
      if (on_finished) on_finished(outcome, finished);
    }
  };

  const int threads = std::clamp(settings.threads, 1, kMaxThreads);
  const std::size_t helpers = std::min<std::size_t>(static_cast<std::size_t>(threads), pages.size());
  if (helpers <= 1) {
    worker();  // one page after the other, on the caller's thread
  } else {
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (std::size_t i = 0; i < helpers; ++i) pool.emplace_back(worker);
    for (std::thread& t : pool) t.join();
  }

  std::sort(report.outcomes.begin(), report.outcomes.end(),
            [](const PageOutcome& a, const PageOutcome& b) { return a.page < b.page; });
  for (const PageOutcome& o : report.outcomes) {
    (o.status == PageStatus::Saved ? report.saved
     : o.status == PageStatus::Kept ? report.kept
                                    : report.failed)
        .push_back(o.page);
  }
  return report;
}

}  // namespace folivex
