// The command line of folivex-dl.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "folivex_version.h"

namespace folivex {

// A set of page numbers as written on the command line: "1-20,25,30-".
class PageList {
 public:
  // Parses the list; an error message (for people) when it is malformed.
  static std::optional<PageList> Parse(const std::string& text, std::string* error);
  // The pages of 1..count that the list names, ascending, each once.
  std::vector<int> Select(int count) const;
  // The highest page a closed range or a single page names (an open end
  // names none beyond its start).
  int HighestNamed() const;

 private:
  struct Range {
    int first, last;  // last < 0: open end
  };
  std::vector<Range> ranges_;
};

struct CliOptions {
  std::string output = ".";  // UTF-8 (the terminal's text)
  int threads = 10;
  int attempts = 3;  // fetches of a page in all: --tries N, or --retries N-1
  std::optional<int> timeout_seconds;
  std::optional<PageList> pages;
  std::optional<std::string> title;  // UTF-8
  bool pdf = false;
  bool overwrite = false;
  bool quiet = false;
  bool show_help = false;
  bool show_version = false;
  std::vector<std::string> urls;
  std::vector<std::string> input_files;  // -i: address lists; "-" is standard input

  // What every request carries beside the fixed fields (UTF-8).
  std::optional<std::string> user_agent;
  std::optional<std::string> referer;
  std::vector<std::string> headers;      // "Name: value"
  std::optional<std::string> cookies_file;
  std::optional<std::string> proxy;      // wins over the environment's; "" is direct
  std::int64_t limit_rate = 0;           // bytes per second for the whole run; 0: none
  std::optional<std::string> report_file;  // --report: the run as JSON
};

struct ParsedCommandLine {
  std::optional<CliOptions> options;  // empty on a usage error
  std::string error;                  // what was wrong, for people
};

// Parses arguments (without the program name) in GNU style: short options
// may be grouped (-qj4) and take their value attached or as the next
// argument; long options take "--name=value" or "--name value"; "--" ends
// the options.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// A rate such as "500k", "2M" or "100000": bytes per second (k = 1024,
// M = 1024 k, G = 1024 M), fractions allowed before a suffix.
std::optional<std::int64_t> ParseRate(const std::string& text);

// The addresses of an address list: one per line, surrounding blanks cut,
// blank lines and lines starting with "#" skipped.
std::vector<std::string> AddressesInList(std::string_view text);

// The text of --help.
std::string UsageText();

inline constexpr const char* kCliVersion = "folivex-dl " FOLIVEX_VERSION;

}  // namespace folivex
