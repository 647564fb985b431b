// What the libcurl users of this folder share: one global initialisation,
// owning handle types, the trust store for HTTPS, and the guard that holds
// a transfer to its limits.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "platform/fetch_common.h"
#include "platform/services.h"

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

// One transfer held to the limits of its FetchOptions: the body bound (a
// larger announced length is refused when the header block ends, a body
// that grows past it is stopped), the header block bound, the idle
// time-out, the rate floor, and the run's rate limit (the time it holds the
// transfer back counts against neither time-out nor floor). It owns curl's write, header and progress
// callbacks. No exception leaves them: whatever the owner's sinks throw
// (std::bad_alloc among others) is caught, and the transfer stops with a
// failure instead.
class GuardedTransfer {
 public:
  struct Sinks {
    // Every header line of every response, the status line first, as curl
    // hands it over (line end included).
    std::function<void(std::string_view line)> header;
    // The body, piece by piece, never beyond the bound.
    std::function<void(std::string_view piece)> body;
  };

  GuardedTransfer(const FetchOptions& limits, Sinks sinks);
  GuardedTransfer(const GuardedTransfer&) = delete;
  GuardedTransfer& operator=(const GuardedTransfer&) = delete;

  // Installs the callbacks and the connection time-out on `easy`; this
  // object must outlive the transfer.
  void Install(CURL* easy);

  // Why the transfer that curl ended with `code` failed (`detail`: curl's
  // error buffer); nothing when it completed.
  std::optional<Failure> FailureAfter(CURLcode code, const char* detail) const;

  // The status of the latest response begun; 0 before any.
  int status() const { return status_; }

 private:
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user);
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user);
  static int OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up);
  void Stop(Failure failure);
  void StopOnException();
  void Header(std::string_view line);

  std::uint64_t max_body_bytes_;
  int connect_timeout_ms_;
  int idle_timeout_ms_;
  int min_bytes_per_second_;
  std::shared_ptr<RateLimit> rate_limit_;  // the run's, shared; may be null
  std::shared_ptr<const std::atomic<bool>> cancel_;  // may be null
  Sinks sinks_;
  TransferPace pace_;
  std::optional<Failure> stopped_;
  int status_ = 0;
  bool in_header_block_ = false;   // a status line came, its empty line not yet
  std::size_t header_bytes_ = 0;   // of the latest response's block
  long long announced_ = -1;       // its Content-Length, -1 when none
  std::uint64_t body_bytes_ = 0;   // of the latest response
};

}  // namespace folivex
