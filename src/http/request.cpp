#include "http/request.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <vector>

#include "http/cookies.h"
#include "http/url.h"
#include "platform/codepage.h"
#include "text/markers.h"

namespace folivex {
namespace {

constexpr std::array<const char*, 8> kVerbs = {"GET",     "POST",   "HEAD",  "PUT",
                                               "OPTIONS", "DELETE", "TRACE", "CONNECT"};
constexpr char kProtocolVersion[] = "HTTP/1.1";
constexpr std::uint32_t kReadChunk = 1024;
// The first header query's buffer, terminating zero included; a longer block
// is fetched again with the size the system asks for.
constexpr int kHeaderBuffer = 5000;

// One Internet handle, closed when the scope ends. Declared in the order
// opened, they close newest first.
class OwnedHandle {
 public:
  OwnedHandle(InternetApi& api, InternetApi::Handle handle) : api_(api), handle_(handle) {}
  ~OwnedHandle() { Reset(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  InternetApi::Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset() {
    if (handle_) api_.Close(handle_);
    handle_ = nullptr;
  }

 private:
  InternetApi& api_;
  InternetApi::Handle handle_;
};

Text UserAgentFrom(const Text& extra_headers) {
  if (FindText(extra_headers, "User-Agent:", 1, true) == -1) return kDefaultUserAgent;
  Text agent = TrimBoth(ExtractBetween(extra_headers + "\r\n", "User-Agent:", "\r\n"));
  // Another spelling such as "user-agent:" is not found with exact case; the
  // text after the first colon stands in, right for a single header line.
  if (agent.empty()) agent = TextAfterColon(extra_headers);
  return agent;
}

bool Contains(const Text& text, std::string_view sub) { return FindText(text, sub) != -1; }

Text ComposeHeaders(const Text& extra_headers, const Text& address, int method,
                    const Text& cookies) {
  Text h = extra_headers;
  if (h.empty()) {
    h = "Accept: */*";
  } else if (!Contains(h, "Accept:")) {
    h += "\r\nAccept: */*";
  }
  if (!Contains(h, "Referer:")) h += "\r\nReferer: " + address;
  if (!Contains(h, "Accept-Language:")) h += "\r\nAccept-Language: zh-cn";
  if (method == 1 && !Contains(h, "Content-Type:")) {
    h += "\r\nContent-Type: application/x-www-form-urlencoded";
  }
  if (!cookies.empty()) {
    // A caller may keep whole "Cookie:" lines instead of bare items.
    h += Contains(cookies, "Cookie:") ? "\r\n" + cookies : "\r\nCookie: " + cookies;
  }
  return h;
}

// The raw header block. The usual block fits the first buffer; a longer one
// makes the query fail with the size it needs, and is asked for again.
// When no block comes at all, the buffer's blanks remain.
Text QueryHeaders(InternetApi& api, InternetApi::Handle request) {
  std::vector<char> buffer(kHeaderBuffer, ' ');
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
    if (api.QueryRawHeaders(request, buffer.data(), &length)) break;
    if (length <= buffer.size()) break;
    buffer.assign(length, ' ');
  }
  const auto zero = std::find(buffer.begin(), buffer.end(), '\0');
  if (zero == buffer.end()) return Text(kHeaderBuffer, ' ');
  return Text(buffer.begin(), zero);
}

// The status code on the block's status line; 0 when there is none.
int StatusOf(const Text& headers) {
  if (headers.rfind("HTTP/", 0) != 0) return 0;
  const std::size_t space = headers.find(' ');
  int status = 0;
  for (std::size_t i = space + 1; space != Text::npos && i < headers.size() && i < space + 4; ++i) {
    if (headers[i] < '0' || headers[i] > '9') return 0;
    status = status * 10 + (headers[i] - '0');
  }
  return status;
}

// The whole routine; `outcome`, when given, also receives the status and
// why the exchange failed.
Bytes RunRequest(const Text& address, int method, const Text* bodyText, Text* cookies,
                 Text* receivedCookies, Text* extraHeaders, Text* responseHeaders,
                 bool noRedirect, Bytes* bodyBytes, const Text* proxy,
                 std::optional<bool> autoMerge, InternetApi& api, HttpRequestResult* outcome) {
  auto not_opened = [&](const char* what) {
    if (outcome) outcome->failure = Failure{FailureKind::Other, std::string("could not open the ") + what};
    return Bytes();
  };
  const bool merge = autoMerge.value_or(true);
  if (method < 0 || method > 7) method = 0;
  const Text verb = kVerbs[method];
  const bool secure = ToLower(TextLeft(address, 8)) == "https://";
  const Text no_text;
  const Text& extra_in = extraHeaders ? *extraHeaders : no_text;
  const Text& proxy_text = proxy ? *proxy : no_text;
  const Text& cookie_text = cookies ? *cookies : no_text;

  const Text agent = UserAgentFrom(extra_in);

  Bytes body;
  Text headers;
  {
    const Text empty_bypass;
    InternetApi::Handle opened;
    if (proxy_text.empty()) {
      opened = api.Open(agent, InternetApi::AccessType::kDirect, nullptr, nullptr, 0);
    } else if (secure) {
      opened = api.Open(agent, InternetApi::AccessType::kProxy, &proxy_text, &empty_bypass, 0);
    } else {
      const Text http_proxy = "http=" + proxy_text;
      opened = api.Open(agent, InternetApi::AccessType::kProxy, &http_proxy, &empty_bypass, 0);
    }
    OwnedHandle session(api, opened);
    if (!session) return not_opened("Internet session");

    OwnedHandle connection(api, api.Connect(session.get(), UrlHost(address), UrlPort(address),
                                            kInternetServiceHttp));
    if (!connection) return not_opened("connection");

    std::uint32_t flags = kInternetFlagReload | kInternetFlagNeedFile;
    if (cookies) flags |= kInternetFlagNoCookies;
    if (noRedirect) flags |= kInternetFlagNoAutoRedirect;
    flags |= secure ? kInternetFlagSecure : kInternetFlagIgnoreRedirectToHttps;
    OwnedHandle request(api, api.OpenRequest(connection.get(), verb, UrlPath(address),
                                             kProtocolVersion, flags));
    if (!request) return not_opened("request");

    const Text h = ComposeHeaders(extra_in, address, method, cookie_text);
    if (extraHeaders) *extraHeaders = h;

    if (method == 0) {
      api.SendRequest(request.get(), h, nullptr, 0);
    } else {
      Bytes sent = bodyBytes ? *bodyBytes : Bytes();
      if (sent.empty()) {
        sent = TextToBytes(bodyText ? *bodyText : no_text);
        if (bodyBytes) *bodyBytes = sent;
      }
      api.SendRequest(request.get(), h, sent.empty() ? nullptr : sent.data(),
                      static_cast<std::uint32_t>(sent.size()));
    }

    std::vector<std::uint8_t> chunk(kReadChunk, 0);
    for (;;) {
      std::uint32_t count = 0;
      api.ReadFile(request.get(), chunk.data(), kReadChunk, &count);
      if (count == 0) break;
      body.insert(body.end(), chunk.begin(), chunk.begin() + std::min(count, kReadChunk));
    }

    headers = QueryHeaders(api, request.get());
    if (responseHeaders) *responseHeaders = headers;
    if (outcome) {
      outcome->status = StatusOf(headers);
      outcome->failure = api.RequestFailure(request.get());
      if (!outcome->failure && outcome->status == 0) {
        outcome->failure = Failure{FailureKind::NoResponse, "no status line came back"};
      }
    }
  }  // request, connection, session close here, newest first

  Text received = CollectSetCookies(headers);
  if (merge && cookies) received = MergeCookies(*cookies, received);
  if (receivedCookies) *receivedCookies = received;
  return body;
}

}  // namespace

Bytes HttpRequest(const Text& address, int method, const Text* bodyText, Text* cookies,
                  Text* receivedCookies, Text* extraHeaders, Text* responseHeaders,
                  bool noRedirect, Bytes* bodyBytes, const Text* proxy,
                  std::optional<bool> autoMerge, InternetApi& api) {
  return RunRequest(address, method, bodyText, cookies, receivedCookies, extraHeaders,
                    responseHeaders, noRedirect, bodyBytes, proxy, autoMerge, api, nullptr);
}

HttpRequestResult FetchBookPage(const Text& address, const FetchOptions& options) {
  FetchOptions limits = options;
  limits.max_body_bytes = kMaxBookPageBytes;
  const std::unique_ptr<InternetApi> api = MakeSystemInternetApi(limits);
  return FetchBookPage(address, options, *api);
}

HttpRequestResult FetchBookPage(const Text& address, const FetchOptions& options,
                                InternetApi& api) {
  HttpRequestResult result;
  if (UrlHost(address).empty()) {
    result.failure = Failure{FailureKind::BadAddress, "no host in the address"};
    return result;
  }
  // What the options add: header lines (an agent or a Referer given there
  // replaces the routine's own), the matching cookies, the proxy.
  Text extra;
  const auto add = [&](const std::string& line) {
    if (!extra.empty()) extra += "\r\n";
    extra += Utf8ToGbkText(line);
  };
  if (!options.user_agent.empty()) add("User-Agent: " + options.user_agent);
  if (!options.referer.empty()) add("Referer: " + options.referer);
  for (const std::string& line : options.headers) add(line);
  const std::string utf8_address = GbkToUtf8(address);
  std::optional<Text> cookies;
  if (options.cookies) {
    cookies = CookieHeaderFor(*options.cookies, utf8_address, static_cast<long long>(std::time(nullptr)));
  }
  const Text proxy = ProxyFor(options.proxy, utf8_address);
  RequestSlots::Hold slot(options.slots.get(), options.slot_rank);
  result.body = RunRequest(address, 0, nullptr, cookies ? &*cookies : nullptr, nullptr,
                           extra.empty() ? nullptr : &extra, nullptr, false, nullptr,
                           proxy.empty() ? nullptr : &proxy, false, api, &result);
  return result;
}

Bytes HttpRequest(const Text& address, const FetchOptions& options) {
  HttpRequestResult page = FetchBookPage(address, options);
  return page.Completed() ? std::move(page.body) : Bytes();
}

}  // namespace folivex
