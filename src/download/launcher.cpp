#include "download/launcher.h"

#include <algorithm>

#include "analysis/save_folder.h"
#include "download/pumping_delay.h"
#include "platform/services.h"

namespace folivex {
namespace {

constexpr std::size_t kFailedPagesListed = 30;

}  // namespace

int ProgressPosition(int finished, int total) {
  if (total == 0) return 0;
  const double quotient = static_cast<double>(finished) / static_cast<double>(total);
  const double percent = quotient * 100.0;
  return static_cast<int>(std::clamp(percent, -1.0, 101.0));
}

Text CompletionMessage(const DownloadReport& report) {
  if (report.AllSaved()) return "\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9\xA3\xA1";  // 下载完成！
  Text list;
  for (std::size_t i = 0; i < report.failed.size() && i < kFailedPagesListed; ++i) {
    list = ConcatText(list, i ? ", " : "", IntToText(report.failed[i]));
  }
  if (report.failed.size() > kFailedPagesListed) list = ConcatText(list, " \xA1\xAD\xA1\xAD");  // ……
  return ConcatText(
      "\xCF\xC2\xD4\xD8\xBD\xE1\xCA\xF8\xA3\xBA\xD2\xD1\xB1\xA3\xB4\xE6 ",  // 下载结束：已保存
      IntToText(static_cast<std::int32_t>(report.saved.size() + report.kept.size())),
      " \xD2\xB3\xA3\xAC\xCA\xA7\xB0\xDC ",  // 页，失败
      IntToText(static_cast<std::int32_t>(report.failed.size())),
      " \xD2\xB3\xA3\xBA",  // 页：
      list);
}

PageTarget WindowPageTarget(int page) {
  const Text file = ConcatText(IntToText(page), ".jpg");
  return PageTarget{ConcatText(GetText(Control::下载绝对地址框), file), ConcatText(SaveFolder(), file)};
}

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

  const auto on_finished = [](const PageOutcome&, int finished) {
    SetText(Control::进度标签, IntToText(finished));
    // The bar is measured against what the box holds now.
    SetPosition(Control::进度条, ProgressPosition(finished, TextToInt(GetText(Control::页数框))));
  };
  const DownloadReport report = DownloadBook(PageRange(std::min(count, kMaxPages)), settings, &WindowPageTarget, on_finished);
  ShowMessage(CompletionMessage(report));
}

}  // namespace folivex
