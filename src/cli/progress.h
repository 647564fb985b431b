// What folivex-dl tells the user while it runs. On a terminal one live line
// for the whole run (books, pages, a bar, the rate, the time left) stays at
// the bottom, and every other line is printed above it; in a log each book
// gets a plain line at every tenth of its pages.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "download/page_download.h"
#include "platform/terminal.h"

namespace folivex {

// The numbers the live line shows.
struct RunFigures {
  std::size_t books = 0;       // in the run
  std::size_t books_done = 0;  // finished, well or not
  std::size_t books_open = 0;  // fetching their pages now
  long long pages_done = 0;    // finished, well or not, unless stopped
  long long pages_closed = 0;  // of those, the pages of books done
  long long pages_open = 0;    // to fetch in all, in the books open
  // Books the user stopped on their way, and the pages they did not get.
  std::size_t books_stopped = 0;
  long long pages_stopped = 0;
  // Every book whose pages were counted so far, and their pages.
  std::size_t books_counted = 0;
  long long pages_counted = 0;
  double bytes_per_second = 0;  // lately
  double pages_per_second = 0;  // since the first page
  std::string title;            // the book of a one-book run; empty otherwise
  bool stopping = false;        // the user interrupted the run

  // Books whose pages are not yet counted.
  std::size_t BooksWaiting() const;
  // The pages the whole run is expected to have: those of the books done
  // and open, and the books waiting at the average so far. Nothing while
  // books wait and none was counted.
  std::optional<long long> PagesExpected() const;
};

// The live line for `figures`, at most `columns` - 1 columns wide so the
// cursor never wraps: "[#####-----]  38%  3/100 books  456/~1200 pages
// 2.3 MiB/s  0:12 left". The bar narrows on a narrow terminal; what does
// not fit is cut off at the end.
std::string LiveLine(const RunFigures& figures, int columns);

// "1:05", "12:00:09": a duration for people.
std::string Duration(double seconds);
// "512 B/s", "81.3 KiB/s", "2.3 MiB/s".
std::string Rate(double bytes_per_second);

class RunProgress {
 public:
  // Where the text goes; the terminal when none is given.
  using Writer = std::function<void(TerminalStream stream, std::string_view utf8)>;
  using Columns = std::function<std::optional<int>()>;
  using Clock = std::chrono::steady_clock;

  // `live`: standard error is a terminal to draw the live line on.
  // `columns`: its width now (it may change while the run goes on).
  RunProgress(std::size_t books, bool live, bool quiet, Writer write = {}, Columns columns = {});

  // A whole line (without its end) above the live line. Lines of several
  // threads never mix.
  void Say(TerminalStream stream, std::string_view line);
  // A book whose pages are about to be fetched: `name` as the server gave
  // it (shown through TerminalSafeText). Returns the number PageFinished
  // and BookFinished take.
  int BookStarted(std::string_view name, int pages);
  // From the worker that finished the page. A failure is told even when
  // quiet; pages the user stopped are not told one by one.
  void PageFinished(int book, const PageOutcome& outcome);
  // The book is over; `book` is -1 for one that never got to its pages.
  // A book the user `stopped` is not done: it counts as waiting, at the
  // pages it was to have.
  void BookFinished(int book, bool stopped = false);
  // The user interrupted the run: the line says so from now on.
  void Stopping();
  // Ends the live line; nothing is drawn after it.
  void Finish();

 private:
  struct Book {
    std::string name;  // terminal-safe
    int total = 0;
    int finished = 0;
    int last_tenth = 0;
    Clock::time_point start;
  };
  void Print(TerminalStream stream, std::string_view line);  // lock held
  void ClearLine();                                            // lock held
  void Draw(bool now);                                         // lock held
  RunFigures Figures(Clock::time_point now);                   // lock held

  std::mutex lock_;
  Writer write_;
  Columns columns_;
  bool live_, quiet_;
  RunFigures figures_;
  std::map<int, Book> books_;  // those under way only
  int next_book_ = 0;
  long long bytes_ = 0;
  Clock::time_point start_;
  std::optional<Clock::time_point> first_page_;
  // Recent (time, bytes so far) pairs for the rate of the last seconds.
  std::deque<std::pair<Clock::time_point, long long>> samples_;
  Clock::time_point last_draw_{};
  std::size_t drawn_width_ = 0;  // columns of the live line on screen; 0: none
  bool finished_ = false;
};

}  // namespace folivex
