#include "cli/cli_app.h"

#include <algorithm>
#include <memory>

#include "analysis/book_analysis.h"
#include "app/main_window.h"
#include "cli/options.h"
#include "cli/pdf_book.h"
#include "cli/progress.h"
#include "download/launcher.h"
#include "download/page_download.h"
#include "platform/codepage.h"
#include "platform/services.h"
#include "platform/terminal.h"

namespace folivex {
namespace {

void Err(const std::string& line) { WriteTerminal(TerminalStream::Err, line + "\n"); }
void Out(const std::string& line) { WriteTerminal(TerminalStream::Out, line + "\n"); }

std::string PageNumbers(const std::vector<int>& pages) {
  std::string list;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (i == 40) return list + ", ...";
    list += (i ? ", " : "") + std::to_string(pages[i]);
  }
  return list;
}

std::string ProblemText(AnalysisProblem problem) {
  switch (problem) {
    case AnalysisProblem::None: return "";
    case AnalysisProblem::PageNotFetched: return "the page could not be fetched (check the address and the network)";
    case AnalysisProblem::NoPageCount: return "the page holds no usable page count (is it a book page?)";
    case AnalysisProblem::NoBaseAddress: return "the page holds no address of the page images";
  }
  return "";
}

// One book: the analysis a double click makes, then the download the
// button starts, on in-memory controls.
bool RunBook(const CliOptions& options, const std::string& url, const Text& output_root) {
  auto controls = std::make_shared<MemoryControls>(MainWindowSpec());
  UseControls(controls);
  const Text address = Utf8ToGbkText(url);
  SetText(Control::书籍地址框, address);
  const Text title_override = options.title ? Utf8ToGbkText(*options.title) : Text();
  const BookAnalysis analysis = AnalyzeBookInBox(output_root, title_override);
  if (analysis.problem != AnalysisProblem::None) {
    Err("folivex-dl: " + url + ": " + ProblemText(analysis.problem));
    return false;
  }
  const std::string book = GbkToUtf8(title_override.empty() ? analysis.title : title_override);
  const std::string folder = GbkToUtf8(analysis.save_folder);
  if (!FolderExists(analysis.save_folder)) {
    Err("folivex-dl: " + url + ": cannot create the folder " + folder);
    return false;
  }

  const int count = std::min(TextToInt(analysis.page_count), kMaxPages);
  const std::vector<int> pages = options.pages ? options.pages->Select(count) : PageRange(count);
  if (!options.quiet) {
    Err(book + ": " + std::to_string(pages.size()) + " of " + std::to_string(count) +
        " pages into " + folder);
  }

  DownloadSettings settings;
  settings.threads = options.threads;
  settings.attempts = options.attempts;
  settings.keep_complete = !options.overwrite;
  settings.prefetched = std::make_pair(analysis.cover_address, analysis.cover);
  if (options.timeout_seconds) {
    settings.fetch.connect_timeout_ms = *options.timeout_seconds * 1000;
    settings.fetch.idle_timeout_ms = *options.timeout_seconds * 1000;
  }
  ProgressPrinter progress(book, static_cast<int>(pages.size()), IsTerminal(TerminalStream::Err),
                           options.quiet);
  const DownloadReport report =
      DownloadBook(pages, settings, &WindowPageTarget,
                   [&](const PageOutcome& outcome, int finished) { progress.PageFinished(outcome, finished); });
  progress.Finish();

  std::string summary = book + ": " + std::to_string(report.saved.size()) + " saved, " +
                        std::to_string(report.kept.size()) + " kept, " +
                        std::to_string(report.failed.size()) + " failed";
  if (!report.failed.empty()) summary += " (pages " + PageNumbers(report.failed) + ")";
  if (!options.quiet || !report.failed.empty()) {
    Out(summary);
    Out("  pages in " + folder);
  }

  bool ok = report.AllSaved();
  if (options.pdf) {
    std::vector<Text> files;
    for (const PageOutcome& o : report.outcomes) {
      if (o.status != PageStatus::Failed) files.push_back(WindowPageTarget(o.page).path);
    }
    const Text pdf_path = ConcatText(output_root, PathSeparator(), analysis.folder_name, ".pdf");
    if (files.empty()) {
      Err("folivex-dl: " + url + ": no page to put into a PDF");
      return false;
    }
    const PdfResult pdf = WritePdfBook(pdf_path, title_override.empty() ? analysis.title : title_override, files);
    if (!pdf.ok) {
      Err("folivex-dl: " + url + ": cannot write the PDF: " + pdf.error);
      ok = false;
    } else {
      for (const PdfSkippedPage& skipped : pdf.skipped) {
        Err("  left out of the PDF: " + GbkToUtf8(skipped.path) + ": " + skipped.reason);
      }
      if (!options.quiet) {
        Out("  PDF of " + std::to_string(pdf.pages.size()) + " pages: " + GbkToUtf8(pdf_path));
      }
    }
  }
  return ok;
}

}  // namespace

int RunCli(const std::vector<std::string>& args) {
  const ParsedCommandLine parsed = ParseCommandLine(args);
  if (!parsed.options) {
    Err("folivex-dl: " + parsed.error);
    Err("Try 'folivex-dl --help' for more information.");
    return kExitUsage;
  }
  const CliOptions& options = *parsed.options;
  if (options.show_help) {
    Out(UsageText());
    return kExitOk;
  }
  if (options.show_version) {
    Out(kCliVersion);
    return kExitOk;
  }

  // Folder paths inside the program are code page 936 texts.
  Text root = Utf8ToGbkText(options.output);
  while (root.size() > 1 && (root.back() == '/' || root.back() == '\\')) root.pop_back();
  if (!FolderExists(root) && !CreateFolder(root)) {
    Err("folivex-dl: cannot use the output folder '" + options.output +
        "': it does not exist and cannot be created");
    return kExitUsage;
  }
  SetProgramFolder(root);
  // Anything that would show a message box prints it instead.
  SetMessageHook([](const Text& text, const Text&) { Err(GbkToUtf8(text)); });

  bool all_ok = true;
  for (const std::string& url : options.urls) {
    if (!RunBook(options, url, root)) all_ok = false;
  }
  return all_ok ? kExitOk : kExitFailed;
}

}  // namespace folivex
