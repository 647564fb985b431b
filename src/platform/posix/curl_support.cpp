#include "platform/posix/curl_support.h"

#include <cstdlib>
#include <mutex>

namespace folivex {

void EnsureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool AppendLine(CurlList& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (!grown) return false;
  list.release();  // the grown list keeps every earlier node
  list.reset(grown);
  return true;
}

void ApplyTrustStore(CURL* easy) {
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* ca_file = std::getenv("FOLIVEX_CA_FILE"); ca_file && *ca_file) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, ca_file);
  }
}

namespace {

// Called often while bytes move and about once a second while none do.
int OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
  IdleWatch* watch = static_cast<IdleWatch*>(user);
  const auto now = std::chrono::steady_clock::now();
  if (down + up != watch->last_total) {
    watch->last_total = down + up;
    watch->last_progress = now;
    return 0;
  }
  if (watch->timeout_ms > 0 &&
      now - watch->last_progress > std::chrono::milliseconds(watch->timeout_ms)) {
    watch->stalled = true;
    return 1;
  }
  return 0;
}

}  // namespace

std::string EscapeUrlBytes(std::string_view url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : url) {
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void WatchIdle(CURL* easy, IdleWatch* watch) {
  watch->last_progress = std::chrono::steady_clock::now();
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, watch);
}

}  // namespace folivex
