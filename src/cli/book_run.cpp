#include "cli/book_run.h"

#include <algorithm>
#include <vector>

#include "analysis/book_analysis.h"
#include "analysis/book_folder.h"
#include "cli/pdf_book.h"
#include "cli/terminal_text.h"
#include "platform/codepage.h"

namespace folivex {
namespace {

// Page numbers listed in a summary before the list is cut.
constexpr std::size_t kFailedPagesListed = 40;

constexpr const char* kInterrupted = "the run was interrupted";

std::string ProblemText(AnalysisProblem problem) {
  switch (problem) {
    case AnalysisProblem::None: return "";
    case AnalysisProblem::PageNotFetched: return "the page could not be fetched (check the address and the network)";
    case AnalysisProblem::NoPageCount: return "the page holds no usable page count (is it a book page?)";
    case AnalysisProblem::NoBaseAddress: return "the page holds no address of the page images";
  }
  return "";
}

// "Title: 9 saved, 0 kept, 1 failed, 2 stopped: pages 4 (404); 11-12 (stopped)"
std::string Summary(const std::string& book, const DownloadReport& report) {
  const auto stopped = static_cast<std::size_t>(std::ranges::count_if(report.outcomes, &PageOutcome::Stopped));
  std::string summary = book + ": " + std::to_string(report.saved.size()) + " saved, " +
                        std::to_string(report.kept.size()) + " kept, " +
                        std::to_string(report.failed.size() - stopped) + " failed";
  if (stopped > 0) summary += ", " + std::to_string(stopped) + " stopped";
  if (!report.failed.empty()) summary += ": pages " + TerminalSafeText(FailedPagesText(report, kFailedPagesListed));
  return summary;
}

// The book's pages joined into "<folder>.pdf" beside the folder.
void WritePdf(const BookJob& job, const std::string& shown_url, const Text& title, const Text& folder_name,
              const DownloadReport& report, BookRecord& record) {
  RunProgress& progress = job.progress;
  const auto problem = [&](const std::string& what) {
    if (!record.problem) record.problem = what;
    record.complete = false;
  };
  if (job.stop.Draining()) {
    progress.Say(TerminalStream::Err, "folivex-dl: " + shown_url + ": no PDF: " + kInterrupted);
    problem(std::string("no PDF: ") + kInterrupted);
    return;
  }
  std::vector<Text> files;
  for (const PageOutcome& o : report.outcomes) {
    if (o.status != PageStatus::Failed) files.push_back(o.path);
  }
  const Text pdf_path = ConcatText(job.output_root, PathSeparator(), folder_name, ".pdf");
  if (files.empty()) {
    progress.Say(TerminalStream::Err, "folivex-dl: " + shown_url + ": no page to put into a PDF");
    problem("no page to put into a PDF");
    return;
  }
  const PdfResult pdf = WritePdfBook(pdf_path, title, files);
  if (!pdf.ok) {
    progress.Say(TerminalStream::Err, "folivex-dl: " + shown_url + ": cannot write the PDF: " + TerminalSafeText(pdf.error));
    problem("cannot write the PDF: " + pdf.error);
    return;
  }
  for (const PdfSkippedPage& skipped : pdf.skipped) {
    progress.Say(TerminalStream::Err, "  left out of the PDF: " + TerminalSafeText(GbkToUtf8(skipped.path)) + ": " +
                                          TerminalSafeText(skipped.reason));
  }
  // A PDF that lacks a page is not the book the user asked for.
  if (!pdf.skipped.empty()) problem("pages left out of the PDF");
  if (!job.options.quiet) {
    progress.Say(TerminalStream::Out, "  PDF of " + std::to_string(pdf.pages.size()) + " pages: " +
                                          TerminalSafeText(GbkToUtf8(pdf_path)));
  }
}

// The record of a book the run never came to, because it was interrupted.
BookRecord BookNotStarted(const std::string& url) {
  BookRecord record;
  record.address = url;
  record.problem = std::string("not started: ") + kInterrupted;
  return record;
}

}  // namespace

BookRecord RunBook(const BookJob& job, const std::string& url) {
  const CliOptions& options = job.options;
  RunProgress& progress = job.progress;
  BookRecord record;
  record.address = url;
  const std::string shown_url = TerminalSafeText(url);
  const auto tell = [&](const std::string& line) { progress.Say(TerminalStream::Err, "folivex-dl: " + shown_url + ": " + line); };
  // A book that never gets to its pages ends here for the live line.
  const auto ended_early = [&](BookRecord ended) {
    progress.BookFinished(-1, job.stop.Draining());
    return ended;
  };
  if (job.stop.Draining()) return ended_early(BookNotStarted(url));
  const Text address = Utf8ToGbkText(url);
  const BookAnalysis analysis = AnalyzeBook(address, job.fetch);
  if (job.stop.Draining()) return ended_early(BookNotStarted(url));
  if (analysis.problem != AnalysisProblem::None) {
    record.problem = ProblemText(analysis.problem);
    tell(*record.problem);
    return ended_early(std::move(record));
  }
  const Text title = options.title ? Utf8ToGbkText(*options.title) : analysis.title;
  // A folder of this book's own, even when another book has the title.
  const BookFolder book_folder = PrepareBookFolder(job.output_root, title, address, analysis.image_base);
  const Text& save_folder = book_folder.path;
  const std::string book = TerminalSafeText(GbkToUtf8(title));
  const std::string folder = GbkToUtf8(save_folder);
  record.title = GbkToUtf8(title);
  if (book_folder.failure) {
    record.problem = "cannot use the folder " + folder + ": " + Describe(*book_folder.failure);
    tell(TerminalSafeText(*record.problem));
    return ended_early(std::move(record));
  }
  record.folder = folder;

  // What the book is cannot be trusted: a count above the cap is cut, and
  // pages asked for beyond the book do not exist. Both are told, and the
  // book does not count as complete.
  std::vector<std::string> shortfalls;
  const int declared = analysis.PageCount();
  record.declared_pages = declared;
  const int count = std::min(declared, kMaxPages);
  if (declared > kMaxPages) {
    shortfalls.push_back("the book page declares " + std::to_string(declared) + " pages; only the first " +
                         std::to_string(kMaxPages) + " are fetched");
  }
  if (options.pages && options.pages->HighestNamed() > count) {
    shortfalls.push_back("--pages names pages up to " + std::to_string(options.pages->HighestNamed()) +
                         ", but the book has " + std::to_string(count));
  }
  for (const std::string& shortfall : shortfalls) tell(shortfall);

  const std::vector<int> pages = options.pages ? options.pages->Select(count) : PageRange(count);
  if (!options.quiet) {
    progress.Say(TerminalStream::Err, book + ": " + std::to_string(pages.size()) + " of " + std::to_string(count) +
                                          " pages into " + TerminalSafeText(folder));
  }

  DownloadSettings settings;
  settings.threads = options.threads;
  settings.attempts = options.attempts;
  settings.keep_complete = !options.overwrite;
  settings.prefetched = std::make_pair(analysis.cover_address, analysis.cover);
  settings.fetch = job.fetch;
  settings.stop = &job.stop;
  // Picture requests name the book page, as a browser's do, unless the
  // run names a Referer of its own.
  if (settings.fetch.referer.empty()) settings.fetch.referer = url;
  const auto target_for = [&](int n) {
    return PageTarget{PageImageAddress(analysis.image_base, n, analysis.page_extension),
                      ConcatText(save_folder, IntToText(n), ".", analysis.page_extension)};
  };
  const int progress_id = progress.BookStarted(GbkToUtf8(title), static_cast<int>(pages.size()));
  const DownloadReport report = DownloadBook(pages, settings, target_for, [&](const PageOutcome& outcome, int) {
    progress.PageFinished(progress_id, outcome);
  });
  progress.BookFinished(progress_id, job.stop.Draining() && !report.AllSaved());
  // Page records are kept for the report only, so a long list of books
  // without one does not grow the run's memory.
  for (const PageOutcome& o : report.outcomes) {
    if (!options.report_file) break;
    const PageTarget target = target_for(o.page);
    // The file the page is in, named by its real format.
    const Text& path = o.path.empty() ? target.path : o.path;
    record.pages.push_back(PageRecord{o.page, GbkToUtf8(target.address), GbkToUtf8(path), o});
  }

  if (!options.quiet || !report.failed.empty() || !shortfalls.empty()) {
    progress.Say(TerminalStream::Out, Summary(book, report) + "\n  pages in " + TerminalSafeText(folder));
  }
  record.complete = report.AllSaved() && shortfalls.empty();
  if (!shortfalls.empty()) record.problem = shortfalls.front();
  if (!record.problem && job.stop.Draining() && !report.AllSaved()) record.problem = kInterrupted;
  if (!report.failed.empty() && !record.problem) {
    record.problem = std::to_string(report.failed.size()) + " pages failed";
  }
  if (options.pdf) WritePdf(job, shown_url, title, book_folder.name, report, record);
  return record;
}

}  // namespace folivex
