// The simple GET on libcurl. Each thread keeps one easy handle, so a thread
// that fetches page after page from one host reuses its connection.
#include <curl/curl.h>

#include <cctype>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/fetch_common.h"
#include "platform/posix/curl_support.h"
#include "platform/services.h"

namespace folivex {
namespace {

struct Transfer {
  FetchResult* result = nullptr;
  IdleWatch idle;
  RateLimit* rate_limit = nullptr;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  Transfer* transfer = static_cast<Transfer*>(user);
  Bytes& body = transfer->result->body;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  body.insert(body.end(), bytes, bytes + size * count);
  if (transfer->rate_limit) transfer->rate_limit->Take(size * count);
  return size * count;
}

// Keeps the Retry-After of the last response (a redirect's own is dropped
// when the next status line arrives).
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  FetchResult* result = static_cast<Transfer*>(user)->result;
  const std::string_view line(data, size * count);
  constexpr std::string_view kName = "retry-after:";
  if (line.rfind("HTTP/", 0) == 0) {
    result->retry_after_s.reset();
  } else if (line.size() > kName.size()) {
    bool same = true;
    for (std::size_t i = 0; i < kName.size() && same; ++i) {
      same = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i]))) == kName[i];
    }
    if (same) result->retry_after_s = ParseRetryAfter(line.substr(kName.size()));
  }
  return size * count;
}

std::string Describe(CURLcode code, const char* detail) {
  std::string text = *detail ? detail : curl_easy_strerror(code);
  return text;
}

Failure FailureFor(CURLcode code, const char* detail, const Transfer& transfer,
                   const FetchResult& result) {
  const std::string why = Describe(code, detail);
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return {FailureKind::NoConnection, why};
    case CURLE_OPERATION_TIMEDOUT:
      return {FailureKind::Timeout, why};
    case CURLE_ABORTED_BY_CALLBACK:
      if (transfer.idle.stalled) {
        return {FailureKind::Timeout, "no data for " + std::to_string(transfer.idle.timeout_ms) + " ms"};
      }
      return {FailureKind::Other, why};
    case CURLE_GOT_NOTHING:
      return {FailureKind::NoResponse, why};
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return {result.status == 0 ? FailureKind::NoResponse : FailureKind::Reset, why};
    case CURLE_PARTIAL_FILE:
      return {FailureKind::CutShort, why};
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
      return {FailureKind::Security, why};
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return {FailureKind::BadAddress, why};
    default:
      return {FailureKind::Other, why};
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
  Transfer transfer;
  transfer.result = &result;
  transfer.idle.timeout_ms = options.idle_timeout_ms;
  transfer.rate_limit = options.rate_limit.get();
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
  ApplyTrustStore(curl);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
  if (options.connect_timeout_ms > 0) {
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connect_timeout_ms));
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  WatchIdle(curl, &transfer.idle);

  const CURLcode code = [&] {
    RequestSlots::Hold slot(options.slots.get());
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
    result.failure = FailureFor(code, detail, transfer, result);
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
