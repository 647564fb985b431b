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

}  // namespace folivex
