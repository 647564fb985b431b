// What folivex-dl tells the user while a book downloads: a live line that
// rewrites itself on a terminal, plain lines in a log.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "download/page_download.h"

namespace folivex {

class ProgressPrinter {
 public:
  // `book` is UTF-8, safe for the terminal. `live`: stderr is a terminal.
  ProgressPrinter(std::string book, int total, bool live, bool quiet);
  // From the worker that finished the page; calls never overlap.
  void PageFinished(const PageOutcome& outcome, int finished);
  // Ends the live line.
  void Finish();

  // "1:05", "12:00:09": a duration for people.
  static std::string Duration(double seconds);

 private:
  void Print(const std::string& line);

  std::string book_;
  int total_;
  bool live_, quiet_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_{};
  int last_tenth_ = 0;
  bool line_open_ = false;
};

}  // namespace folivex
