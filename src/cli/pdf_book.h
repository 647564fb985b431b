// The saved page images of one book, bound into one PDF: a page per JPEG,
// each JPEG stored as it is (its bytes copied unchanged behind the PDF's DCT
// filter, nothing decoded or encoded again), so the book loses nothing.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "text/text.h"

namespace folivex {

struct PdfSkippedPage {
  std::size_t index = 0;  // into the list of page files
  Text path;
  std::string reason;     // in UTF-8, for people
};

struct PdfResult {
  bool ok = false;           // the PDF is in place, whole
  std::string error;         // why not, in UTF-8; empty when ok
  // Indexes into the list of page files, in page order: what went in.
  std::vector<std::size_t> pages;
  std::vector<PdfSkippedPage> skipped;
};

// Writes `pdf_path` with one page for each usable JPEG of `jpeg_paths`, in
// that order. `title` is code page 936 text; it becomes the document's
// title. A page file that is missing, no JPEG, cut short or coded in a way
// PDF readers do not decode is left out and listed in `skipped`.
//
// The files are streamed in chunks, never held whole, and the PDF is
// written under a temporary name beside `pdf_path` and renamed over it only
// when it is complete: an existing book stays as it was if anything fails.
// Without a single usable page nothing is written and ok is false.
PdfResult WritePdfBook(const Text& pdf_path, const Text& title,
                       const std::vector<Text>& jpeg_paths);

}  // namespace folivex
