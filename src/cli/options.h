// The command line of folivex-dl.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace folivex {

// A set of page numbers as written on the command line: "1-20,25,30-".
class PageList {
 public:
  // Parses the list; an error message (for people) when it is malformed.
  static std::optional<PageList> Parse(const std::string& text, std::string* error);
  // The pages of 1..count that the list names, ascending, each once.
  std::vector<int> Select(int count) const;

 private:
  struct Range {
    int first, last;  // last < 0: open end
  };
  std::vector<Range> ranges_;
};

struct CliOptions {
  std::string output = ".";  // UTF-8 (the terminal's text)
  int threads = 10;
  int attempts = 3;
  std::optional<int> timeout_seconds;
  // The largest page image accepted, in bytes (--max-page-size).
  std::optional<std::uint64_t> max_page_bytes;
  std::optional<PageList> pages;
  std::optional<std::string> title;  // UTF-8
  bool pdf = false;
  bool overwrite = false;
  bool quiet = false;
  bool show_help = false;
  bool show_version = false;
  std::vector<std::string> urls;
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

// The text of --help.
std::string UsageText();

inline constexpr const char* kCliVersion = "folivex-dl 1.0.1.1";

}  // namespace folivex
