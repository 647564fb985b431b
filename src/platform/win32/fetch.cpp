// The simple GET on WinInet. One session serves every thread; WinInet keeps
// the connection to a host open between fetches.
#include <windows.h>
#include <wininet.h>

#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/fetch_common.h"
#include "platform/services.h"
#include "platform/win32/internet_handle.h"
#include "platform/win32/wininet_support.h"

namespace folivex {
namespace {

std::wstring Wide(const Text& text) {
  const std::u16string units = GbkToUtf16(text);
  return std::wstring(units.begin(), units.end());
}

std::string Utf8(const std::wstring& wide) {
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

// The body pieces asked for at once.
constexpr DWORD kReadChunk = 64 * 1024;

// One session for the whole process: WinInet lets several threads use one
// handle at once, and it keeps idle connections per host for every session
// of the process anyway. (A session per thread, closed as the thread ends,
// crashes WinInet under Wine: the close then runs inside the thread's exit.)
HINTERNET SharedSession() {
  static std::mutex mutex;
  static InternetHandle session;
  std::lock_guard<std::mutex> lock(mutex);
  if (!session) {
    session.reset(InternetOpenW(Wide(kFetchUserAgent).c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr,
                                nullptr, 0));
  }
  return session.get();
}

void SetTimeout(HINTERNET handle, DWORD option, int ms) {
  if (ms <= 0) return;
  DWORD value = static_cast<DWORD>(ms);
  InternetSetOptionW(handle, option, &value, sizeof(value));
}

}  // namespace

FetchResult Fetch(const Text& address, const FetchOptions& options) {
  FetchResult result;
  const std::optional<Text> target = FetchTarget(address);
  if (!target) {
    result.failure = Failure{FailureKind::BadAddress, GbkToUtf8(address)};
    return result;
  }
  const std::wstring url = Wide(*target);
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

  HINTERNET session = SharedSession();
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
  const wchar_t* accept[] = {L"*/*", nullptr};
  InternetHandle request(HttpOpenRequestW(connection.get(), L"GET", object.c_str(),
                                          kFetchUsesHttp10 ? L"HTTP/1.0" : L"HTTP/1.1", nullptr,
                                          accept, flags, 0));
  if (!request) {
    result.failure = InternetFailure(GetLastError(), false);
    return result;
  }
  SetTimeout(request.get(), INTERNET_OPTION_CONNECT_TIMEOUT, options.connect_timeout_ms);
  SetTimeout(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, options.idle_timeout_ms);
  SetTimeout(request.get(), INTERNET_OPTION_SEND_TIMEOUT, options.idle_timeout_ms);
  const ULONGLONG sent_at = GetTickCount64();
  if (!HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
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
