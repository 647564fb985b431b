// What the libcurl users of this folder share: one global initialisation,
// owning handle types, and the trust store for HTTPS.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace folivex {

// curl_global_init is not thread-safe; every user calls this first.
void EnsureCurlGlobalInit();

struct CurlEasyCloser {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyCloser>;

struct CurlListCloser {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListCloser>;

// Appends one line; false when curl could not allocate it.
bool AppendLine(CurlList& list, const std::string& line);

// Certificates are always verified. FOLIVEX_CA_FILE names an extra PEM file
// of trusted authorities (tests make their own); the system's bundle is
// used otherwise.
void ApplyTrustStore(CURL* easy);

// Spaces, controls and bytes above 0x7F escaped as %XX, which curl needs
// and WinInet does on its own; everything else stays as written.
std::string EscapeUrlBytes(std::string_view url);

// Ends a transfer once no byte has moved for `timeout_ms` (0: never).
// curl's own low-speed check averages over several seconds, so a short
// silence after a few bytes would go unnoticed for too long.
struct IdleWatch {
  int timeout_ms = 0;
  curl_off_t last_total = -1;
  std::chrono::steady_clock::time_point last_progress = std::chrono::steady_clock::now();
  bool stalled = false;
};
// Installs the watch as the transfer's progress function.
void WatchIdle(CURL* easy, IdleWatch* watch);

}  // namespace folivex
