// The record of a run for --report: each book and each of its pages, as
// JSON that scripts read after the run.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download/page_download.h"
#include "platform/failure.h"

namespace folivex {

struct PageRecord {
  int page = 0;
  std::string address;  // UTF-8
  std::string file;     // UTF-8
  PageOutcome outcome;  // a stopped page of 0 attempts never started
};

struct BookRecord {
  std::string address;  // as given, UTF-8
  std::string title;    // UTF-8; empty when the analysis failed
  std::string folder;   // UTF-8; empty when none was made
  int declared_pages = 0;
  bool complete = false;  // every page asked for was saved or kept
  std::optional<std::string> problem;  // why the book stopped or is not whole
  std::vector<PageRecord> pages;
};

// A JSON string, quotes included: quotes, backslashes and control
// characters escaped, and bytes that are not valid UTF-8 replaced by U+FFFD.
std::string JsonString(std::string_view text);

// A lower-case name for the failure kind: "http-status", "time-out", ...
std::string_view FailureKindName(FailureKind kind);

// The whole report as one JSON document.
std::string ReportJson(const std::vector<BookRecord>& books, bool interrupted);

}  // namespace folivex
