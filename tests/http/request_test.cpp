// HttpRequest over a recording fake of the Internet calls: the exact values
// handed to every call, what comes back to the caller, and that the handles
// close newest first on every path.
#include "http/request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace folivex {
namespace {

class RecordingApi final : public InternetApi {
 public:
  // What the fake answers.
  bool fail_open = false;
  bool fail_connect = false;
  bool fail_request = false;
  bool fail_send = false;  // no response: nothing to read, no headers
  std::string response_headers = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
  std::string response_body = "hello";

  // What the routine handed over.
  struct OpenCall {
    Text agent;
    AccessType access;
    std::optional<Text> proxy, bypass;
    std::uint32_t flags;
  };
  struct ConnectCall {
    Handle session;
    Text host;
    int port;
    std::uint32_t service;
  };
  struct RequestCall {
    Handle connection;
    Text verb, path, version;
    std::uint32_t flags;
  };
  struct SendCall {
    Handle request;
    Text headers;
    bool has_data;
    std::string data;
  };
  std::vector<OpenCall> opens;
  std::vector<ConnectCall> connects;
  std::vector<RequestCall> requests;
  std::vector<SendCall> sends;
  std::vector<std::uint32_t> read_sizes;
  std::vector<Handle> closed;
  std::vector<std::string> order;  // the calls by name, in order

  Handle session_handle() { return &session_; }
  Handle connection_handle() { return &connection_; }
  Handle request_handle() { return &request_; }

  Handle Open(const Text& agent, AccessType access, const Text* proxy, const Text* bypass,
              std::uint32_t flags) override {
    order.push_back("Open");
    opens.push_back({agent, access, proxy ? std::optional<Text>(*proxy) : std::nullopt,
                     bypass ? std::optional<Text>(*bypass) : std::nullopt, flags});
    return fail_open ? nullptr : session_handle();
  }
  Handle Connect(Handle session, const Text& host, int port, std::uint32_t service) override {
    order.push_back("Connect");
    connects.push_back({session, host, port, service});
    return fail_connect ? nullptr : connection_handle();
  }
  Handle OpenRequest(Handle connection, const Text& verb, const Text& path, const Text& version,
                     std::uint32_t flags) override {
    order.push_back("OpenRequest");
    requests.push_back({connection, verb, path, version, flags});
    return fail_request ? nullptr : request_handle();
  }
  bool SendRequest(Handle request, const Text& headers, const std::uint8_t* data,
                   std::uint32_t size) override {
    order.push_back("Send");
    sends.push_back({request, headers, data != nullptr,
                     data ? std::string(reinterpret_cast<const char*>(data), size) : ""});
    EXPECT_EQ(data == nullptr, size == 0);
    return !fail_send;
  }
  bool ReadFile(Handle request, void* buffer, std::uint32_t size, std::uint32_t* count) override {
    EXPECT_EQ(request, request_handle());
    read_sizes.push_back(size);
    *count = 0;
    if (fail_send) return false;
    // A short piece first, so the routine must not assume full chunks.
    const std::size_t piece = read_position_ == 0 ? 7 : size;
    const std::size_t n = std::min(piece, response_body.size() - read_position_);
    std::memcpy(buffer, response_body.data() + read_position_, n);
    read_position_ += n;
    *count = static_cast<std::uint32_t>(n);
    return true;
  }
  bool QueryRawHeaders(Handle request, char* buffer, std::uint32_t* length) override {
    EXPECT_EQ(request, request_handle());
    order.push_back("Query");
    query_lengths.push_back(*length);
    if (fail_send) return false;
    const std::uint32_t needed = static_cast<std::uint32_t>(response_headers.size() + 1);
    if (!buffer || *length < needed) {
      *length = needed;
      return false;
    }
    std::memcpy(buffer, response_headers.c_str(), needed);
    *length = needed - 1;
    return true;
  }
  bool Close(Handle handle) override {
    order.push_back("Close");
    closed.push_back(handle);
    return true;
  }

  std::vector<std::uint32_t> query_lengths;

 private:
  char session_ = 0, connection_ = 0, request_ = 0;
  std::size_t read_position_ = 0;
};

constexpr std::uint32_t kHttpFlags = 0x80004010u;
constexpr std::uint32_t kHttpsFlags = 0x80800010u;

std::string DefaultHeaders(const std::string& address) {
  return "Accept: */*\r\nReferer: " + address + "\r\nAccept-Language: zh-cn";
}

TEST(HttpRequest, OnlyTheAddressMakesAPlainGet) {
  struct Case {
    const char* name;
    const char* address;
    const char* host;
    int port;
    const char* path;
    std::uint32_t flags;
  } cases[] = {
      {"http", "http://host/p", "host", 80, "/p", kHttpFlags},
      {"https", "https://host/p", "host", 443, "/p", kHttpsFlags},
      {"upper-case scheme and port", "HTTPS://Host:8443/a?b=1", "host", 8443, "/a?b=1",
       kHttpsFlags},
      {"no scheme", "host/x", "host", 80, "/x", kHttpFlags},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingApi api;
    const Bytes body = HttpRequest(c.address, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   false, nullptr, nullptr, std::nullopt, api);
    EXPECT_EQ(std::string(body.begin(), body.end()), "hello");
    ASSERT_EQ(api.opens.size(), 1u);
    EXPECT_EQ(api.opens[0].agent, kDefaultUserAgent);
    EXPECT_EQ(api.opens[0].access, InternetApi::AccessType::kDirect);
    EXPECT_FALSE(api.opens[0].proxy.has_value());
    EXPECT_FALSE(api.opens[0].bypass.has_value());
    EXPECT_EQ(api.opens[0].flags, 0u);
    ASSERT_EQ(api.connects.size(), 1u);
    EXPECT_EQ(api.connects[0].session, api.session_handle());
    EXPECT_EQ(api.connects[0].host, c.host);
    EXPECT_EQ(api.connects[0].port, c.port);
    EXPECT_EQ(api.connects[0].service, kInternetServiceHttp);
    ASSERT_EQ(api.requests.size(), 1u);
    EXPECT_EQ(api.requests[0].connection, api.connection_handle());
    EXPECT_EQ(api.requests[0].verb, "GET");
    EXPECT_EQ(api.requests[0].path, c.path);
    EXPECT_EQ(api.requests[0].version, "HTTP/1.1");
    EXPECT_EQ(api.requests[0].flags, c.flags);
    ASSERT_EQ(api.sends.size(), 1u);
    EXPECT_EQ(api.sends[0].headers, DefaultHeaders(c.address));
    EXPECT_FALSE(api.sends[0].has_data);
    for (std::uint32_t size : api.read_sizes) EXPECT_EQ(size, 1024u);
    EXPECT_EQ(api.closed, (std::vector<InternetApi::Handle>{
                              api.request_handle(), api.connection_handle(), api.session_handle()}));
    EXPECT_EQ(api.order, (std::vector<std::string>{"Open", "Connect", "OpenRequest", "Send",
                                                   "Query", "Close", "Close", "Close"}));
  }
}

TEST(HttpRequest, FlagWordFollowsSchemeRedirectAndCookies) {
  struct Case {
    const char* name;
    const char* address;
    bool no_redirect;
    bool supply_cookies;
    std::uint32_t flags;
  } cases[] = {
      {"http", "http://h/", false, false, 0x80004010u},
      {"http no redirect", "http://h/", true, false, 0x80204010u},
      {"http cookies", "http://h/", false, true, 0x80084010u},
      {"https", "https://h/", false, false, 0x80800010u},
      {"https no redirect and cookies", "https://h/", true, true, 0x80A80010u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingApi api;
    Text cookies;
    HttpRequest(c.address, 0, nullptr, c.supply_cookies ? &cookies : nullptr, nullptr, nullptr,
                nullptr, c.no_redirect, nullptr, nullptr, std::nullopt, api);
    ASSERT_EQ(api.requests.size(), 1u);
    EXPECT_EQ(api.requests[0].flags, c.flags);
  }
}

TEST(HttpRequest, VerbTableAndBodyRule) {
  struct Case {
    const char* name;
    int method;
    const char* body_text;      // null: not given
    const char* body_bytes;     // null: not given
    const char* verb;
    bool sends_data;
    const char* data;
    bool content_type;
  } cases[] = {
      {"GET never sends a body", 0, "x=1", nullptr, "GET", false, "", false},
      {"index 9 is GET", 9, "x=1", nullptr, "GET", false, "", false},
      {"index -1 is GET", -1, "x=1", "raw", "GET", false, "", false},
      {"POST with text", 1, "x=1", nullptr, "POST", true, "x=1", true},
      {"POST bytes win over text", 1, "x=1", "raw", "POST", true, "raw", true},
      {"POST without a body", 1, nullptr, nullptr, "POST", false, "", true},
      {"HEAD", 2, "x=1", nullptr, "HEAD", true, "x=1", false},
      {"PUT", 3, "x=1", nullptr, "PUT", true, "x=1", false},
      {"OPTIONS", 4, "x=1", nullptr, "OPTIONS", true, "x=1", false},
      {"DELETE", 5, "x=1", nullptr, "DELETE", true, "x=1", false},
      {"TRACE", 6, "x=1", nullptr, "TRACE", true, "x=1", false},
      {"CONNECT", 7, nullptr, "raw", "CONNECT", true, "raw", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingApi api;
    const Text body_text = c.body_text ? c.body_text : "";
    Bytes body_bytes = c.body_bytes ? TextToBytes(c.body_bytes) : Bytes();
    HttpRequest("http://h/f", c.method, c.body_text ? &body_text : nullptr, nullptr, nullptr,
                nullptr, nullptr, false, &body_bytes, nullptr, std::nullopt, api);
    ASSERT_EQ(api.requests.size(), 1u);
    EXPECT_EQ(api.requests[0].verb, c.verb);
    ASSERT_EQ(api.sends.size(), 1u);
    EXPECT_EQ(api.sends[0].has_data, c.sends_data);
    EXPECT_EQ(api.sends[0].data, c.data);
    std::string expected = DefaultHeaders("http://h/f");
    if (c.content_type) expected += "\r\nContent-Type: application/x-www-form-urlencoded";
    EXPECT_EQ(api.sends[0].headers, expected);
    // The caller's bytes hold what was sent (a GET leaves them alone).
    const std::string after(body_bytes.begin(), body_bytes.end());
    EXPECT_EQ(after, c.method >= 1 && c.method <= 7 ? std::string(c.data)
                                                    : std::string(c.body_bytes ? c.body_bytes : ""));
  }
}

TEST(HttpRequest, ExtraHeadersChooseTheAgentAndAreCompleted) {
  struct Case {
    const char* name;
    const char* extra;
    const char* agent;
    const char* sent;  // "@" stands for the address
  } cases[] = {
      {"user agent and accept", "User-Agent: X\r\nAccept: text/html", "X",
       "User-Agent: X\r\nAccept: text/html\r\nReferer: @\r\nAccept-Language: zh-cn"},
      {"lower-case user agent line", "user-agent: X", "X",
       "user-agent: X\r\nAccept: */*\r\nReferer: @\r\nAccept-Language: zh-cn"},
      {"own referer and language", "Referer: r\r\nAccept-Language: en", kDefaultUserAgent,
       "Referer: r\r\nAccept-Language: en\r\nAccept: */*"},
      {"user agent in the middle", "A: 1\r\nUser-Agent:  Y \r\nB: 2", "Y",
       "A: 1\r\nUser-Agent:  Y \r\nB: 2\r\nAccept: */*\r\nReferer: @\r\nAccept-Language: zh-cn"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingApi api;
    const std::string address = "http://h/p";
    Text extra = c.extra;
    HttpRequest(address, 0, nullptr, nullptr, nullptr, &extra, nullptr, false, nullptr, nullptr,
                std::nullopt, api);
    std::string sent = c.sent;
    if (auto at = sent.find('@'); at != std::string::npos) sent.replace(at, 1, address);
    ASSERT_EQ(api.opens.size(), 1u);
    EXPECT_EQ(api.opens[0].agent, c.agent);
    ASSERT_EQ(api.sends.size(), 1u);
    EXPECT_EQ(api.sends[0].headers, sent);
    EXPECT_EQ(extra, sent);
  }
}

TEST(HttpRequest, ProxyFormsAndTheEmptyBypassList) {
  struct Case {
    const char* name;
    const char* address;
    const char* proxy;
    InternetApi::AccessType access;
    std::optional<Text> proxy_sent, bypass_sent;
  } cases[] = {
      {"http through a proxy", "http://h/", "p:8080", InternetApi::AccessType::kProxy,
       Text("http=p:8080"), Text("")},
      {"https through a proxy", "https://h/", "p:8080", InternetApi::AccessType::kProxy,
       Text("p:8080"), Text("")},
      {"empty proxy is direct", "http://h/", "", InternetApi::AccessType::kDirect, std::nullopt,
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingApi api;
    const Text proxy = c.proxy;
    HttpRequest(c.address, 0, nullptr, nullptr, nullptr, nullptr, nullptr, false, nullptr,
                &proxy, std::nullopt, api);
    ASSERT_EQ(api.opens.size(), 1u);
    EXPECT_EQ(api.opens[0].access, c.access);
    EXPECT_EQ(api.opens[0].proxy, c.proxy_sent);
    EXPECT_EQ(api.opens[0].bypass, c.bypass_sent);
  }
}

TEST(HttpRequest, CookieTextIsSentAndBroughtUpToDate) {
  const std::string kSetCookies =
      "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n";
  struct Case {
    const char* name;
    const char* cookies;  // null: not supplied
    std::optional<bool> auto_merge;
    const char* cookie_line;  // appended to the default headers
    bool no_cookies_flag;
    const char* cookies_after;
    const char* received_after;
  } cases[] = {
      {"not supplied", nullptr, std::nullopt, "", false, nullptr, "a=1; b=2"},
      {"bare item", "c=3", std::nullopt, "\r\nCookie: c=3", true, "a=1; b=2;c=3", "a=1; b=2;c=3"},
      {"whole header line", "Cookie: c=3", std::nullopt, "\r\nCookie: c=3", true,
       "a=1; b=2;Cookie: c=3", "a=1; b=2;Cookie: c=3"},
      {"supplied but empty", "", std::nullopt, "", true, "a=1; b=2", "a=1; b=2"},
      {"received one replaces the old", "a=0; z=9", std::nullopt, "\r\nCookie: a=0; z=9", true,
       "a=1; b=2; z=9", "a=1; b=2; z=9"},
      {"no merge", "c=3", false, "\r\nCookie: c=3", true, "c=3", "a=1; b=2"},
      {"merge asked for", "c=3", true, "\r\nCookie: c=3", true, "a=1; b=2;c=3", "a=1; b=2;c=3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingApi api;
    api.response_headers = kSetCookies;
    Text cookies = c.cookies ? c.cookies : "";
    Text received = "old";
    Text headers;
    HttpRequest("http://h/", 0, nullptr, c.cookies ? &cookies : nullptr, &received, nullptr,
                &headers, false, nullptr, nullptr, c.auto_merge, api);
    ASSERT_EQ(api.sends.size(), 1u);
    EXPECT_EQ(api.sends[0].headers, DefaultHeaders("http://h/") + c.cookie_line);
    EXPECT_EQ((api.requests[0].flags & kInternetFlagNoCookies) != 0, c.no_cookies_flag);
    EXPECT_EQ(headers, kSetCookies);
    if (c.cookies_after) {
      EXPECT_EQ(cookies, c.cookies_after);
    }
    EXPECT_EQ(received, c.received_after);
  }
}

TEST(HttpRequest, ResponseWithoutBodyStillGivesHeadersAndCookies) {
  RecordingApi api;
  api.response_headers = "HTTP/1.1 204 No Content\r\nSet-Cookie: s=1\r\n\r\n";
  api.response_body.clear();
  Text received, headers;
  const Bytes body = HttpRequest("http://h/", 0, nullptr, nullptr, &received, nullptr, &headers,
                                 false, nullptr, nullptr, std::nullopt, api);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(headers, api.response_headers);
  EXPECT_EQ(received, "s=1");
}

TEST(HttpRequest, LongBodyArrivesWholeAndInOrder) {
  RecordingApi api;
  api.response_body.clear();
  for (int i = 0; i < 5000; ++i) api.response_body += static_cast<char>('a' + i % 26);
  const Bytes body = HttpRequest("http://h/", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 false, nullptr, nullptr, std::nullopt, api);
  EXPECT_EQ(std::string(body.begin(), body.end()), api.response_body);
  for (std::uint32_t size : api.read_sizes) EXPECT_EQ(size, 1024u);
}

// A header block longer than the first buffer comes through whole: the
// routine asks again with the size the system names.
TEST(HttpRequest, HeaderBlockLongerThanTheFirstBufferIsDeliveredWhole) {
  struct Case {
    const char* name;
    std::size_t length;  // of the block, without the zero after it
  } cases[] = {
      {"fits with its zero", 4999},
      {"one byte too long", 5000},
      {"far too long", 70000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingApi api;
    std::string block = "HTTP/1.1 200 OK\r\nSet-Cookie: k=v\r\nX: ";
    block += std::string(c.length - block.size() - 4, 'x');
    block += "\r\n\r\n";
    api.response_headers = block;
    Text headers, received;
    HttpRequest("http://h/", 0, nullptr, nullptr, &received, nullptr, &headers, false, nullptr,
                nullptr, std::nullopt, api);
    EXPECT_EQ(headers.size(), block.size());
    EXPECT_EQ(headers, block);
    EXPECT_EQ(received, "k=v");
    ASSERT_FALSE(api.query_lengths.empty());
    EXPECT_EQ(api.query_lengths[0], 5000u);
  }
}

TEST(HttpRequest, NoResponseStillWritesTheOutputs) {
  RecordingApi api;
  api.fail_send = true;
  Text extra, headers = "old", received = "old";
  const Bytes body = HttpRequest("http://h/p", 0, nullptr, nullptr, &received, &extra, &headers,
                                 false, nullptr, nullptr, std::nullopt, api);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(extra, DefaultHeaders("http://h/p"));
  EXPECT_EQ(headers, std::string(5000, ' '));
  EXPECT_EQ(received, "");
  EXPECT_EQ(api.closed, (std::vector<InternetApi::Handle>{
                            api.request_handle(), api.connection_handle(), api.session_handle()}));
}

TEST(HttpRequest, FailedOpenConnectOrRequestClosesNewestFirstAndTouchesNothing) {
  struct Case {
    const char* name;
    bool open, connect, request;
    int closes;  // how many of request, connection, session were opened
  } cases[] = {
      {"open fails", true, false, false, 0},
      {"connect fails", false, true, false, 1},
      {"request fails", false, false, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingApi api;
    api.fail_open = c.open;
    api.fail_connect = c.connect;
    api.fail_request = c.request;
    Text cookies = "c=1", received = "r", extra = "E: 1", headers = "h";
    Bytes bytes;
    const Text body_text = "x=1";
    const Bytes body = HttpRequest("http://h/", 1, &body_text, &cookies, &received, &extra,
                                   &headers, false, &bytes, nullptr, std::nullopt, api);
    EXPECT_TRUE(body.empty());
    EXPECT_TRUE(api.sends.empty());
    std::vector<InternetApi::Handle> expected;
    if (c.closes >= 2) expected.push_back(api.connection_handle());
    if (c.closes >= 1) expected.push_back(api.session_handle());
    EXPECT_EQ(api.closed, expected);
    EXPECT_EQ(cookies, "c=1");
    EXPECT_EQ(received, "r");
    EXPECT_EQ(extra, "E: 1");
    EXPECT_EQ(headers, "h");
    EXPECT_TRUE(bytes.empty());
  }
}

}  // namespace
}  // namespace folivex
