// The simple GET on libcurl. Each thread keeps one easy handle, so a thread
// that fetches page after page from one host reuses its connection.
#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/fetch_common.h"
#include "platform/posix/curl_support.h"
#include "platform/services.h"

namespace folivex {
namespace {

// Keeps the Retry-After of the last response (a redirect's own is dropped
// when the next status line arrives).
void KeepRetryAfter(FetchResult& result, std::string_view line) {
  if (line.rfind("HTTP/", 0) == 0) {
    result.retry_after_s.reset();
  } else if (const auto value = HeaderLineValue(line, "retry-after")) {
    result.retry_after_s = ParseRetryAfter(*value);
  }
}

// The thread's own handle; curl_easy_reset keeps its open connections.
CURL* ThreadEasy() {
  thread_local CurlEasy easy;
  if (!easy) {
    EnsureCurlGlobalInit();
    easy.reset(curl_easy_init());
  } else {
    curl_easy_reset(easy.get());
  }
  return easy.get();
}

// curl receives into a buffer of this size; its own default, 16 KiB, cuts
// a page of a few hundred kilobytes into dozens of receive calls, each a
// wake-up of the thread and a call of the body sink. Every thread's handle
// keeps its buffer, so a larger one costs memory for each thread of a run
// (twice this size gains a tenth of a receive call on a 127 KB page).
constexpr long kReceiveBufferBytes = 128 * 1024;
// curl's own size, below which the buffer never goes.
constexpr long kCurlDefaultBufferBytes = 16 * 1024;

// With a rate limit for the run, every piece received is paid for with a
// pause before the next; the buffer holds no more than a tenth of a
// second's worth of the rate, so the pauses stay short.
long ReceiveBufferBytes(const FetchOptions& options) {
  if (!options.rate_limit) return kReceiveBufferBytes;
  const std::int64_t tenth = options.rate_limit->bytes_per_second() / 10;
  return static_cast<long>(std::clamp<std::int64_t>(tenth, kCurlDefaultBufferBytes, kReceiveBufferBytes));
}

// The body is reserved in one piece from the length the response
// announces (growing it piece by piece would copy it several times over),
// up to this much: page images are far smaller, and a length is only the
// server's word, so a body announced longer grows as its bytes come.
constexpr std::uint64_t kMostReservedAhead = 8 * 1024 * 1024;

}  // namespace

FetchResult Fetch(const Text& address, const FetchOptions& options) {
  FetchResult result;
  const std::optional<Text> target = FetchTarget(address);
  if (!target) {
    result.failure = Failure{FailureKind::BadAddress, GbkToUtf8(address)};
    return result;
  }
  CURL* curl = ThreadEasy();
  if (!curl) {
    result.failure = Failure{FailureKind::Other, "the transfer could not be set up"};
    return result;
  }
  GuardedTransfer transfer(
      options, {.header = [&](std::string_view line) { KeepRetryAfter(result, line); },
                .body = [&](std::string_view piece) {
                  const auto* bytes = reinterpret_cast<const std::uint8_t*>(piece.data());
                  result.body.insert(result.body.end(), bytes, bytes + piece.size());
                },
                .announced = [&](std::uint64_t length) {
                  result.body.reserve(result.body.size() +
                                      static_cast<std::size_t>(std::min(length, kMostReservedAhead)));
                }});
  char detail[CURL_ERROR_SIZE] = {};

  CurlList headers;
  AppendLine(headers, "Accept: */*");
  AppendLine(headers, "Cache-Control: no-cache");
  AppendLine(headers, "Pragma: no-cache");
  for (const std::string& line : options.headers) AppendLine(headers, line);
  const std::string url = EscapeUrlBytes(*target);
  const std::string cookie =
      options.cookies ? CookieHeaderFor(*options.cookies, url, static_cast<long long>(std::time(nullptr)))
                      : std::string();
  const std::string proxy = ProxyFor(options.proxy, url);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, kFetchUsesHttp10 ? CURL_HTTP_VERSION_1_0
                                                                : CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_USERAGENT,
                   options.user_agent.empty() ? kFetchUserAgent : options.user_agent.c_str());
  if (!options.referer.empty()) curl_easy_setopt(curl, CURLOPT_REFERER, options.referer.c_str());
  if (!cookie.empty()) curl_easy_setopt(curl, CURLOPT_COOKIE, cookie.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  // Only the proxy chosen here: an empty one is direct, whatever the
  // environment says (the command line reads the environment itself).
  curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
  if (!proxy.empty()) curl_easy_setopt(curl, CURLOPT_NOPROXY, options.proxy.no_proxy.c_str());
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, ReceiveBufferBytes(options));
  ApplyTrustStore(curl);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
  transfer.Install(curl);

  const CURLcode code = [&] {
    RequestSlots::Hold slot(options.slots.get(), options.slot_rank);
    return curl_easy_perform(curl);
  }();
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  result.status = static_cast<int>(status);
  char* content_type = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &content_type) == CURLE_OK && content_type) {
    result.content_type = content_type;
  }
  if (code != CURLE_OK) {
    result.failure = transfer.FailureAfter(code, detail);
  } else {
    curl_off_t expected = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
    result.failure = CheckLength(result.body.size(), expected);
  }
  // The handle stays with the thread; nothing may point into this call.
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  return result;
}

Bytes FetchUrl(const Text& address) { return Fetch(address).body; }

}  // namespace folivex
