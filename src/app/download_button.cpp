#include "app/download_button.h"

#include <algorithm>

#include "app/save_folder.h"
#include "download/pumping_delay.h"
#include "analysis/book_analysis.h"
#include "platform/codepage.h"
#include "app/controls.h"
#include "platform/services.h"

namespace folivex {
namespace {

constexpr std::size_t kFailedPagesListed = 30;

// Every download the window starts; stopped when the window closes.
DownloadStop& WindowDownloads() {
  static DownloadStop stop;
  return stop;
}

}  // namespace

int ProgressPosition(int finished, int total) {
  if (total == 0) return 0;
  const double quotient = static_cast<double>(finished) / static_cast<double>(total);
  const double percent = quotient * 100.0;
  return static_cast<int>(std::clamp(percent, -1.0, 101.0));
}

Text CompletionMessage(const DownloadReport& report, int declared_pages) {
  if (declared_pages > kMaxPages) {
    // A page count beyond any real book: the download stopped at the cap,
    // so the book is not complete whatever became of the pages fetched.
    return ConcatText(Utf8ToGbkText("下载结束：书籍页面声明 "), IntToText(declared_pages),
                      Utf8ToGbkText(" 页，超出上限，只下载了前 "), IntToText(kMaxPages),
                      Utf8ToGbkText(" 页；已保存 "),
                      IntToText(static_cast<std::int32_t>(report.saved.size() + report.kept.size())),
                      Utf8ToGbkText(" 页，失败 "), IntToText(static_cast<std::int32_t>(report.failed.size())),
                      Utf8ToGbkText(" 页。"));
  }
  if (report.AllSaved()) return Utf8ToGbkText("下载完成！");
  // Short enough for a message box: the pages grouped by reason, the list
  // cut after kFailedPagesListed numbers.
  return ConcatText(Utf8ToGbkText("下载结束：已保存 "),
                    IntToText(static_cast<std::int32_t>(report.saved.size() + report.kept.size())),
                    Utf8ToGbkText(" 页，失败 "), IntToText(static_cast<std::int32_t>(report.failed.size())),
                    Utf8ToGbkText(" 页："),
                    Utf8ToGbkText(FailedPagesText(report, kFailedPagesListed, "（", "）", "；")));
}

PageTarget WindowPageTarget(int page) {
  const Text extension = PageExtension();
  return PageTarget{PageImageAddress(GetText(Control::下载绝对地址框), page, extension),
                    ConcatText(SaveFolder(), IntToText(page), ".", extension)};
}

bool StopWindowDownloads(std::chrono::milliseconds bound) { return WindowDownloads().Stop(bound); }

void LaunchDownload(std::int32_t) {
  StartThread(&DownloadPages, 0);
  PumpingDelay(10);
  ProcessEvents();
}

void DownloadPages(std::int32_t) {
  // Read once: later edits of the box do not change how many pages come.
  const int count = TextToInt(GetText(Control::页数框));
  if (count < 1) return;

  DownloadSettings settings;
  settings.threads = std::clamp<int>(TextToInt(GetText(Control::编辑框_线程数)), 1, kMaxThreads);
  // The window replaces pages of the same name, as a fresh download should.
  settings.keep_complete = false;
  // Picture requests name the book page, as a browser's do.
  settings.fetch.referer = GbkToUtf8(GetText(Control::书籍地址框));
  settings.stop = &WindowDownloads();

  const auto on_finished = [](const PageOutcome&, int finished) {
    SetText(Control::进度标签, IntToText(finished));
    // The bar is measured against what the box holds now.
    SetPosition(Control::进度条, ProgressPosition(finished, TextToInt(GetText(Control::页数框))));
  };
  const DownloadReport report = DownloadBook(PageRange(std::min(count, kMaxPages)), settings, &WindowPageTarget, on_finished);
  ShowMessage(CompletionMessage(report, count));
}

}  // namespace folivex
