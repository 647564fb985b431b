// What the Download button does: a launcher thread starts a page worker,
// which saves every page of the analysed book while the window's label and
// bar count the pages, and tells the user how it ended.
#pragma once

#include <chrono>
#include <cstdint>

#include "download/page_download.h"
#include "text/text.h"

namespace folivex {

// The launcher thread: starts one page worker, then waits 10 ms handling
// its messages. The argument is not used.
void LaunchDownload(std::int32_t unused);

// The page worker: the page count is read from 页数框 once, the number of
// pages in flight from 编辑框_线程数 (1..32); each page comes from
// 下载绝对地址框 + n + "." + the book's page extension and goes to
// SaveFolder + n + "." + the extension of its real format, both read afresh
// for every page, with 书籍地址框 as the Referer. The argument is not used.
void DownloadPages(std::int32_t unused);

// Stops every download the window started, for the window's closing: the
// pages in flight are abandoned and, within `bound`, none is left half
// written (see DownloadStop). False when a write still ran at the bound.
bool StopWindowDownloads(std::chrono::milliseconds bound);

// Where page n of the analysed book comes from and goes, as they are now:
// 下载绝对地址框 + n + "." + PageExtension() and SaveFolder + n + "." + the
// same extension (the engine puts a picture of another format under its own).
PageTarget WindowPageTarget(int page);

// The progress bar's position after `finished` of `total` pages: the
// quotient in double precision times 100, truncated (page 29 of 100 gives
// 28); 0 when total is 0; kept within -1..101 so the conversion is defined
// (the bar clamps to 0..100 anyway).
int ProgressPosition(int finished, int total);

// "下载完成！" when every page was saved; otherwise how many were saved and
// which failed. A book that declared more than kMaxPages pages is never
// complete: the message says it was cut.
Text CompletionMessage(const DownloadReport& report, int declared_pages = 0);

}  // namespace folivex
