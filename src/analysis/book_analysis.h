// Book page analysis: from a book page address to the book's title, page
// count, image base address and cover, as values. Nothing here touches a
// window, a folder or the disk: each front end decides what to do with the
// result.
#pragma once

#include <optional>
#include <string_view>

#include "platform/services.h"
#include "text/text.h"

namespace folivex {

// What stopped an analysis from giving a downloadable book.
enum class AnalysisProblem {
  None,
  PageNotFetched,  // nothing came back for the address
  NoPageCount,     // the page holds no page count (not a book page?)
  NoBaseAddress,   // the page holds no image folder address
};

struct BookAnalysis {
  AnalysisProblem problem = AnalysisProblem::None;
  Text page;           // the decoded page text; empty when none came
  Text title;          // as found on the page, empty when missing
  Text page_count;     // as found, unconverted
  Text base;           // the book's folder address, ending with "/"
  Text image_base;     // base + "files/mobile/"
  Text cover_address;  // base + "files/mobile/1.jpg"
  FetchResult cover;   // what that address gave (page 1 of the book)

  // The page count as a number; 0 when the page gave none.
  int PageCount() const { return TextToInt(page_count); }
};

// The page markers, byte for byte.
inline constexpr std::string_view kTitleStart = "title: \"";
inline constexpr std::string_view kTitleEnd = "\",";
inline constexpr std::string_view kPagesStart = "pages: \"";
inline constexpr std::string_view kPagesEnd = "\",";
inline constexpr std::string_view kBaseStart = "class=\"form-control af-left\" readonly value=\"";
inline constexpr std::string_view kBaseEnd = "index.html\">\n ";
inline constexpr std::string_view kImageFolder = "files/mobile/";

// Fetches the book page at `address` (taken to be UTF-8 whatever it says),
// cuts the title, the page count and the base address out of it, and
// fetches the cover, page 1. Every request obeys `options`.
BookAnalysis AnalyzeBook(const Text& address, const FetchOptions& options);

// The address of page n's image: the image base, n, ".jpg".
Text PageImageAddress(const Text& image_base, int page);

}  // namespace folivex
