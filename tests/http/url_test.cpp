#include "http/url.h"

#include <gtest/gtest.h>

#include <optional>

namespace folivex {
namespace {

TEST(Url, TakesAddressesApart) {
  struct Case {
    const char* name;
    std::string_view address;
    bool drop_subdomains;
    bool keep_port;
    std::optional<int> suffix_dots;
    Text host;
    // Port and path are checked where given; they take no options.
    std::optional<int> port;
    const char* path;
  } cases[] = {
      {"port and path", "http://host:8080/a/b", false, false, std::nullopt, "host", 8080, "/a/b"},
      {"port kept", "http://host:8080/a/b", false, true, std::nullopt, "host:8080", {}, nullptr},
      {"no scheme", "Host.Example.COM/x", false, false, std::nullopt, "host.example.com", 80, "/x"},
      {"https in capitals, no path", "HTTPS://a.example.com", false, false, std::nullopt,
       "a.example.com", 443, "/"},
      {"https with port", "https://h:8443/", false, false, std::nullopt, "h", 8443, "/"},
      {"empty port", "http://h:/x", false, false, std::nullopt, "h", 0, "/x"},
      {"non-numeric port", "http://h:abc/", false, false, std::nullopt, "h", 0, "/"},
      {"host inside the scheme letters", "http://t/p", false, false, std::nullopt, "t", 80, "/p"},
      {"query right after the host stays in it", "http://h?q=1", false, false, std::nullopt,
       "h?q=1", 80, "/"},
      {"credentials are not recognised", "http://u:p@h:81/", false, false, std::nullopt, "u", 81,
       "/"},
      {"http:// later in a scheme-less address", "a.com/?r=http://b/x", false, false,
       std::nullopt, "b", 80, "/x"},
      {"empty address", "", false, false, std::nullopt, "", 80, "/"},
      {"drop subdomains", "http://a.example.com/", true, false, std::nullopt, "example.com", {},
       nullptr},
      {"drop subdomains, one label", "http://localhost/", true, false, std::nullopt, "localhost",
       {}, nullptr},
      {"drop subdomains, port cut", "http://a.example.com:81/", true, false, std::nullopt,
       "example.com", {}, nullptr},
      {"drop subdomains, port kept", "http://a.example.com:81/", true, true, std::nullopt,
       "example.com:81", {}, nullptr},
      {"suffix 2, dropped", "a.example.com.cn", true, false, 2, "example.com.cn", {}, nullptr},
      {"suffix 2, kept", "a.example.com.cn", false, false, 2, "a.example.com.cn", {}, nullptr},
      {"suffix 2, kept, one more label", "b.a.example.com.cn", false, false, 2,
       "a.example.com.cn", {}, nullptr},
      {"suffix 0, dropped", "a.example.com", true, false, 0, "com", {}, nullptr},
      {"suffix 1, dropped", "a.example.com", true, false, 1, "example.com", {}, nullptr},
      {"negative suffix is 0", "a.example.com", true, false, -1, "com", {}, nullptr},
      {"suffix mode, final dot never counts", "example.com.", true, false, 0, "com.", {},
       nullptr},
      {"suffix mode removes schemes anywhere", "http://a.example.com/?u=https://b", true, false,
       1, "example.com", {}, nullptr},
      {"suffix mode, port cut", "a.example.com:8080", true, false, 1, "example.com", {}, nullptr},
      {"suffix mode, port kept", "a.example.com:8080", true, true, 1, "example.com:8080", {},
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UrlHost(c.address, c.drop_subdomains, c.keep_port, c.suffix_dots), c.host);
    if (c.port) {
      EXPECT_EQ(UrlPort(c.address), *c.port);
    }
    if (c.path != nullptr) {
      EXPECT_EQ(UrlPath(c.address), c.path);
    }
  }
}

}  // namespace
}  // namespace folivex
