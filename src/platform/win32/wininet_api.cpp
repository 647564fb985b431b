// The Internet operations on WinInet itself, through its ANSI entry points:
// the texts are the program's own code page 936 bytes and pass unchanged.
// Each handle given out carries WinInet's handle and, for a request, the
// reader that holds its body to the limits and why it failed.
#include <windows.h>
#include <wininet.h>

#include <memory>
#include <optional>

#include "platform/internet_api.h"
#include "platform/win32/wininet_support.h"

namespace folivex {
namespace {

const char* OrNull(const Text* text) { return text ? text->c_str() : nullptr; }

struct Node {
  HINTERNET handle = nullptr;
  // Requests only, once sent.
  std::unique_ptr<BodyReader> reader;
  std::optional<Failure> failure;
};

Node* AsNode(InternetApi::Handle handle) { return static_cast<Node*>(handle); }
HINTERNET Native(InternetApi::Handle handle) {
  return handle ? AsNode(handle)->handle : nullptr;
}

InternetApi::Handle Wrap(HINTERNET handle) {
  if (!handle) return nullptr;
  auto node = std::make_unique<Node>();
  node->handle = handle;
  return node.release();
}

void SetTimeout(HINTERNET handle, DWORD option, int ms) {
  if (ms <= 0) return;
  DWORD value = static_cast<DWORD>(ms);
  InternetSetOptionA(handle, option, &value, sizeof(value));
}

class WinInetApi final : public InternetApi {
 public:
  explicit WinInetApi(const FetchOptions& limits) : limits_(limits) {}

  Handle Open(const Text& agent, AccessType access, const Text* proxy, const Text* bypass,
              std::uint32_t flags) override {
    HINTERNET session = InternetOpenA(agent.c_str(), static_cast<DWORD>(access), OrNull(proxy),
                                      OrNull(bypass), flags);
    if (session) {
      SetTimeout(session, INTERNET_OPTION_CONNECT_TIMEOUT, limits_.connect_timeout_ms);
      SetTimeout(session, INTERNET_OPTION_RECEIVE_TIMEOUT, limits_.idle_timeout_ms);
      SetTimeout(session, INTERNET_OPTION_SEND_TIMEOUT, limits_.idle_timeout_ms);
    }
    return Wrap(session);
  }

  Handle Connect(Handle session, const Text& host, int port, std::uint32_t service) override {
    return Wrap(InternetConnectA(Native(session), host.c_str(), static_cast<INTERNET_PORT>(port),
                                 nullptr, nullptr, service, 0, 0));
  }

  Handle OpenRequest(Handle connection, const Text& verb, const Text& path, const Text& version,
                     std::uint32_t flags) override {
    HINTERNET request = HttpOpenRequestA(Native(connection), verb.c_str(), path.c_str(),
                                         version.c_str(), nullptr, nullptr, flags, 0);
    // Wine reads the connect and receive limits from the request handle only.
    if (request) {
      SetTimeout(request, INTERNET_OPTION_CONNECT_TIMEOUT, limits_.connect_timeout_ms);
      SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, limits_.idle_timeout_ms);
      SetTimeout(request, INTERNET_OPTION_SEND_TIMEOUT, limits_.idle_timeout_ms);
    }
    return Wrap(request);
  }

  bool SendRequest(Handle handle, const Text& headers, const std::uint8_t* data,
                   std::uint32_t size) override {
    Node* node = AsNode(handle);
    if (!node) return false;
    node->reader.reset();
    node->failure.reset();
    const ULONGLONG sent_at = GetTickCount64();
    // The data pointer is not written through; the API merely lacks const.
    if (!HttpSendRequestA(node->handle, headers.c_str(), static_cast<DWORD>(headers.size()),
                          const_cast<std::uint8_t*>(data), size)) {
      node->failure = SendFailure(GetLastError(), GetTickCount64() - sent_at,
                                  limits_.idle_timeout_ms);
      return false;
    }
    node->reader = std::make_unique<BodyReader>(node->handle, limits_);
    node->failure = CheckHeaderBlock(node->handle);
    if (!node->failure) node->failure = node->reader->Begin();
    return true;
  }

  bool ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* count) override {
    *count = 0;
    Node* node = AsNode(handle);
    if (!node) return false;
    if (!node->reader) {
      DWORD read = 0;
      const BOOL ok = InternetReadFile(node->handle, buffer, size, &read);
      *count = ok ? read : 0;
      return ok != FALSE;
    }
    if (node->failure) return false;
    DWORD read = 0;
    node->failure = node->reader->Read(buffer, size, &read);
    if (node->failure) return false;
    if (read == 0) node->failure = node->reader->Finish();
    *count = read;
    return true;
  }

  bool QueryRawHeaders(Handle request, char* buffer, std::uint32_t* length) override {
    DWORD size = *length;
    const BOOL ok = HttpQueryInfoA(Native(request), HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &size,
                                   nullptr);
    *length = size;
    return ok != FALSE;
  }

  bool Close(Handle handle) override {
    if (!handle) return false;
    std::unique_ptr<Node> node(AsNode(handle));
    return InternetCloseHandle(node->handle) != FALSE;
  }

  std::optional<Failure> RequestFailure(Handle request) const override {
    const Node* node = AsNode(request);
    return node ? node->failure : std::nullopt;
  }

 private:
  FetchOptions limits_;
};

}  // namespace

InternetApi& SystemInternetApi() {
  static WinInetApi api{SystemInternetLimits()};
  return api;
}

std::unique_ptr<InternetApi> MakeSystemInternetApi(const FetchOptions& limits) {
  return std::make_unique<WinInetApi>(limits);
}

}  // namespace folivex
