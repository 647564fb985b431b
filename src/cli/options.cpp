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

// A size in bytes: a whole number, optionally followed by K, M or G (1024,
// 1024², 1024³; any case), within [low, high].
std::optional<std::uint64_t> ParseSize(const std::string& text, std::uint64_t low,
                                       std::uint64_t high) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || end - ptr > 1) return std::nullopt;
  int shift = 0;
  if (ptr != end) {
    switch (*ptr) {
      case 'k': case 'K': shift = 10; break;
      case 'm': case 'M': shift = 20; break;
      case 'g': case 'G': shift = 30; break;
      default: return std::nullopt;
    }
  }
  if (value > (high >> shift)) return std::nullopt;
  value <<= shift;
  if (value < low) return std::nullopt;
  return value;
}

struct OptionInfo {
  const char* long_name;
  char short_name;  // 0 when none
  bool takes_value;
};

constexpr OptionInfo kOptions[] = {
    {"output", 'o', true}, {"threads", 'j', true}, {"retries", 0, true},
    {"timeout", 0, true},  {"max-page-size", 0, true}, {"pages", 0, true}, {"title", 0, true},
    {"pdf", 0, false},     {"overwrite", 0, false}, {"quiet", 'q', false},
    {"version", 0, false}, {"help", 'h', false},
};

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
  } else if (name == "retries") {
    const auto n = ParseNumber(value, 1, 100);
    if (!n) return "--retries takes a whole number from 1 to 100, not '" + value + "'";
    options.attempts = *n;
  } else if (name == "timeout") {
    const auto n = ParseNumber(value, 1, 3600);
    if (!n) return "--timeout takes a number of seconds from 1 to 3600, not '" + value + "'";
    options.timeout_seconds = *n;
  } else if (name == "max-page-size") {
    const auto size = ParseSize(value, 1ULL << 10, 1ULL << 30);
    if (!size) {
      return "--max-page-size takes a size from 1K to 1G, such as 500K or 64M, not '" + value + "'";
    }
    options.max_page_bytes = *size;
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
  if (!options.show_help && !options.show_version && options.urls.empty()) {
    return fail("no book address given");
  }
  return ParsedCommandLine{std::move(options), std::string()};
}

std::string UsageText() {
  return "Usage: folivex-dl [options] URL...\n"
         "Saves every page image of each flip-book as 1.jpg, 2.jpg, ... in a folder\n"
         "named after the book.\n"
         "\n"
         "Options:\n"
         "  -o, --output DIR     where the book folders go (default: the current folder)\n"
         "  -j, --threads N      pages fetched at once, 1 to 32 (default 10)\n"
         "      --retries N      attempts per page before it counts as failed (default 3)\n"
         "      --timeout SECS   give up on a connection or a transfer silent this long\n"
         "                       (default: 15 s to connect, 30 s without data); a transfer\n"
         "                       slower than 1 KiB/s over that long is given up too\n"
         "      --max-page-size SIZE\n"
         "                       refuse page images larger than SIZE, e.g. 500K, 64M\n"
         "                       (default 64M; a book page may be at most 16M)\n"
         "      --pages LIST     only these pages, e.g. 1-20,25,30-\n"
         "      --title TEXT     name the folder and the PDF TEXT instead of the book's title\n"
         "      --pdf            also write <name>.pdf beside the folder, every saved page\n"
         "                       in order\n"
         "      --overwrite      fetch every page again; without it, pages already on disk\n"
         "                       as complete images are kept, so a rerun resumes\n"
         "  -q, --quiet          print only errors and the summary's failures\n"
         "      --version        print the version and exit\n"
         "  -h, --help           print this help and exit\n"
         "\n"
         "Exit status: 0 when every page of every book was saved or kept, 1 when any\n"
         "page or book failed, 2 for a bad command line.\n";
}

}  // namespace folivex
