// The simple GET on WinInet. One session serves every thread; WinInet keeps
// the connection to a host open between fetches.
#include <windows.h>
#include <wininet.h>

#include <ctime>
#include <map>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/fetch_common.h"
#include "platform/services.h"
#include "platform/win32/internet_handle.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/wininet_support.h"

namespace folivex {
namespace {

// One session for the whole process per proxy (the empty one: direct):
// WinInet lets several threads use one handle at once, and it keeps idle
// connections per host for every session of the process anyway. (A session
// per thread, closed as the thread ends, crashes WinInet under Wine: the
// close then runs inside the thread's exit.) Sessions live until the
// process ends.
HINTERNET SharedSession(const std::string& proxy) {
  static std::mutex mutex;
  static std::map<std::string, InternetHandle> sessions;
  std::lock_guard<std::mutex> lock(mutex);
  InternetHandle& session = sessions[proxy];
  if (!session) {
    const std::wstring agent = WidenGbkLossy(kFetchUserAgent);
    if (proxy.empty()) {
      session.reset(InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    } else {
      const std::u16string units = Utf8ToUtf16(proxy);
      const std::wstring name(units.begin(), units.end());
      session.reset(InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, name.c_str(), nullptr, 0));
    }
  }
  return session.get();
}

std::wstring WideUtf8(const std::string& utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

// The request lines the options add beside the agent, CR LF after each.
std::wstring ExtraHeaders(const FetchOptions& options, const std::string& url) {
  std::string lines;
  if (options.cookies) {
    const std::string cookie =
        CookieHeaderFor(*options.cookies, url, static_cast<long long>(std::time(nullptr)));
    if (!cookie.empty()) lines += "Cookie: " + cookie + "\r\n";
  }
  for (const std::string& line : options.headers) lines += line + "\r\n";
  return WideUtf8(lines);
}

void SetTimeout(HINTERNET handle, DWORD option, int ms) {
  if (ms <= 0) return;
  DWORD value = static_cast<DWORD>(ms);
  InternetSetOptionW(handle, option, &value, sizeof(value));
}

// The body pieces asked for at once.
constexpr DWORD kReadChunk = 64 * 1024;

}  // namespace

FetchResult Fetch(const Text& address, const FetchOptions& options) {
  FetchResult result;
  const std::optional<Text> target = FetchTarget(address);
  if (!target) {
    result.failure = Failure{FailureKind::BadAddress, GbkToUtf8(address)};
    return result;
  }
  const std::wstring url = WidenGbkLossy(*target);
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      parts.dwHostNameLength == 0) {
    result.failure = Failure{FailureKind::BadAddress, GbkToUtf8(address)};
    return result;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object.empty()) object = L"/";
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  const std::string url_utf8 = Utf8(url);
  RequestSlots::Hold slot(options.slots.get());
  if (options.cancel && *options.cancel) {
    result.failure = Failure{FailureKind::Stopped, {}};
    return result;
  }
  HINTERNET session = SharedSession(ProxyFor(options.proxy, url_utf8));
  if (!session) {
    result.failure = InternetFailure(GetLastError(), false);
    return result;
  }

  InternetHandle connection(InternetConnectW(session, host.c_str(), parts.nPort, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) {
    result.failure = InternetFailure(GetLastError(), false);
    return result;
  }
  // The limits belong to this fetch, so they go on its own handles.
  SetTimeout(connection.get(), INTERNET_OPTION_CONNECT_TIMEOUT, options.connect_timeout_ms);
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_UI | INTERNET_FLAG_KEEP_CONNECTION;
  if (secure) flags |= INTERNET_FLAG_SECURE;
  // Cookies from a file replace those of the system's own store.
  if (options.cookies) flags |= INTERNET_FLAG_NO_COOKIES;
  const wchar_t* accept[] = {L"*/*", nullptr};
  const std::wstring referer = WideUtf8(options.referer);
  InternetHandle request(HttpOpenRequestW(connection.get(), L"GET", object.c_str(),
                                          kFetchUsesHttp10 ? L"HTTP/1.0" : L"HTTP/1.1",
                                          referer.empty() ? nullptr : referer.c_str(), accept, flags, 0));
  if (!request) {
    result.failure = InternetFailure(GetLastError(), false);
    return result;
  }
  SetTimeout(request.get(), INTERNET_OPTION_CONNECT_TIMEOUT, options.connect_timeout_ms);
  SetTimeout(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, options.idle_timeout_ms);
  SetTimeout(request.get(), INTERNET_OPTION_SEND_TIMEOUT, options.idle_timeout_ms);
  const ULONGLONG sent_at = GetTickCount64();
  if (!options.user_agent.empty()) {
    // Replacing works on one header at a time.
    const std::wstring agent = WideUtf8("User-Agent: " + options.user_agent + "\r\n");
    HttpAddRequestHeadersW(request.get(), agent.c_str(), static_cast<DWORD>(agent.size()),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  }
  const std::wstring extra = ExtraHeaders(options, url_utf8);
  if (!HttpSendRequestW(request.get(), extra.empty() ? nullptr : extra.c_str(),
                        static_cast<DWORD>(extra.size()), nullptr, 0)) {
    result.failure = SendFailure(GetLastError(), GetTickCount64() - sent_at, options.idle_timeout_ms);
    return result;
  }

  DWORD status = 0;
  DWORD size = sizeof(status);
  if (HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                     &size, nullptr)) {
    result.status = static_cast<int>(status);
  }
  if (result.status == 0) {
    // Wine takes a connection closed before any byte for an empty answer.
    result.failure = Failure{FailureKind::NoResponse, "the server sent no status line"};
    return result;
  }
  if ((result.failure = CheckHeaderBlock(request.get()))) return result;
  result.content_type = Utf16ToGbk(
      [&] {
        const std::wstring type = QueryHeaderText(request.get(), HTTP_QUERY_CONTENT_TYPE);
        return std::u16string(type.begin(), type.end());
      }());
  {
    const std::wstring retry = QueryHeaderText(request.get(), HTTP_QUERY_RETRY_AFTER);
    if (!retry.empty()) result.retry_after_s = ParseRetryAfter(Utf8(retry));
  }
  BodyReader reader(request.get(), options);
  if ((result.failure = reader.Begin())) return result;
  std::string buffer(kReadChunk, '\0');
  for (;;) {
    DWORD read = 0;
    if ((result.failure = reader.Read(buffer.data(), kReadChunk, &read))) return result;
    if (read == 0) break;
    result.body.insert(result.body.end(), buffer.begin(), buffer.begin() + read);
  }
  result.failure = reader.Finish();
  return result;
}

Bytes FetchUrl(const Text& address) { return Fetch(address).body; }

}  // namespace folivex
