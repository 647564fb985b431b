#include "cli/options.h"

#include <gtest/gtest.h>

namespace folivex {
namespace {

TEST(ParseCommandLine, GoodCommandLines) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string output;
    int threads, attempts;
    std::optional<int> timeout;
    bool pdf, overwrite, quiet;
    std::vector<std::string> urls;
  } cases[] = {
      {"one address, defaults", {"http://h/b/index.html"}, ".", 10, 3, {}, false, false, false,
       {"http://h/b/index.html"}},
      {"short options with separate values", {"-o", "out", "-j", "4", "u1", "u2"}, "out", 4, 3, {},
       false, false, false, {"u1", "u2"}},
      {"attached values and a group", {"-qj32", "-oout", "u"}, "out", 32, 3, {}, false, false, true,
       {"u"}},
      {"long options with = and with a separate value",
       {"--output=d", "--threads", "1", "--tries=5", "--timeout", "7", "--pdf", "--overwrite", "u"},
       "d", 1, 5, 7, true, true, false, {"u"}},
      {"--retries counts after the first fetch", {"--retries", "4", "u"}, ".", 10, 5, {}, false, false, false,
       {"u"}},
      {"no retries at all", {"--retries=0", "u"}, ".", 10, 1, {}, false, false, false, {"u"}},
      {"an address list alone", {"-i", "-"}, ".", 10, 3, {}, false, false, false, {}},
      {"-- ends the options", {"--", "-not-an-option"}, ".", 10, 3, {}, false, false, false,
       {"-not-an-option"}},
      {"options after addresses", {"u", "--pdf"}, ".", 10, 3, {}, true, false, false, {"u"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ParsedCommandLine parsed = ParseCommandLine(c.args);
    ASSERT_TRUE(parsed.options) << parsed.error;
    const CliOptions& o = *parsed.options;
    EXPECT_EQ(o.output, c.output);
    EXPECT_EQ(o.threads, c.threads);
    EXPECT_EQ(o.attempts, c.attempts);
    EXPECT_EQ(o.timeout_seconds, c.timeout);
    EXPECT_EQ(o.pdf, c.pdf);
    EXPECT_EQ(o.overwrite, c.overwrite);
    EXPECT_EQ(o.quiet, c.quiet);
    EXPECT_EQ(o.urls, c.urls);
  }
}

TEST(ParseCommandLine, BadCommandLinesSayWhatIsWrong) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {"no address", {}, "no book address given"},
      {"no address, only options", {"-j", "4"}, "no book address given"},
      {"unknown long option", {"--speed", "u"}, "unknown option '--speed'"},
      {"unknown short option", {"-x", "u"}, "unknown option '-x'"},
      {"missing value", {"u", "--threads"}, "--threads needs a value"},
      {"value for a flag", {"--pdf=yes", "u"}, "--pdf takes no value"},
      {"threads out of range", {"-j", "33", "u"}, "--threads takes a whole number from 1 to 32, not '33'"},
      {"threads not a number", {"-j", "4x", "u"}, "--threads takes a whole number from 1 to 32, not '4x'"},
      {"zero threads", {"-j0", "u"}, "--threads takes a whole number from 1 to 32, not '0'"},
      {"tries zero", {"--tries", "0", "u"}, "--tries takes a whole number from 1 to 100, not '0'"},
      {"retries negative", {"--retries", "-1", "u"}, "--retries takes a whole number from 0 to 99, not '-1'"},
      {"header without a colon", {"--header", "X-Token abc", "u"}, "--header takes 'Name: value', not 'X-Token abc'"},
      {"header with an empty name", {"--header", ": v", "u"}, "--header takes 'Name: value', not ': v'"},
      {"header smuggling a line", {"--header", "A: b\r\nHost: evil", "u"},
       "--header takes 'Name: value', not 'A: b\r\nHost: evil'"},
      {"agent smuggling a line", {"--user-agent", "a\nb", "u"}, "--user-agent cannot hold a line break"},
      {"rate without a number", {"--limit-rate", "k", "u"},
       "--limit-rate takes bytes per second such as 500k or 2M, not 'k'"},
      {"rate with a unit of its own", {"--limit-rate", "5kb", "u"},
       "--limit-rate takes bytes per second such as 500k or 2M, not '5kb'"},
      {"empty input file", {"-i", ""}, "--input-file needs a file, or - for standard input"},
      {"negative timeout", {"--timeout=-1", "u"}, "--timeout takes a number of seconds from 1 to 3600, not '-1'"},
      {"bad page list", {"--pages", "3-1", "u"}, "--pages: '3-1' is not a page or a range like 3, 5-9 or 30-"},
      {"empty page item", {"--pages", "1,,2", "u"}, "--pages: '' is not a page or a range like 3, 5-9 or 30-"},
      {"empty title", {"--title=", "u"}, "--title needs a text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ParsedCommandLine parsed = ParseCommandLine(c.args);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.error, c.message);
  }
}

TEST(ParseCommandLine, HelpAndVersionNeedNoAddress) {
  for (const char* arg : {"-h", "--help", "--version"}) {
    SCOPED_TRACE(arg);
    EXPECT_TRUE(ParseCommandLine({arg}).options);
  }
}

TEST(ParseCommandLine, RequestOptionsAreKeptAsGiven) {
  const ParsedCommandLine parsed = ParseCommandLine(
      {"--user-agent", "Reader/2", "--referer=http://h/shelf", "--header", "X-A: 1", "--header", "X-B:2",
       "--cookies", "c.txt", "--proxy", "", "--limit-rate", "1.5M", "--report", "r.json", "-i", "a.txt", "-i-"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  const CliOptions& o = *parsed.options;
  EXPECT_EQ(o.user_agent, "Reader/2");
  EXPECT_EQ(o.referer, "http://h/shelf");
  EXPECT_EQ(o.headers, (std::vector<std::string>{"X-A: 1", "X-B:2"}));
  EXPECT_EQ(o.cookies_file, "c.txt");
  EXPECT_EQ(o.proxy, "") << "an empty proxy is kept: it means direct";
  EXPECT_EQ(o.limit_rate, 1572864);
  EXPECT_EQ(o.report_file, "r.json");
  EXPECT_EQ(o.input_files, (std::vector<std::string>{"a.txt", "-"}));
}

TEST(ParseRate, TakesBytesPerSecondWithBinarySuffixes) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> rate;
  } cases[] = {
      {"100000", 100000}, {"500k", 512000}, {"2M", 2097152}, {"0.5K", 512}, {"1g", 1073741824LL},
      {"", std::nullopt}, {"0", std::nullopt}, {"-5k", std::nullopt}, {"1.2.3", std::nullopt},
      {"M", std::nullopt}, {"10 k", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseRate(c.text), c.rate) << c.text;
}

TEST(AddressesInList, SkipsBlankLinesAndComments) {
  EXPECT_EQ(AddressesInList("# my shelf\r\n\nhttp://a/index.html\r\n   \n  http://b/index.html  \n"
                            "\t# indented comment\nhttp://c/index.html"),
            (std::vector<std::string>{"http://a/index.html", "http://b/index.html", "http://c/index.html"}));
  EXPECT_TRUE(AddressesInList("").empty());
}

TEST(PageList, SelectsThePagesOfTheBook) {
  struct Case {
    const char* list;
    int count;
    std::vector<int> pages;
  } cases[] = {
      {"1-3,5,8-", 10, {1, 2, 3, 5, 8, 9, 10}},
      {"5", 3, {}},
      {"2-100", 4, {2, 3, 4}},
      {"3,1,3,2-3", 5, {1, 2, 3}},
      {"7-", 5, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    std::string error;
    const auto list = PageList::Parse(c.list, &error);
    ASSERT_TRUE(list) << error;
    EXPECT_EQ(list->Select(c.count), c.pages);
  }
}

}  // namespace
}  // namespace folivex
