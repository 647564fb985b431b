// What folivex-dl tells the user while a book downloads: a live line that
// rewrites itself on a terminal, plain lines in a log.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "download/page_download.h"

namespace folivex {

class ProgressPrinter {
 public:
  // Where the printer's text goes; standard error when none is given.
  using Writer = std::function<void(std::string_view utf8)>;
  // `book` is UTF-8, as the server named it: it is shown through
  // TerminalSafeText, as is every failure's reason. `live`: the output is
  // a terminal.
  ProgressPrinter(std::string book, int total, bool live, bool quiet, Writer write = {});
  // From the worker that finished the page; calls never overlap.
  void PageFinished(const PageOutcome& outcome, int finished);
  // Ends the live line.
  void Finish();

  // "1:05", "12:00:09": a duration for people.
  static std::string Duration(double seconds);

 private:
  void Print(const std::string& line);

  Writer write_;
  std::string book_;
  int total_;
  bool live_, quiet_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_{};
  int last_tenth_ = 0;
  bool line_open_ = false;
};

}  // namespace folivex
