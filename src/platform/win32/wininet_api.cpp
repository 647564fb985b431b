// The Internet operations on WinInet itself, through its ANSI entry points:
// the texts are the program's own code page 936 bytes and pass unchanged.
#include <windows.h>
#include <wininet.h>

#include "platform/internet_api.h"

namespace folivex {
namespace {

const char* OrNull(const Text* text) { return text ? text->c_str() : nullptr; }

class WinInetApi final : public InternetApi {
 public:
  explicit WinInetApi(const InternetTimeouts& timeouts) : timeouts_(timeouts) {}

  Handle Open(const Text& agent, AccessType access, const Text* proxy, const Text* bypass,
              std::uint32_t flags) override {
    HINTERNET session = InternetOpenA(agent.c_str(), static_cast<DWORD>(access), OrNull(proxy),
                                      OrNull(bypass), flags);
    if (session) {
      SetTimeout(session, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts_.connect_ms);
      SetTimeout(session, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts_.receive_ms);
      SetTimeout(session, INTERNET_OPTION_SEND_TIMEOUT, timeouts_.receive_ms);
    }
    return session;
  }

  Handle Connect(Handle session, const Text& host, int port, std::uint32_t service) override {
    return InternetConnectA(static_cast<HINTERNET>(session), host.c_str(),
                            static_cast<INTERNET_PORT>(port), nullptr, nullptr, service, 0, 0);
  }

  Handle OpenRequest(Handle connection, const Text& verb, const Text& path, const Text& version,
                     std::uint32_t flags) override {
    HINTERNET request = HttpOpenRequestA(static_cast<HINTERNET>(connection), verb.c_str(),
                                         path.c_str(), version.c_str(), nullptr, nullptr, flags, 0);
    // Wine reads the receive limit from the request handle only.
    if (request) {
      SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts_.receive_ms);
      SetTimeout(request, INTERNET_OPTION_SEND_TIMEOUT, timeouts_.receive_ms);
    }
    return request;
  }

  bool SendRequest(Handle request, const Text& headers, const std::uint8_t* data,
                   std::uint32_t size) override {
    // The data pointer is not written through; the API merely lacks const.
    return HttpSendRequestA(static_cast<HINTERNET>(request), headers.c_str(),
                            static_cast<DWORD>(headers.size()),
                            const_cast<std::uint8_t*>(data), size) != FALSE;
  }

  bool ReadFile(Handle request, void* buffer, std::uint32_t size, std::uint32_t* count) override {
    DWORD read = 0;
    const BOOL ok = InternetReadFile(static_cast<HINTERNET>(request), buffer, size, &read);
    *count = ok ? read : 0;
    return ok != FALSE;
  }

  bool QueryRawHeaders(Handle request, char* buffer, std::uint32_t* length) override {
    DWORD size = *length;
    const BOOL ok = HttpQueryInfoA(static_cast<HINTERNET>(request), HTTP_QUERY_RAW_HEADERS_CRLF,
                                   buffer, &size, nullptr);
    *length = size;
    return ok != FALSE;
  }

  bool Close(Handle handle) override {
    return InternetCloseHandle(static_cast<HINTERNET>(handle)) != FALSE;
  }

 private:
  static void SetTimeout(HINTERNET session, DWORD option, int ms) {
    if (ms <= 0) return;
    DWORD value = static_cast<DWORD>(ms);
    InternetSetOptionA(session, option, &value, sizeof(value));
  }

  InternetTimeouts timeouts_;
};

}  // namespace

InternetApi& SystemInternetApi() {
  static WinInetApi api{InternetTimeouts{}};
  return api;
}

std::unique_ptr<InternetApi> MakeSystemInternetApi(const InternetTimeouts& timeouts) {
  return std::make_unique<WinInetApi>(timeouts);
}

}  // namespace folivex
