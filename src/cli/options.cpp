#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace folivex {
namespace {

// A whole decimal number within [low, high]; nothing else accepted.
std::optional<int> ParseNumber(const std::string& text, int low, int high) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

struct OptionInfo {
  const char* long_name;
  char short_name;  // 0 when none
  bool takes_value;
};

constexpr OptionInfo kOptions[] = {
    {"output", 'o', true},      {"threads", 'j', true},     {"tries", 0, true},
    {"retries", 0, true},       {"timeout", 0, true},       {"pages", 0, true},
    {"title", 0, true},         {"pdf", 0, false},          {"overwrite", 0, false},
    {"quiet", 'q', false},      {"version", 0, false},      {"help", 'h', false},
    {"input-file", 'i', true},  {"user-agent", 0, true},    {"referer", 0, true},
    {"header", 0, true},        {"cookies", 0, true},       {"proxy", 0, true},
    {"limit-rate", 0, true},    {"report", 0, true},        {"max-page-size", 0, true},
};

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

const OptionInfo* FindLong(const std::string& name) {
  for (const OptionInfo& o : kOptions) {
    if (name == o.long_name) return &o;
  }
  return nullptr;
}

const OptionInfo* FindShort(char c) {
  for (const OptionInfo& o : kOptions) {
    if (o.short_name == c) return &o;
  }
  return nullptr;
}

// Applies one option; an error message when its value is bad.
std::string Apply(CliOptions& options, const OptionInfo& o, const std::string& value) {
  const std::string name = o.long_name;
  if (name == "output") {
    if (value.empty()) return "--output needs a folder";
    options.output = value;
  } else if (name == "threads") {
    const auto n = ParseNumber(value, 1, 32);
    if (!n) return "--threads takes a whole number from 1 to 32, not '" + value + "'";
    options.threads = *n;
  } else if (name == "tries") {
    const auto n = ParseNumber(value, 1, 100);
    if (!n) return "--tries takes a whole number from 1 to 100, not '" + value + "'";
    options.attempts = *n;
  } else if (name == "retries") {
    const auto n = ParseNumber(value, 0, 99);
    if (!n) return "--retries takes a whole number from 0 to 99, not '" + value + "'";
    options.attempts = *n + 1;
  } else if (name == "input-file") {
    if (value.empty()) return "--input-file needs a file, or - for standard input";
    options.input_files.push_back(value);
  } else if (name == "user-agent") {
    if (HasLineBreak(value)) return "--user-agent cannot hold a line break";
    options.user_agent = value;
  } else if (name == "referer") {
    if (HasLineBreak(value)) return "--referer cannot hold a line break";
    options.referer = value;
  } else if (name == "header") {
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0 || value.find_first_of(" \t") < colon || HasLineBreak(value)) {
      return "--header takes 'Name: value', not '" + value + "'";
    }
    options.headers.push_back(value);
  } else if (name == "cookies") {
    if (value.empty()) return "--cookies needs a cookies.txt file";
    options.cookies_file = value;
  } else if (name == "proxy") {
    if (HasLineBreak(value)) return "--proxy cannot hold a line break";
    options.proxy = value;
  } else if (name == "limit-rate") {
    const auto rate = ParseRate(value);
    if (!rate) return "--limit-rate takes bytes per second such as 500k or 2M, not '" + value + "'";
    options.limit_rate = *rate;
  } else if (name == "report") {
    if (value.empty()) return "--report needs a file name";
    options.report_file = value;
  } else if (name == "timeout") {
    const auto n = ParseNumber(value, 1, 3600);
    if (!n) return "--timeout takes a number of seconds from 1 to 3600, not '" + value + "'";
    options.timeout_seconds = *n;
  } else if (name == "max-page-size") {
    // The same sizes as --limit-rate, 1K to 1G.
    const auto size = ParseRate(value);
    if (!size || *size < (1LL << 10) || *size > (1LL << 30)) {
      return "--max-page-size takes a size from 1K to 1G, such as 500K or 64M, not '" + value + "'";
    }
    options.max_page_bytes = static_cast<std::uint64_t>(*size);
  } else if (name == "pages") {
    std::string error;
    options.pages = PageList::Parse(value, &error);
    if (!options.pages) return "--pages: " + error;
  } else if (name == "title") {
    if (value.empty()) return "--title needs a text";
    options.title = value;
  } else if (name == "pdf") {
    options.pdf = true;
  } else if (name == "overwrite") {
    options.overwrite = true;
  } else if (name == "quiet") {
    options.quiet = true;
  } else if (name == "version") {
    options.show_version = true;
  } else if (name == "help") {
    options.show_help = true;
  }
  return std::string();
}

}  // namespace

std::optional<std::int64_t> ParseRate(const std::string& text) {
  std::string number = text;
  double scale = 1;
  if (!number.empty()) {
    switch (number.back()) {
      case 'k': case 'K': scale = 1024.0; break;
      case 'm': case 'M': scale = 1024.0 * 1024; break;
      case 'g': case 'G': scale = 1024.0 * 1024 * 1024; break;
      default: break;
    }
    if (scale != 1) number.pop_back();
  }
  if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos ||
      number.find('.') != number.rfind('.') || number == ".") {
    return std::nullopt;
  }
  double value = 0;
  const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec != std::errc() || ptr != number.data() + number.size()) return std::nullopt;
  const double bytes = value * scale;
  if (bytes < 1 || bytes > 1e15) return std::nullopt;
  return static_cast<std::int64_t>(bytes);
}

std::vector<std::string> AddressesInList(std::string_view text) {
  std::vector<std::string> addresses;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t first = line.find_first_not_of(" \t\r\f\v");
    if (first == std::string_view::npos || line[first] == '#') continue;
    const std::size_t last = line.find_last_not_of(" \t\r\f\v");
    addresses.emplace_back(line.substr(first, last - first + 1));
  }
  return addresses;
}

std::optional<PageList> PageList::Parse(const std::string& text, std::string* error) {
  PageList list;
  std::size_t start = 0;
  if (text.empty()) {
    *error = "the page list is empty";
    return std::nullopt;
  }
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    const std::size_t dash = item.find('-');
    std::optional<int> first, last;
    if (dash == std::string::npos) {
      first = last = ParseNumber(item, 1, 0x7FFFFFFF);
    } else {
      first = ParseNumber(item.substr(0, dash), 1, 0x7FFFFFFF);
      const std::string tail = item.substr(dash + 1);
      last = tail.empty() ? std::optional<int>(-1) : ParseNumber(tail, 1, 0x7FFFFFFF);
    }
    if (!first || !last || (*last >= 0 && *last < *first)) {
      *error = "'" + item + "' is not a page or a range like 3, 5-9 or 30-";
      return std::nullopt;
    }
    list.ranges_.push_back({*first, *last});
    start = comma + 1;
  }
  return list;
}

std::vector<int> PageList::Select(int count) const {
  std::set<int> pages;
  for (const Range& r : ranges_) {
    const int last = r.last < 0 ? count : std::min(r.last, count);
    for (int n = r.first; n <= last; ++n) pages.insert(n);
  }
  return {pages.begin(), pages.end()};
}

int PageList::HighestNamed() const {
  int highest = 0;
  for (const Range& r : ranges_) highest = std::max({highest, r.first, r.last});
  return highest;
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CliOptions options;
  auto fail = [](std::string message) { return ParsedCommandLine{std::nullopt, std::move(message)}; };
  bool only_urls = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_urls || arg.size() < 2 || arg[0] != '-') {
      options.urls.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_urls = true;
      continue;
    }
    if (arg.starts_with("--")) {
      const std::size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      const OptionInfo* o = FindLong(name);
      if (!o) return fail("unknown option '--" + name + "'");
      std::string value;
      if (o->takes_value) {
        if (eq != std::string::npos) {
          value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          return fail("--" + name + " needs a value");
        }
      } else if (eq != std::string::npos) {
        return fail("--" + name + " takes no value");
      }
      if (std::string error = Apply(options, *o, value); !error.empty()) return fail(error);
      continue;
    }
    // A group of short options: -q, -j4, -qj 4.
    for (std::size_t k = 1; k < arg.size(); ++k) {
      const OptionInfo* o = FindShort(arg[k]);
      if (!o) return fail(std::string("unknown option '-") + arg[k] + "'");
      std::string value;
      if (o->takes_value) {
        if (k + 1 < arg.size()) {
          value = arg.substr(k + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          return fail(std::string("-") + arg[k] + " needs a value");
        }
        k = arg.size();
      }
      if (std::string error = Apply(options, *o, value); !error.empty()) return fail(error);
    }
  }
  if (!options.show_help && !options.show_version && options.urls.empty() && options.input_files.empty()) {
    return fail("no book address given");
  }
  return ParsedCommandLine{std::move(options), std::string()};
}

std::string UsageText() {
  return "Usage: folivex-dl [options] URL...\n"
         "       folivex-dl [options] -i LIST\n"
         "Saves every page image of each flip-book as 1.jpg, 2.jpg, ... in a folder\n"
         "named after the book. Books run side by side within the -j bound.\n"
         "\n"
         "Options:\n"
         "  -i, --input-file FILE  book addresses, one a line; blank lines and # comments\n"
         "                         skipped; - reads standard input (e.g. -i books.txt)\n"
         "  -o, --output DIR       where the book folders go (default: here; e.g. -o ~/books)\n"
         "  -j, --threads N        requests in flight across the run, 1 to 32 (default 10;\n"
         "                         e.g. -j 16)\n"
         "      --tries N          fetches of a page in all, 1 to 100 (default 3;\n"
         "                         e.g. --tries 5)\n"
         "      --retries N        fetches after the first, 0 to 99 (default 2;\n"
         "                         e.g. --retries 4)\n"
         "      --timeout SECS     give up on a connection or a transfer silent this long\n"
         "                         (default: 15 s to connect, 30 s without data), or\n"
         "                         slower than 1 KiB/s for that long (e.g. --timeout 20)\n"
         "      --max-page-size SIZE  refuse larger page images; K, M, G suffixes, 1K to 1G\n"
         "                         (default 64M; a book page: at most 16M;\n"
         "                         e.g. --max-page-size 200M)\n"
         "      --pages LIST       only these pages (e.g. --pages 1-20,25,30-)\n"
         "      --title TEXT       name the folder and the PDF TEXT instead of the title\n"
         "                         (e.g. --title 'May issue')\n"
         "      --pdf              also write <name>.pdf beside the folder (e.g. --pdf)\n"
         "      --overwrite        fetch every page again; without it, complete pages on\n"
         "                         disk are kept, so a rerun resumes (e.g. --overwrite)\n"
         "      --user-agent TEXT  the User-Agent sent (e.g. --user-agent 'Reader/2')\n"
         "      --referer URL      the Referer sent\n"
         "                         (e.g. --referer https://example.com/shelf)\n"
         "      --header 'N: V'    one more request header; repeatable\n"
         "                         (e.g. --header 'Accept-Language: zh-CN')\n"
         "      --cookies FILE     send the matching cookies of a Netscape cookies.txt file\n"
         "                         (e.g. --cookies cookies.txt)\n"
         "      --proxy URL        go through this proxy; without it http_proxy, https_proxy,\n"
         "                         ALL_PROXY and no_proxy are read as curl reads them;\n"
         "                         --proxy '' goes direct (e.g. --proxy http://proxy:3128)\n"
         "      --limit-rate RATE  bytes per second for the whole run, k and M suffixes\n"
         "                         (e.g. --limit-rate 500k)\n"
         "      --report FILE      write the run as JSON: each book and page, its file,\n"
         "                         outcome, bytes, attempts and failure\n"
         "                         (e.g. --report run.json)\n"
         "  -q, --quiet            print only errors and the summary's failures (e.g. -q)\n"
         "      --version          print the version and exit\n"
         "  -h, --help             print this help and exit\n"
         "\n"
         "On a terminal one live line shows the whole run: books done, pages, a bar,\n"
         "the rate and the time left. Ctrl-C starts no more pages, lets those in flight\n"
         "finish for up to 3 s, writes the report and exits 130 (the same command then\n"
         "fetches the rest); a second Ctrl-C quits at once.\n"
         "\n"
         "Exit status: 0 when every page of every book was saved or kept, 1 when any\n"
         "page or book failed, 2 for a bad command line, 130 after Ctrl-C.\n";
}

}  // namespace folivex
