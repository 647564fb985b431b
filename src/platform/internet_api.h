// The seven Internet operations the HTTP request routine is written in, shaped
// like the Windows Internet API's ANSI calls: open a session, connect to a
// host, open a request, send it, read the body in pieces, query the raw
// response headers, close a handle. Windows puts WinInet itself behind it;
// elsewhere libcurl stands in with the same observable results; tests put a
// recording fake behind it.
//
// Handles are opaque; a null handle means the operation failed. Every text is
// code page 936 and passed through as bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/failure.h"
#include "platform/services.h"
#include "text/text.h"

namespace folivex {

// Request flags, with the values the Windows Internet API gives them.
inline constexpr std::uint32_t kInternetFlagReload = 0x80000000u;
inline constexpr std::uint32_t kInternetFlagNoCacheWrite = 0x04000000u;
inline constexpr std::uint32_t kInternetFlagSecure = 0x00800000u;
inline constexpr std::uint32_t kInternetFlagNoAutoRedirect = 0x00200000u;
inline constexpr std::uint32_t kInternetFlagNoCookies = 0x00080000u;
inline constexpr std::uint32_t kInternetFlagIgnoreRedirectToHttps = 0x00004000u;
inline constexpr std::uint32_t kInternetFlagNeedFile = 0x00000010u;

// INTERNET_SERVICE_HTTP.
inline constexpr std::uint32_t kInternetServiceHttp = 3;

class InternetApi {
 public:
  // An opaque handle; null when the call that should have made it failed.
  using Handle = void*;
  // INTERNET_OPEN_TYPE_DIRECT and INTERNET_OPEN_TYPE_PROXY.
  enum class AccessType : std::uint32_t { kDirect = 1, kProxy = 3 };

  virtual ~InternetApi() = default;

  // A session. `proxy` and `bypass` may carry no value (null), which is not
  // the same as an empty text: an empty bypass list names no host at all.
  virtual Handle Open(const Text& agent, AccessType access, const Text* proxy,
                      const Text* bypass, std::uint32_t flags) = 0;
  // A connection to `host`:`port` for `service`; no user name or password.
  virtual Handle Connect(Handle session, const Text& host, int port,
                         std::uint32_t service) = 0;
  // A request on a connection; no referrer and no accept types (they travel
  // in the header text).
  virtual Handle OpenRequest(Handle connection, const Text& verb,
                             const Text& path, const Text& version,
                             std::uint32_t flags) = 0;
  // Sends the request with the header text (CR LF between lines) and the
  // optional data: `data` null and `size` 0 when there is none.
  virtual bool SendRequest(Handle request, const Text& headers,
                           const std::uint8_t* data, std::uint32_t size) = 0;
  // Up to `size` body bytes into `buffer`; `*count` is 0 at the end of the
  // body and after a failure.
  virtual bool ReadFile(Handle request, void* buffer, std::uint32_t size,
                        std::uint32_t* count) = 0;
  // The status line and every header line, CR LF after each, and a zero.
  // `*length` is the buffer's size in bytes on entry. On success it becomes
  // the length written without the zero. When the buffer is too small (or
  // null) the call fails and `*length` becomes the size it needs.
  virtual bool QueryRawHeaders(Handle request, char* buffer,
                               std::uint32_t* length) = 0;
  virtual bool Close(Handle handle) = 0;

  // Beyond WinInet's calls: why the latest send or read on `request` failed
  // or was stopped by a limit, for people and for the retry rule. Nothing
  // when all went well so far, and from implementations that cannot tell.
  virtual std::optional<Failure> RequestFailure(Handle request) const {
    (void)request;
    return std::nullopt;
  }
};

// The system's implementation: WinInet on Windows, libcurl elsewhere.
// Every call on it may come from any thread, as long as one handle is used
// by one thread at a time.
//
// The shared one keeps the system's own time limits and no bound. One made
// with limits holds each request to them: the connect and idle time-outs
// (zero: the system's own), the body bound (a larger announced length is
// refused, a body that grows past it is stopped and a read fails) and the
// rate floor, as FetchOptions describes them.
InternetApi& SystemInternetApi();
std::unique_ptr<InternetApi> MakeSystemInternetApi(const FetchOptions& limits);

// The limits of the shared implementation: the system's time-outs, no
// bound, no floor.
inline FetchOptions SystemInternetLimits() {
  FetchOptions limits;
  limits.connect_timeout_ms = 0;
  limits.idle_timeout_ms = 0;
  limits.max_body_bytes = 0;
  limits.min_bytes_per_second = 0;
  return limits;
}

}  // namespace folivex
