// folivex-dl behind a proxy: the option and the environment's variables,
// checked on a loopback forward proxy that records what passes through.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "cli/cli_app.h"
#include "support/forward_proxy.h"
#include "support/sample_site.h"
#include "support/scratch_folder.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

// Sets the proxy variables for one case and restores them after it.
class ProxyEnvironment {
 public:
  explicit ProxyEnvironment(const std::map<std::string, std::string>& values) {
    for (const char* name : kNames) {
      if (const char* old = ::getenv(name)) saved_[name] = old;
      ::unsetenv(name);
    }
    for (const auto& [name, value] : values) ::setenv(name.c_str(), value.c_str(), 1);
  }
  ~ProxyEnvironment() {
    for (const char* name : kNames) ::unsetenv(name);
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  static constexpr const char* kNames[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                           "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
  std::map<std::string, std::string> saved_;
};

TEST(FolivexDlProxy, GoesThroughTheProxyTheOptionOrTheEnvironmentNames) {
  SampleSite site;
  site.AddBook({.id = "a", .title = "Alpha", .pages = 3});
  ASSERT_TRUE(site.Start()) << site.error();
  ForwardProxy proxy;
  ASSERT_TRUE(proxy.Start()) << proxy.error();

  struct Case {
    const char* name;
    std::map<std::string, std::string> env;
    std::vector<std::string> args;
    bool through_proxy;
  } cases[] = {
      {.name = "--proxy", .env = {}, .args = {"--proxy", proxy.Url()}, .through_proxy = true},
      {.name = "http_proxy", .env = {{"http_proxy", proxy.Url()}}, .through_proxy = true},
      {.name = "ALL_PROXY", .env = {{"ALL_PROXY", proxy.Url()}}, .through_proxy = true},
      {.name = "HTTP_PROXY is not read", .env = {{"HTTP_PROXY", proxy.Url()}}, .through_proxy = false},
      {.name = "no_proxy names the host", .env = {{"http_proxy", proxy.Url()}, {"no_proxy", "localhost,127.0.0.1"}},
       .through_proxy = false},
      {.name = "NO_PROXY holds for --proxy too", .env = {{"NO_PROXY", "127.0.0.1"}},
       .args = {"--proxy", proxy.Url()}, .through_proxy = false},
      {.name = "an empty --proxy goes direct", .env = {{"http_proxy", proxy.Url()}}, .args = {"--proxy", ""},
       .through_proxy = false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProxyEnvironment env(c.env);
    ScratchFolder out;
    const std::size_t before = proxy.Targets().size();
    site.server().ClearRequests();
    std::vector<std::string> args = {"-q", "-o", out.text()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(site.BookUrl("a"));
    EXPECT_EQ(RunCli(args), kExitOk);
    for (int n = 1; n <= 3; ++n) {
      EXPECT_EQ(ScratchFolder::ReadFile(out.root() / "Alpha" / (std::to_string(n) + ".jpg")), site.PageBytes("a", n));
    }
    const std::vector<std::string> targets = proxy.Targets();
    const std::vector<std::string> passed(targets.begin() + static_cast<std::ptrdiff_t>(before), targets.end());
    if (c.through_proxy) {
      // The book page and each picture, as absolute addresses.
      EXPECT_EQ(passed.size(), 4u);
      EXPECT_NE(std::find(passed.begin(), passed.end(), site.BookUrl("a")), passed.end());
      EXPECT_NE(std::find(passed.begin(), passed.end(), site.ImageUrl("a", 3)), passed.end());
    } else {
      EXPECT_TRUE(passed.empty());
    }
  }
}

}  // namespace
}  // namespace folivex
