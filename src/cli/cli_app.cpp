#include "cli/cli_app.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <mutex>
#include <thread>

#include "analysis/book_analysis.h"
#include "analysis/book_folder.h"
#include "cli/options.h"
#include "cli/pdf_book.h"
#include "cli/progress.h"
#include "cli/run_report.h"
#include "cli/terminal_text.h"
#include "download/page_download.h"
#include "platform/codepage.h"
#include "platform/services.h"
#include "platform/terminal.h"

namespace folivex {
namespace {

// Books run side by side, so whole lines go out one at a time.
std::mutex output_lock;
void Err(const std::string& line) {
  std::lock_guard guard(output_lock);
  WriteTerminal(TerminalStream::Err, line + "\n");
}
void Out(const std::string& line) {
  std::lock_guard guard(output_lock);
  WriteTerminal(TerminalStream::Out, line + "\n");
}

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

struct RunSetup {
  FetchOptions fetch;
  std::vector<std::string> urls;
  std::string error;  // why the run cannot start
};

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

// Everything the options ask to read before the run: address lists, the
// cookie file, the environment's proxies.
RunSetup PrepareRun(const CliOptions& options) {
  RunSetup setup;
  FetchOptions& fetch = setup.fetch;
  if (options.timeout_seconds) {
    fetch.connect_timeout_ms = *options.timeout_seconds * 1000;
    fetch.idle_timeout_ms = *options.timeout_seconds * 1000;
  }
  if (options.max_page_bytes) fetch.max_body_bytes = *options.max_page_bytes;
  if (options.user_agent) fetch.user_agent = *options.user_agent;
  if (options.referer) fetch.referer = *options.referer;
  fetch.headers = options.headers;
  if (options.cookies_file) {
    const std::optional<Bytes> bytes = ReadBytesFile(Utf8ToGbkText(*options.cookies_file));
    if (!bytes) {
      setup.error = "cannot read the cookie file '" + *options.cookies_file + "'";
      return setup;
    }
    fetch.cookies = std::make_shared<const std::vector<FileCookie>>(
        ParseCookieFile(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size())));
  }
  fetch.proxy = ProxySettingsFromEnvironment(Environment);
  if (options.proxy) {
    fetch.proxy.explicit_proxy = *options.proxy;
    // An empty --proxy goes direct, whatever the environment says.
    fetch.proxy.enabled = !options.proxy->empty();
  }
  if (options.limit_rate > 0) fetch.rate_limit = std::make_shared<RateLimit>(options.limit_rate);
  fetch.slots = std::make_shared<RequestSlots>(options.threads);

  setup.urls = options.urls;
  for (const std::string& file : options.input_files) {
    std::string text;
    if (file == "-") {
      text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
      const std::optional<Bytes> bytes = ReadBytesFile(Utf8ToGbkText(file));
      if (!bytes) {
        setup.error = "cannot read the address list '" + file + "'";
        return setup;
      }
      text.assign(bytes->begin(), bytes->end());
    }
    for (std::string& url : AddressesInList(text)) setup.urls.push_back(std::move(url));
  }
  if (setup.urls.empty()) setup.error = "no book address given";
  return setup;
}

// One book: its page is analysed, and only a book that can be downloaded
// gets a folder; then its pages are saved there. `live`: this book may
// draw the live progress line (it runs alone on a terminal).
BookRecord RunBook(const CliOptions& options, const FetchOptions& fetch, const std::string& url,
                   const Text& output_root, bool live) {
  BookRecord record;
  record.address = url;
  const std::string shown_url = TerminalSafeText(url);
  const Text address = Utf8ToGbkText(url);
  const BookAnalysis analysis = AnalyzeBook(address, fetch);
  if (analysis.problem != AnalysisProblem::None) {
    record.problem = ProblemText(analysis.problem);
    Err("folivex-dl: " + shown_url + ": " + *record.problem);
    return record;
  }
  const Text title = options.title ? Utf8ToGbkText(*options.title) : analysis.title;
  // A folder of this book's own, even when another book has the title.
  const BookFolder book_folder = PrepareBookFolder(output_root, title, address, analysis.image_base);
  const Text& folder_name = book_folder.name;
  const Text& save_folder = book_folder.path;
  const std::string book = TerminalSafeText(GbkToUtf8(title));
  const std::string folder = GbkToUtf8(save_folder);
  record.title = GbkToUtf8(title);
  if (book_folder.failure) {
    record.problem = "cannot use the folder " + folder + ": " + Describe(*book_folder.failure);
    Err("folivex-dl: " + shown_url + ": " + TerminalSafeText(*record.problem));
    return record;
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
  for (const std::string& shortfall : shortfalls) Err("folivex-dl: " + shown_url + ": " + shortfall);

  const std::vector<int> pages = options.pages ? options.pages->Select(count) : PageRange(count);
  if (!options.quiet) {
    Err(book + ": " + std::to_string(pages.size()) + " of " + std::to_string(count) + " pages into " +
        TerminalSafeText(folder));
  }

  DownloadSettings settings;
  settings.threads = options.threads;
  settings.attempts = options.attempts;
  settings.keep_complete = !options.overwrite;
  settings.prefetched = std::make_pair(analysis.cover_address, analysis.cover);
  settings.fetch = fetch;
  // Picture requests name the book page, as a browser's do, unless the
  // run names a Referer of its own.
  if (settings.fetch.referer.empty()) settings.fetch.referer = url;
  const auto target_for = [&](int n) {
    return PageTarget{PageImageAddress(analysis.image_base, n, analysis.page_extension),
                      ConcatText(save_folder, IntToText(n), ".", analysis.page_extension)};
  };
  ProgressPrinter progress(book, static_cast<int>(pages.size()), live, options.quiet);
  const DownloadReport report = DownloadBook(pages, settings, target_for, [&](const PageOutcome& outcome, int finished) {
    std::lock_guard guard(output_lock);
    progress.PageFinished(outcome, finished);
  });
  {
    std::lock_guard guard(output_lock);
    progress.Finish();
  }
  for (const PageOutcome& o : report.outcomes) {
    const PageTarget target = target_for(o.page);
    // The file the page is in, named by its real format.
    const Text& path = o.path.empty() ? target.path : o.path;
    record.pages.push_back(PageRecord{o.page, GbkToUtf8(target.address), GbkToUtf8(path), o, true});
  }

  std::string summary = book + ": " + std::to_string(report.saved.size()) + " saved, " +
                        std::to_string(report.kept.size()) + " kept, " +
                        std::to_string(report.failed.size()) + " failed";
  if (!report.failed.empty()) summary += ": pages " + TerminalSafeText(FailedPagesText(report, kFailedPagesListed));
  if (!options.quiet || !report.failed.empty() || !shortfalls.empty()) {
    std::lock_guard guard(output_lock);
    WriteTerminal(TerminalStream::Out, summary + "\n  pages in " + TerminalSafeText(folder) + "\n");
  }

  bool ok = report.AllSaved() && shortfalls.empty();
  if (!shortfalls.empty()) record.problem = shortfalls.front();
  if (!report.failed.empty() && !record.problem) {
    record.problem = std::to_string(report.failed.size()) + " pages failed";
  }
  if (options.pdf) {
    std::vector<Text> files;
    for (const PageOutcome& o : report.outcomes) {
      if (o.status != PageStatus::Failed) files.push_back(o.path);
    }
    const Text pdf_path = ConcatText(output_root, PathSeparator(), folder_name, ".pdf");
    if (files.empty()) {
      Err("folivex-dl: " + shown_url + ": no page to put into a PDF");
      if (!record.problem) record.problem = "no page to put into a PDF";
      return record;
    }
    const PdfResult pdf = WritePdfBook(pdf_path, title, files);
    if (!pdf.ok) {
      Err("folivex-dl: " + shown_url + ": cannot write the PDF: " + TerminalSafeText(pdf.error));
      if (!record.problem) record.problem = "cannot write the PDF: " + pdf.error;
      ok = false;
    } else {
      for (const PdfSkippedPage& skipped : pdf.skipped) {
        Err("  left out of the PDF: " + TerminalSafeText(GbkToUtf8(skipped.path)) + ": " + TerminalSafeText(skipped.reason));
      }
      // A PDF that lacks a page is not the book the user asked for.
      if (!pdf.skipped.empty()) {
        ok = false;
        if (!record.problem) record.problem = "pages left out of the PDF";
      }
      if (!options.quiet) {
        Out("  PDF of " + std::to_string(pdf.pages.size()) + " pages: " + TerminalSafeText(GbkToUtf8(pdf_path)));
      }
    }
  }
  record.complete = ok;
  return record;
}

// Books side by side: the shared request slots keep the run to -j
// requests in flight, so a few books at once let the analysis of the next
// overlap the last pages of the one before, and a failing book holds up
// nobody. A bounded number of books run at once, so memory does not grow
// with the length of the list.
int BooksAtOnce(const CliOptions& options, std::size_t books) {
  const int wanted = std::clamp(options.threads / 2, 2, 8);
  return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(wanted), books));
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
  const RunSetup setup = PrepareRun(options);
  if (!setup.error.empty()) {
    Err("folivex-dl: " + setup.error);
    return kExitUsage;
  }

  // Folder paths inside the program are code page 936 texts.
  Text root = Utf8ToGbkText(options.output);
  // Trailing separators go; a separator byte that ends a double-byte
  // character ("乗" is 0x81 0x5C) is part of the name and stays.
  while (root.size() > 1 && FolderOfPath(root).size() == root.size()) root.pop_back();
  if (FileExists(root)) {
    Err("folivex-dl: cannot use the output folder '" + options.output + "': it is a file, not a folder");
    return kExitUsage;
  }
  if (!FolderExists(root) && !CreateFolder(root)) {
    Err("folivex-dl: cannot use the output folder '" + options.output +
        "': it does not exist and cannot be created");
    return kExitUsage;
  }

  const std::vector<std::string>& urls = setup.urls;
  std::vector<BookRecord> records(urls.size());
  const int at_once = BooksAtOnce(options, urls.size());
  // A single book on a terminal keeps its own live line.
  const bool live = urls.size() == 1 && IsTerminal(TerminalStream::Err);
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < urls.size();) {
      records[i] = RunBook(options, setup.fetch, urls[i], root, live);
    }
  };
  if (at_once <= 1) {
    worker();
  } else {
    std::vector<std::thread> pool;
    for (int i = 0; i < at_once; ++i) pool.emplace_back(worker);
    for (std::thread& t : pool) t.join();
  }

  bool all_ok = std::all_of(records.begin(), records.end(), [](const BookRecord& r) { return r.complete; });
  if (options.report_file) {
    const std::string json = ReportJson(records, false);
    const FileResult written = WriteFileAtomically(Utf8ToGbkText(*options.report_file), Bytes(json.begin(), json.end()));
    if (!written.ok) {
      Err("folivex-dl: cannot write the report '" + *options.report_file + "': " + written.error);
      all_ok = false;
    }
  }
  return all_ok ? kExitOk : kExitFailed;
}

}  // namespace folivex
