#include "cli/cli_app.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "cli/book_run.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/run_report.h"
#include "cli/run_setup.h"
#include "download/page_download.h"
#include "platform/codepage.h"
#include "platform/interrupt.h"
#include "platform/services.h"
#include "platform/terminal.h"

namespace folivex {
namespace {

// After Ctrl-C the pages in flight have this long to arrive; then their
// transfers give up, and the writes under way this long to end.
constexpr auto kInterruptGrace = std::chrono::seconds(3);
constexpr auto kWriteBound = std::chrono::seconds(10);

void Say(TerminalStream stream, const std::string& line) { WriteTerminal(stream, line + "\n"); }

// Books side by side: the shared request slots keep the run to -j
// requests in flight, so a few books at once let the analysis of the next
// overlap the last pages of the one before, and a failing book holds up
// nobody. A bounded number of books run at once, so memory does not grow
// with the length of the list.
int BooksAtOnce(const CliOptions& options, std::size_t books) {
  const int wanted = std::clamp(options.threads / 2, 2, 8);
  return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(wanted), books));
}

// The output folder as a folder path of the program (code page 936), made
// when missing; an error for people when it cannot be used.
std::optional<Text> OutputRoot(const std::string& output, std::string& error) {
  Text root = Utf8ToGbkText(output);
  // Trailing separators go; a separator byte that ends a double-byte
  // character ("乗" is 0x81 0x5C) is part of the name and stays.
  while (root.size() > 1 && FolderOfPath(root).size() == root.size()) root.pop_back();
  if (FileExists(root)) {
    error = "cannot use the output folder '" + output + "': it is a file, not a folder";
    return std::nullopt;
  }
  if (!FolderExists(root) && !CreateFolder(root)) {
    error = "cannot use the output folder '" + output + "': it does not exist and cannot be created";
    return std::nullopt;
  }
  return root;
}

}  // namespace

int RunCli(const std::vector<std::string>& args) {
  const ParsedCommandLine parsed = ParseCommandLine(args);
  if (!parsed.options) {
    Say(TerminalStream::Err, "folivex-dl: " + parsed.error);
    Say(TerminalStream::Err, "Try 'folivex-dl --help' for more information.");
    return kExitUsage;
  }
  const CliOptions& options = *parsed.options;
  if (options.show_help) {
    Say(TerminalStream::Out, UsageText());
    return kExitOk;
  }
  if (options.show_version) {
    Say(TerminalStream::Out, kCliVersion);
    return kExitOk;
  }
  RunSetup setup = PrepareRun(options);
  if (!setup.error.empty()) {
    Say(TerminalStream::Err, "folivex-dl: " + setup.error);
    return kExitUsage;
  }
  std::string error;
  const std::optional<Text> root = OutputRoot(options.output, error);
  if (!root) {
    Say(TerminalStream::Err, "folivex-dl: " + error);
    return kExitUsage;
  }

  const std::vector<std::string>& urls = setup.urls;
  std::vector<BookRecord> records(urls.size());
  RunProgress progress(urls.size(), IsTerminal(TerminalStream::Err), options.quiet);
  DownloadStop stop;
  // Every request of the run, book pages included, gives up once the
  // user's interrupt has had its grace.
  setup.fetch.cancel = stop.CancelFlag();
  const BookJob job{options, setup.fetch, *root, progress, stop};

  int interrupt_status = 0;
  {
    // Ctrl-C: no page or book starts any more, those in flight may finish,
    // and the run then ends in order; a second Ctrl-C ends it at once.
    InterruptWatch interrupts([&] {
      progress.Stopping();
      progress.Say(TerminalStream::Err,
                   "folivex-dl: interrupted: finishing the pages in flight (Ctrl-C again quits at once)");
      stop.Drain(kInterruptGrace, kWriteBound);
    });
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
      for (std::size_t i; (i = next.fetch_add(1)) < urls.size();) records[i] = RunBook(job, urls[i]);
    };
    const int at_once = BooksAtOnce(options, urls.size());
    if (at_once <= 1) {
      worker();
    } else {
      std::vector<std::thread> pool;
      for (int i = 0; i < at_once; ++i) pool.emplace_back(worker);
      for (std::thread& t : pool) t.join();
    }
    interrupt_status = interrupts.ExitStatus();
    // Leaving the scope waits for the interrupt's wind-down to end.
  }
  progress.Finish();

  bool all_ok = std::all_of(records.begin(), records.end(), [](const BookRecord& r) { return r.complete; });
  if (interrupt_status != 0) {
    const auto complete = std::count_if(records.begin(), records.end(), [](const BookRecord& r) { return r.complete; });
    Say(TerminalStream::Err, "folivex-dl: interrupted: " + std::to_string(complete) + " of " +
                                 std::to_string(records.size()) +
                                 " books complete; the same command fetches the rest");
  }
  if (options.report_file) {
    const std::string json = ReportJson(records, interrupt_status != 0);
    const FileResult written = WriteFileAtomically(Utf8ToGbkText(*options.report_file), Bytes(json.begin(), json.end()));
    if (!written.ok) {
      Say(TerminalStream::Err, "folivex-dl: cannot write the report '" + *options.report_file + "': " + written.error);
      all_ok = false;
    }
  }
  if (interrupt_status != 0) return interrupt_status;
  return all_ok ? kExitOk : kExitFailed;
}

}  // namespace folivex
