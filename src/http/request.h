// The program's general HTTP request: one whole exchange, http or https, any
// verb of the table, a body as text or bytes, extra header lines, a proxy,
// redirects on or off, and a cookie text of the caller's own that is sent and
// brought up to date from the response.
#pragma once

#include <optional>

#include "platform/internet_api.h"
#include "platform/services.h"
#include "text/text.h"

namespace folivex {

// The agent sent when the extra headers name none.
inline constexpr char kDefaultUserAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// `method` indexes the verbs GET, POST, HEAD, PUT, OPTIONS, DELETE, TRACE,
// CONNECT; outside 0..7 it is GET.
//
// Pointer arguments are the caller's own variables; null means "not
// supplied". Arguments the routine writes on success (never after a failed
// open, connect or request):
//   extraHeaders    (in, out) receives the header text actually sent;
//   bodyBytes       (in, out) receives the bytes of bodyText when it was
//                   empty and the verb is not GET;
//   responseHeaders (out)     the raw response header block, status line
//                   first, CR LF after each line;
//   receivedCookies (out)     the cookies of the response, merged with
//                   `cookies` when a merge runs;
//   cookies         (in, out) supplying it, even empty, switches off the
//                   system's own cookie handling; with autoMerge (true when
//                   not supplied) it receives the merged cookie text.
// `proxy` is "host:port"; empty or null connects directly.
//
// The result is the whole body in arrival order, whatever the status; empty
// after a failure. `api` carries the Internet calls (the system's unless a
// caller, a test, gives another).
Bytes HttpRequest(const Text& address, int method = 0, const Text* bodyText = nullptr,
                  Text* cookies = nullptr, Text* receivedCookies = nullptr,
                  Text* extraHeaders = nullptr, Text* responseHeaders = nullptr,
                  bool noRedirect = false, Bytes* bodyBytes = nullptr,
                  const Text* proxy = nullptr, std::optional<bool> autoMerge = std::nullopt,
                  InternetApi& api = SystemInternetApi());

// A GET with the routine's default headers, as the book page is fetched,
// whose connection and transfer obey the limits of `options`.
Bytes HttpRequest(const Text& address, const FetchOptions& options,
                  InternetApi& api = SystemInternetApi());

}  // namespace folivex
