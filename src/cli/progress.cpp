#include "cli/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/terminal_text.h"

namespace folivex {
namespace {

// The rate is taken over this last stretch, so it follows the network
// rather than the whole run's average.
constexpr auto kRateWindow = std::chrono::seconds(5);
// The live line is redrawn at most this often.
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
// Without a width from the terminal the line assumes the classic one.
constexpr int kDefaultColumns = 80;

std::string Bar(double fraction, int width) {
  const int full = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * width);
  return "[" + std::string(static_cast<std::size_t>(full), '#') +
         std::string(static_cast<std::size_t>(width - full), '-') + "]";
}

}  // namespace

std::size_t RunFigures::BooksWaiting() const {
  const std::size_t placed = books_done + books_open + books_stopped;
  return books > placed ? books - placed : 0;
}

std::optional<long long> RunFigures::PagesExpected() const {
  const std::size_t waiting = BooksWaiting();
  if (waiting > 0 && books_counted == 0) return std::nullopt;
  const double average =
      books_counted > 0 ? static_cast<double>(pages_counted) / static_cast<double>(books_counted) : 0;
  return std::max(pages_done, pages_closed + pages_stopped + pages_open + std::llround(average * static_cast<double>(waiting)));
}

std::string Duration(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  seconds = std::min(seconds, 359999.0);  // 99:59:59 at most: a guess, not a promise
  const long long s = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

std::string Rate(double bytes_per_second) {
  char text[32];
  if (!(bytes_per_second >= 0)) bytes_per_second = 0;
  if (bytes_per_second < 1024) {
    std::snprintf(text, sizeof text, "%.0f B/s", bytes_per_second);
  } else if (bytes_per_second < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB/s", bytes_per_second / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB/s", bytes_per_second / (1024 * 1024));
  }
  return text;
}

std::string LiveLine(const RunFigures& f, int columns) {
  const std::optional<long long> expected = f.PagesExpected();
  const bool exact = f.BooksWaiting() == 0;
  const double fraction = expected && *expected > 0 ? static_cast<double>(f.pages_done) / static_cast<double>(*expected)
                          : f.books > 0 && f.books_done >= f.books ? 1.0
                                                                   : 0.0;
  std::string rest;
  char percent[16];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
  rest += percent;
  if (f.books > 1) rest += "  " + std::to_string(f.books_done) + "/" + std::to_string(f.books) + " books";
  rest += "  " + std::to_string(f.pages_done);
  if (expected) rest += std::string(exact ? "/" : "/~") + std::to_string(*expected);
  rest += " pages  " + Rate(f.bytes_per_second) + "  ";
  if (f.stopping) {
    rest += "stopping";
  } else if (expected && f.pages_per_second > 0) {
    rest += Duration(static_cast<double>(*expected - f.pages_done) / f.pages_per_second) + " left";
  } else {
    rest += "? left";
  }
  const int room = std::max(columns, 2) - 1;
  // The bar takes what the numbers leave, between 10 and 30 cells.
  const int bar = std::clamp(room - static_cast<int>(rest.size()) - 4, 10, 30);
  std::string line = Bar(fraction, bar) + "  " + rest;
  if (!f.title.empty()) line = f.title + "  " + line;
  return std::string(CutToWidth(line, static_cast<std::size_t>(room)));
}

RunProgress::RunProgress(std::size_t books, bool live, bool quiet, Writer write, Columns columns)
    : write_(write ? std::move(write) : [](TerminalStream stream, std::string_view text) { WriteTerminal(stream, text); }),
      columns_(columns ? std::move(columns) : [] { return TerminalColumns(TerminalStream::Err); }),
      live_(live && !quiet),
      quiet_(quiet),
      start_(Clock::now()) {
  figures_.books = books;
}

void RunProgress::ClearLine() {
  if (drawn_width_ == 0) return;
  write_(TerminalStream::Err, "\r" + std::string(drawn_width_, ' ') + "\r");
  drawn_width_ = 0;
}

void RunProgress::Print(TerminalStream stream, std::string_view line) {
  ClearLine();
  std::string text(line);
  text += '\n';
  write_(stream, text);
}

void RunProgress::Say(TerminalStream stream, std::string_view line) {
  std::lock_guard guard(lock_);
  Print(stream, line);
  Draw(true);
}

RunFigures RunProgress::Figures(Clock::time_point now) {
  samples_.emplace_back(now, bytes_);
  while (samples_.size() > 2 && now - samples_.front().first > kRateWindow) samples_.pop_front();
  RunFigures f = figures_;
  const double span = std::chrono::duration<double>(now - samples_.front().first).count();
  const double since_first = first_page_ ? std::chrono::duration<double>(now - *first_page_).count() : 0;
  if (span >= 0.5) {
    f.bytes_per_second = static_cast<double>(bytes_ - samples_.front().second) / span;
  } else if (since_first > 0) {
    f.bytes_per_second = static_cast<double>(bytes_) / since_first;
  }
  if (since_first > 0) f.pages_per_second = static_cast<double>(f.pages_done) / since_first;
  return f;
}

void RunProgress::Draw(bool now_or_never) {
  if (!live_ || finished_) return;
  const Clock::time_point now = Clock::now();
  if (!now_or_never && now - last_draw_ < kRedrawEvery) return;
  last_draw_ = now;
  const std::string line = LiveLine(Figures(now), columns_().value_or(kDefaultColumns));
  const std::size_t width = DisplayWidth(line);
  // Spaces cover what a longer line before left, without an escape
  // sequence, so the line works on any console.
  std::string text = "\r" + line;
  if (width < drawn_width_) text += std::string(drawn_width_ - width, ' ') + "\r" + line;
  write_(TerminalStream::Err, text);
  drawn_width_ = std::max<std::size_t>(width, 1);
}

int RunProgress::BookStarted(std::string_view name, int pages) {
  std::lock_guard guard(lock_);
  const int id = next_book_++;
  books_[id] = Book{TerminalSafeText(name), pages, 0, 0, Clock::now()};
  ++figures_.books_open;
  figures_.pages_open += pages;
  ++figures_.books_counted;
  figures_.pages_counted += pages;
  if (figures_.books == 1) figures_.title = books_[id].name;
  Draw(true);
  return id;
}

void RunProgress::PageFinished(int id, const PageOutcome& outcome) {
  std::lock_guard guard(lock_);
  const Clock::time_point now = Clock::now();
  // A page the user stopped is still to come, for a later run.
  if (outcome.Stopped()) return;
  if (!first_page_) first_page_ = now;
  ++figures_.pages_done;
  bytes_ += static_cast<long long>(outcome.bytes);
  const auto found = books_.find(id);
  if (found == books_.end()) return;
  Book& book = found->second;
  ++book.finished;
  if (outcome.status == PageStatus::Failed) {
    // In a run of several books the line names its book.
    Print(TerminalStream::Err, (figures_.books > 1 ? book.name + ": " : std::string("  ")) + "page " +
                                   std::to_string(outcome.page) + " failed after " +
                                   std::to_string(outcome.attempts) +
                                   (outcome.attempts == 1 ? " attempt: " : " attempts: ") +
                                   TerminalSafeText(outcome.failure ? Describe(*outcome.failure) : "unknown"));
  }
  if (quiet_) return;
  if (live_) {
    Draw(book.finished >= book.total);
    return;
  }
  // In a log: a line at every tenth of the book, and at its end.
  const int tenth = book.total > 0 ? static_cast<int>(10LL * book.finished / book.total) : 10;
  if (tenth > book.last_tenth || book.finished >= book.total) {
    book.last_tenth = tenth;
    const double elapsed = std::chrono::duration<double>(now - book.start).count();
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, ": %d/%d pages, %.1f pages/s", book.finished, book.total,
                  elapsed > 0 ? book.finished / elapsed : 0.0);
    Print(TerminalStream::Err, book.name + numbers);
  }
}

void RunProgress::BookFinished(int id, bool stopped) {
  std::lock_guard guard(lock_);
  const auto found = books_.find(id);
  if (found != books_.end()) {
    --figures_.books_open;
    figures_.pages_open -= found->second.total;
  }
  if (stopped) {
    // Its pages fetched so far stay done; the book waits for a later run.
    // One stopped before its pages still waits, at the average.
    if (found != books_.end()) {
      ++figures_.books_stopped;
      figures_.pages_closed += found->second.finished;
      figures_.pages_stopped += found->second.total - found->second.finished;
      books_.erase(found);
    }
    Draw(true);
    return;
  }
  ++figures_.books_done;
  if (found != books_.end()) {
    // A finished book counts at what it had, not at what was planned.
    figures_.pages_closed += found->second.finished;
    books_.erase(found);
  }
  Draw(true);
}

void RunProgress::Stopping() {
  std::lock_guard guard(lock_);
  figures_.stopping = true;
  Draw(true);
}

void RunProgress::Finish() {
  std::lock_guard guard(lock_);
  Draw(true);  // the final numbers stay on screen
  if (drawn_width_ > 0) write_(TerminalStream::Err, "\n");
  drawn_width_ = 0;
  finished_ = true;
}

}  // namespace folivex
