#include "cli/cli_app.h"

#include <algorithm>

#include "analysis/book_analysis.h"
#include "analysis/book_folder.h"
#include "cli/options.h"
#include "cli/pdf_book.h"
#include "cli/progress.h"
#include "download/page_download.h"
#include "platform/codepage.h"
#include "platform/services.h"
#include "platform/terminal.h"

namespace folivex {
namespace {

void Err(const std::string& line) { WriteTerminal(TerminalStream::Err, line + "\n"); }
void Out(const std::string& line) { WriteTerminal(TerminalStream::Out, line + "\n"); }

// Page numbers listed in a summary before the list is cut.
constexpr std::size_t kFailedPagesListed = 40;

std::string ProblemText(AnalysisProblem problem) {
  switch (problem) {
    case AnalysisProblem::None: return "";
    case AnalysisProblem::PageNotFetched: return "the page could not be fetched (check the address and the network)";
    case AnalysisProblem::NoPageCount: return "the page holds no usable page count (is it a book page?)";
    case AnalysisProblem::NoBaseAddress: return "the page holds no address of the page images";
  }
  return "";
}

FetchOptions FetchOptionsFor(const CliOptions& options) {
  FetchOptions fetch;
  if (options.timeout_seconds) {
    fetch.connect_timeout_ms = *options.timeout_seconds * 1000;
    fetch.idle_timeout_ms = *options.timeout_seconds * 1000;
  }
  return fetch;
}

// One book: its page is analysed, and only a book that can be downloaded
// gets a folder; then its pages are saved there.
bool RunBook(const CliOptions& options, const std::string& url, const Text& output_root) {
  const FetchOptions fetch = FetchOptionsFor(options);
  const Text address = Utf8ToGbkText(url);
  const BookAnalysis analysis = AnalyzeBook(address, fetch);
  if (analysis.problem != AnalysisProblem::None) {
    Err("folivex-dl: " + url + ": " + ProblemText(analysis.problem));
    return false;
  }
  const Text title = options.title ? Utf8ToGbkText(*options.title) : analysis.title;
  // A folder of this book's own, even when another book has the title.
  const BookFolder book_folder = PrepareBookFolder(output_root, title, address, analysis.image_base);
  const Text& folder_name = book_folder.name;
  const Text& save_folder = book_folder.path;
  const std::string book = GbkToUtf8(title);
  const std::string folder = GbkToUtf8(save_folder);
  if (book_folder.failure) {
    Err("folivex-dl: " + url + ": cannot use the folder " + folder + ": " + Describe(*book_folder.failure));
    return false;
  }

  const int count = std::min(analysis.PageCount(), kMaxPages);
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
  settings.fetch = fetch;
  const auto target_for = [&](int n) {
    return PageTarget{PageImageAddress(analysis.image_base, n),
                      ConcatText(save_folder, IntToText(n), ".jpg")};
  };
  ProgressPrinter progress(book, static_cast<int>(pages.size()), IsTerminal(TerminalStream::Err),
                           options.quiet);
  const DownloadReport report =
      DownloadBook(pages, settings, target_for,
                   [&](const PageOutcome& outcome, int finished) { progress.PageFinished(outcome, finished); });
  progress.Finish();

  std::string summary = book + ": " + std::to_string(report.saved.size()) + " saved, " +
                        std::to_string(report.kept.size()) + " kept, " +
                        std::to_string(report.failed.size()) + " failed";
  if (!report.failed.empty()) summary += ": pages " + FailedPagesText(report, kFailedPagesListed);
  if (!options.quiet || !report.failed.empty()) {
    Out(summary);
    Out("  pages in " + folder);
  }

  bool ok = report.AllSaved();
  if (options.pdf) {
    std::vector<Text> files;
    for (const PageOutcome& o : report.outcomes) {
      if (o.status != PageStatus::Failed) files.push_back(target_for(o.page).path);
    }
    const Text pdf_path = ConcatText(output_root, PathSeparator(), folder_name, ".pdf");
    if (files.empty()) {
      Err("folivex-dl: " + url + ": no page to put into a PDF");
      return false;
    }
    const PdfResult pdf = WritePdfBook(pdf_path, title, files);
    if (!pdf.ok) {
      Err("folivex-dl: " + url + ": cannot write the PDF: " + pdf.error);
      ok = false;
    } else {
      for (const PdfSkippedPage& skipped : pdf.skipped) {
        Err("  left out of the PDF: " + GbkToUtf8(skipped.path) + ": " + skipped.reason);
      }
      // A PDF that lacks a page is not the book the user asked for.
      if (!pdf.skipped.empty()) ok = false;
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
  bool all_ok = true;
  for (const std::string& url : options.urls) {
    if (!RunBook(options, url, root)) all_ok = false;
  }
  return all_ok ? kExitOk : kExitFailed;
}

}  // namespace folivex
