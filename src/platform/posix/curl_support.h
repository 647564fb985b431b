// What the libcurl users of this folder share: one global initialisation,
// owning handle types, and the trust store for HTTPS.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

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

}  // namespace folivex
