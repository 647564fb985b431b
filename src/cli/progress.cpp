#include "cli/progress.h"

#include <cstdio>

#include "cli/terminal_text.h"
#include "platform/terminal.h"

namespace folivex {

ProgressPrinter::ProgressPrinter(std::string book, int total, bool live, bool quiet)
    : book_(std::move(book)),
      total_(total),
      live_(live),
      quiet_(quiet),
      start_(std::chrono::steady_clock::now()) {}

std::string ProgressPrinter::Duration(double seconds) {
  if (seconds < 0) seconds = 0;
  const long long s = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

void ProgressPrinter::Print(const std::string& line) {
  if (live_ && line_open_) {
    WriteTerminal(TerminalStream::Err, "\r\x1b[K");
    line_open_ = false;
  }
  WriteTerminal(TerminalStream::Err, line + "\n");
}

void ProgressPrinter::PageFinished(const PageOutcome& outcome, int finished) {
  if (outcome.status == PageStatus::Failed) {
    // Failures are errors: they are told even when quiet.
    Print("  page " + std::to_string(outcome.page) + " failed after " +
          std::to_string(outcome.attempts) + (outcome.attempts == 1 ? " attempt: " : " attempts: ") +
          (outcome.failure ? TerminalSafe(Describe(*outcome.failure)) : std::string("unknown")));
  }
  if (quiet_) return;

  const auto now = std::chrono::steady_clock::now();
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double rate = elapsed > 0 ? finished / elapsed : 0;
  const bool last = finished >= total_;
  if (live_) {
    // Redraw at most ten times a second, and always for the last page.
    if (!last && now - last_draw_ < std::chrono::milliseconds(100)) return;
    last_draw_ = now;
    char numbers[128];
    std::snprintf(numbers, sizeof numbers, " %d/%d pages  %.1f pages/s  %s left", finished, total_,
                  rate, rate > 0 ? Duration((total_ - finished) / rate).c_str() : "?");
    WriteTerminal(TerminalStream::Err, "\r\x1b[K" + book_ + numbers);
    line_open_ = true;
    return;
  }
  // In a log: a line at every tenth of the book.
  const int tenth = total_ > 0 ? static_cast<int>(10LL * finished / total_) : 10;
  if (tenth > last_tenth_ || last) {
    last_tenth_ = tenth;
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, ": %d/%d pages, %.1f pages/s", finished, total_, rate);
    Print(book_ + numbers);
  }
}

void ProgressPrinter::Finish() {
  if (live_ && line_open_) {
    WriteTerminal(TerminalStream::Err, "\n");
    line_open_ = false;
  }
}

}  // namespace folivex
