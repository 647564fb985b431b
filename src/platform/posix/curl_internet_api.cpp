// The Internet operations on libcurl, giving what WinInet gives: the raw
// header block of the final response (after redirects) as one CR LF text,
// the body in order, redirects followed unless the request says not to,
// proxies in WinInet's "scheme=host:port" form, and cookies kept per session
// unless the request switches them off.
//
// Connecting, opening a request and closing cost nothing here; the whole
// exchange runs when the request is sent, and the body is then handed out
// from memory by ReadFile.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/internet_api.h"
#include "platform/posix/curl_support.h"

namespace folivex {
namespace {

// WinInet's own defaults: a minute to connect, a minute without data.
constexpr int kDefaultConnectMs = 60000;
constexpr int kDefaultReceiveMs = 60000;

// The limits a transfer of this implementation is held to: those given,
// with WinInet's own time-outs where none is.
FetchOptions TransferLimits(const FetchOptions& given) {
  FetchOptions limits = given;
  if (limits.connect_timeout_ms <= 0) limits.connect_timeout_ms = kDefaultConnectMs;
  if (limits.idle_timeout_ms <= 0) limits.idle_timeout_ms = kDefaultReceiveMs;
  return limits;
}

struct Session {
  Text agent;
  InternetApi::AccessType access = InternetApi::AccessType::kDirect;
  std::optional<Text> proxy;
  std::optional<Text> bypass;
  FetchOptions limits;

  // The session's cookie jar, shared by its requests.
  CURLSH* share = nullptr;
  std::mutex share_mutex;

  ~Session() {
    if (share) curl_share_cleanup(share);
  }
};

struct Connection {
  std::shared_ptr<Session> session;
  Text host;
  int port = 0;
};

struct Request {
  std::shared_ptr<Connection> connection;
  Text verb;
  Text path;
  Text version;
  std::uint32_t flags = 0;

  bool sent = false;
  bool failed = false;    // the transfer ended with an error
  std::optional<Failure> failure;  // why
  Text header_block;      // of the latest response seen
  std::string body;
  std::size_t read_position = 0;
};

// What a Handle points at. Exactly one member is set.
struct Node {
  std::shared_ptr<Session> session;
  std::shared_ptr<Connection> connection;
  std::unique_ptr<Request> request;
};

Node* AsNode(InternetApi::Handle handle) { return static_cast<Node*>(handle); }

InternetApi::Handle Release(std::unique_ptr<Node> node) { return node.release(); }

void LockShare(CURL*, curl_lock_data, curl_lock_access, void* user) {
  static_cast<Session*>(user)->share_mutex.lock();
}

void UnlockShare(CURL*, curl_lock_data, void* user) {
  static_cast<Session*>(user)->share_mutex.unlock();
}

// Every header line of every response arrives here, the status line first.
// A new status line (an interim 100, a redirect, a proxy's CONNECT answer)
// starts the block afresh, so the block ends as the final response's.
void KeepHeaderLine(Request& request, std::string_view line) {
  if (line.substr(0, 5) == "HTTP/") {
    request.header_block.clear();
    request.body.clear();
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  request.header_block.append(line);
  request.header_block.append("\r\n");
}

std::string EscapePath(const Text& path) {
  std::string out = EscapeUrlBytes(path);
  if (out.empty() || out[0] != '/') out.insert(out.begin(), '/');
  return out;
}

bool HasHeader(const Text& headers, std::string_view name) {
  // Header names match without regard to ASCII case, at the start of a line.
  std::size_t start = 0;
  while (start <= headers.size()) {
    std::size_t end = headers.find('\n', start);
    if (end == Text::npos) end = headers.size();
    std::string_view line(headers.data() + start, end - start);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.size() > name.size() && line[name.size()] == ':' &&
        std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

// The caller's header lines as curl wants them. curl drops a header given
// as "Name:" with nothing after it, so an empty value is written "Name;".
CurlList HeaderList(const Text& headers, std::uint32_t flags) {
  CurlList list;
  std::size_t start = 0;
  while (start < headers.size()) {
    std::size_t end = headers.find('\n', start);
    if (end == Text::npos) end = headers.size();
    std::string line = headers.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    if (line.back() == ':') line.back() = ';';
    AppendLine(list, line);
  }
  // WinInet adds none of these on its own; curl would.
  if (!HasHeader(headers, "Accept")) AppendLine(list, "Accept:");
  if (!HasHeader(headers, "Content-Type")) AppendLine(list, "Content-Type:");
  if (!HasHeader(headers, "Expect")) AppendLine(list, "Expect:");
  if ((flags & kInternetFlagReload) && !HasHeader(headers, "Cache-Control")) {
    AppendLine(list, "Cache-Control: no-cache");
  }
  return list;
}

// WinInet's proxy text: entries separated by blanks or ";", each either
// "scheme=host:port" for one scheme or "host:port" for every scheme. The
// result is the proxy for `scheme`, or empty for a direct connection.
std::string ProxyFor(const Text& proxies, std::string_view scheme) {
  std::string any;
  std::size_t start = 0;
  while (start < proxies.size()) {
    std::size_t end = proxies.find_first_of(" ;", start);
    if (end == Text::npos) end = proxies.size();
    std::string entry = proxies.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      if (any.empty()) any = entry;
    } else if (entry.compare(0, equals, scheme) == 0) {
      return entry.substr(equals + 1);
    }
  }
  return any;
}

// A WinInet bypass list ("a;b c") as curl's comma list; "<local>" names no
// host curl understands and is left out.
std::string NoProxyList(const Text& bypass) {
  std::string out;
  std::size_t start = 0;
  while (start < bypass.size()) {
    std::size_t end = bypass.find_first_of(" ;,", start);
    if (end == Text::npos) end = bypass.size();
    std::string entry = bypass.substr(start, end - start);
    start = end + 1;
    if (entry.empty() || entry == "<local>") continue;
    if (!out.empty()) out += ',';
    out += entry;
  }
  return out;
}

class CurlInternetApi final : public InternetApi {
 public:
  explicit CurlInternetApi(const FetchOptions& limits) : limits_(TransferLimits(limits)) {
    EnsureCurlGlobalInit();
  }

  Handle Open(const Text& agent, AccessType access, const Text* proxy, const Text* bypass,
              std::uint32_t) override {
    auto session = std::make_shared<Session>();
    session->agent = agent;
    session->access = access;
    if (proxy) session->proxy = *proxy;
    if (bypass) session->bypass = *bypass;
    session->limits = limits_;
    session->share = curl_share_init();
    if (!session->share) return nullptr;
    curl_share_setopt(session->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(session->share, CURLSHOPT_LOCKFUNC, LockShare);
    curl_share_setopt(session->share, CURLSHOPT_UNLOCKFUNC, UnlockShare);
    curl_share_setopt(session->share, CURLSHOPT_USERDATA, session.get());
    auto node = std::make_unique<Node>();
    node->session = std::move(session);
    return Release(std::move(node));
  }

  Handle Connect(Handle session, const Text& host, int port, std::uint32_t service) override {
    Node* parent = AsNode(session);
    if (!parent || !parent->session || service != kInternetServiceHttp) return nullptr;
    auto connection = std::make_shared<Connection>();
    connection->session = parent->session;
    connection->host = host;
    connection->port = port;
    auto node = std::make_unique<Node>();
    node->connection = std::move(connection);
    return Release(std::move(node));
  }

  Handle OpenRequest(Handle connection, const Text& verb, const Text& path, const Text& version,
                     std::uint32_t flags) override {
    Node* parent = AsNode(connection);
    if (!parent || !parent->connection) return nullptr;
    auto request = std::make_unique<Request>();
    request->connection = parent->connection;
    request->verb = verb.empty() ? Text("GET") : verb;
    request->path = path.empty() ? Text("/") : path;
    request->version = version;
    request->flags = flags;
    auto node = std::make_unique<Node>();
    node->request = std::move(request);
    return Release(std::move(node));
  }

  bool SendRequest(Handle handle, const Text& headers, const std::uint8_t* data,
                   std::uint32_t size) override {
    Node* node = AsNode(handle);
    if (!node || !node->request) return false;
    Request& request = *node->request;
    request.sent = true;
    request.failed = false;
    request.failure.reset();
    request.header_block.clear();
    request.body.clear();
    request.read_position = 0;

    const Connection& connection = *request.connection;
    Session& session = *connection.session;
    CurlEasy easy(curl_easy_init());
    if (!easy) {
      request.failed = true;
      request.failure = Failure{FailureKind::Other, "the transfer could not be set up"};
      return false;
    }
    CURL* curl = easy.get();
    const bool secure = (request.flags & kInternetFlagSecure) != 0;
    const std::string scheme = secure ? "https" : "http";
    std::string host = connection.host;
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    const std::string url = scheme + "://" + host + ":" + std::to_string(connection.port) +
                            EscapePath(request.path);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, request.version == "HTTP/1.0"
                                                     ? CURL_HTTP_VERSION_1_0
                                                     : CURL_HTTP_VERSION_1_1);
    if (!session.agent.empty()) curl_easy_setopt(curl, CURLOPT_USERAGENT, session.agent.c_str());
    ApplyTrustStore(curl);

    // Proxy: a direct session ignores the environment's proxy settings too.
    std::string proxy;
    if (session.access == AccessType::kProxy && session.proxy) proxy = ProxyFor(*session.proxy, scheme);
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    const std::string no_proxy = session.bypass ? NoProxyList(*session.bypass) : std::string();
    curl_easy_setopt(curl, CURLOPT_NOPROXY, no_proxy.c_str());

    if (!(request.flags & kInternetFlagNoAutoRedirect)) {
      curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
      curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 30L);
    }
    if (!(request.flags & kInternetFlagNoCookies)) {
      curl_easy_setopt(curl, CURLOPT_SHARE, session.share);
      curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
    }

    GuardedTransfer transfer(
        session.limits,
        {.header = [&request](std::string_view line) { KeepHeaderLine(request, line); },
         .body = [&request](std::string_view piece) { request.body.append(piece); }});
    transfer.Install(curl);
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);

    if (request.verb == "GET") {
      curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else if (request.verb == "HEAD") {
      curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else {
      if (request.verb != "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.verb.c_str());
      if (data && size > 0) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, reinterpret_cast<const char*>(data));
      } else if (request.verb == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
      }
    }
    CurlList header_list = HeaderList(headers, request.flags);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, header_list.get());

    const CURLcode result = curl_easy_perform(curl);
    request.failure = transfer.FailureAfter(result, detail);
    request.failed = request.failure.has_value();
    // Like WinInet, the send succeeded once a response began; what breaks
    // later shows when the body is read.
    return !request.header_block.empty();
  }

  bool ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* count) override {
    *count = 0;
    Node* node = AsNode(handle);
    if (!node || !node->request || !node->request->sent) return false;
    Request& request = *node->request;
    const std::size_t left = request.body.size() - request.read_position;
    const std::size_t n = std::min<std::size_t>(left, size);
    if (n > 0) {
      std::memcpy(buffer, request.body.data() + request.read_position, n);
      request.read_position += n;
      *count = static_cast<std::uint32_t>(n);
      return true;
    }
    return !request.failed;
  }

  bool QueryRawHeaders(Handle handle, char* buffer, std::uint32_t* length) override {
    Node* node = AsNode(handle);
    if (!node || !node->request || node->request->header_block.empty()) {
      return false;
    }
    const Text& block = node->request->header_block;
    const std::uint32_t needed = static_cast<std::uint32_t>(block.size() + 1);
    if (!buffer || *length < needed) {
      *length = needed;
      return false;
    }
    std::memcpy(buffer, block.c_str(), needed);
    *length = needed - 1;
    return true;
  }

  bool Close(Handle handle) override {
    if (!handle) return false;
    std::unique_ptr<Node> owned(AsNode(handle));
    return true;
  }

  std::optional<Failure> RequestFailure(Handle handle) const override {
    const Node* node = AsNode(handle);
    if (!node || !node->request) return std::nullopt;
    return node->request->failure;
  }

 private:
  FetchOptions limits_;
};

}  // namespace

InternetApi& SystemInternetApi() {
  static CurlInternetApi api{SystemInternetLimits()};
  return api;
}

std::unique_ptr<InternetApi> MakeSystemInternetApi(const FetchOptions& limits) {
  return std::make_unique<CurlInternetApi>(limits);
}

}  // namespace folivex
