// The saved page images of one book, bound into one PDF, a page per
// picture, so the book loses nothing: a JPEG is stored as it is (its bytes
// up to its end marker copied unchanged behind the PDF's DCT filter), a PNG
// with its own compressed data where PDF can read it so, and every other
// PNG and each WebP decoded and stored losslessly (see pdf_image.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "text/text.h"

namespace folivex {

// Why a page file is not in the PDF.
enum class PdfSkipReason {
  Missing,      // no such file, or it cannot be read
  Empty,        // a file of no bytes
  NotAnImage,   // bytes of no image format
  Damaged,      // cut short, or breaking its format
  Unsupported,  // a format or coding this writer does not embed (GIF, BMP,
                // 12-bit or arithmetic JPEG, animated WebP)
  NoDecoder,    // this system cannot decode the format (WebP on a Windows
                // without its WebP codec)
  TooLarge,     // more pixels than may be decoded in memory
};

struct PdfSkippedPage {
  std::size_t index = 0;  // into the list of page files
  Text path;
  PdfSkipReason kind = PdfSkipReason::Missing;
  std::string reason;     // in UTF-8, for people: names the format and the fault
};

struct PdfResult {
  bool ok = false;           // the PDF is in place, whole
  std::string error;         // why not, in UTF-8; empty when ok
  // Indexes into the list of page files, in page order: what went in.
  std::vector<std::size_t> pages;
  // What was left out, in page order. A PDF written without them is still
  // in place (ok), but the book in it is not the whole book: a run that
  // asked for the PDF has failed unless AllPagesIn().
  std::vector<PdfSkippedPage> skipped;

  bool AllPagesIn() const { return ok && skipped.empty(); }
};

// Writes `pdf_path` with one page for each usable picture of `page_paths`
// (JPEG, PNG or WebP), in that order. `title` is code page 936 text; it
// becomes the document's title. A page file that is missing, damaged, of
// another format, or coded in a way that cannot be embedded is left out and
// listed in `skipped`.
//
// JPEG files are streamed in chunks, never held whole; a PNG or WebP page
// is read and decoded in memory, one page at a time. The PDF is
// written under a temporary name beside `pdf_path` and renamed over it only
// when it is complete: an existing book stays as it was if anything fails.
// Without a single usable page nothing is written and ok is false.
PdfResult WritePdfBook(const Text& pdf_path, const Text& title,
                       const std::vector<Text>& page_paths);

}  // namespace folivex
