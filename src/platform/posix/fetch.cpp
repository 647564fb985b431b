// The simple GET on libcurl. Each thread keeps one easy handle, so a thread
// that fetches page after page from one host reuses its connection.
#include <curl/curl.h>

#include <string>

#include "platform/codepage.h"
#include "platform/fetch_common.h"
#include "platform/posix/curl_support.h"
#include "platform/services.h"

namespace folivex {
namespace {

struct Transfer {
  FetchResult* result = nullptr;
  IdleWatch idle;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  Bytes& body = static_cast<Transfer*>(user)->result->body;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  body.insert(body.end(), bytes, bytes + size * count);
  return size * count;
}

std::string Describe(CURLcode code, const char* detail) {
  std::string text = *detail ? detail : curl_easy_strerror(code);
  return text;
}

std::string ReasonFor(CURLcode code, const char* detail, const Transfer& transfer,
                      const FetchResult& result) {
  const std::string why = Describe(code, detail);
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return std::string(kFetchNoConnection) + ": " + why;
    case CURLE_OPERATION_TIMEDOUT:
      return std::string(kFetchTimeout) + ": " + why;
    case CURLE_ABORTED_BY_CALLBACK:
      if (transfer.idle.stalled) {
        return std::string(kFetchTimeout) + ": no data for " +
               std::to_string(transfer.idle.timeout_ms) + " ms";
      }
      return why;
    case CURLE_GOT_NOTHING:
      return std::string(kFetchNoResponse) + ": " + why;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return std::string(result.status == 0 ? kFetchNoResponse : kFetchReset) + ": " + why;
    case CURLE_PARTIAL_FILE:
      return std::string(kFetchCutShort) + ": " + why;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
      return std::string(kFetchSecurity) + ": " + why;
    default:
      return why;
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
    result.error = std::string(kFetchBadAddress) + ": " + GbkToUtf8(address);
    return result;
  }
  CURL* curl = ThreadEasy();
  if (!curl) {
    result.error = "the transfer could not be set up";
    return result;
  }
  Transfer transfer;
  transfer.result = &result;
  transfer.idle.timeout_ms = options.idle_timeout_ms;
  char detail[CURL_ERROR_SIZE] = {};

  CurlList headers;
  AppendLine(headers, "Accept: */*");
  AppendLine(headers, "Cache-Control: no-cache");
  AppendLine(headers, "Pragma: no-cache");
  const std::string url = EscapeUrlBytes(*target);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, kFetchUsesHttp10 ? CURL_HTTP_VERSION_1_0
                                                                : CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kFetchUserAgent);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_PROXY, "");  // direct, whatever the environment says
  ApplyTrustStore(curl);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
  if (options.connect_timeout_ms > 0) {
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connect_timeout_ms));
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  WatchIdle(curl, &transfer.idle);

  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  result.status = static_cast<int>(status);
  char* content_type = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &content_type) == CURLE_OK && content_type) {
    result.content_type = content_type;
  }
  if (code != CURLE_OK) {
    result.error = ReasonFor(code, detail, transfer, result);
  } else {
    curl_off_t expected = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
    result.error = CheckLength(result.body.size(), expected);
  }
  // The handle stays with the thread; nothing may point into this call.
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  return result;
}

Bytes FetchUrl(const Text& address) { return Fetch(address).body; }

}  // namespace folivex
