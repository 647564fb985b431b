#include "support/test_server.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace folivex {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// How long one wait on a socket lasts before the stop flag is checked again.
constexpr int kPollMs = 50;
constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxBody = 256 * 1024 * 1024;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string Trim(std::string_view text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(" \t\r");
  return std::string(text.substr(begin, end - begin + 1));
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
  }
}

enum class Ending { kKeepOpen, kClose, kReset };

}  // namespace

// ---------------------------------------------------------------------------
// RecordedRequest and Response helpers

std::string RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) return value;
  }
  return {};
}

bool RecordedRequest::HasHeader(std::string_view name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& header) { return SameName(header.first, name); });
}

std::vector<std::string> RecordedRequest::HeaderValues(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) values.push_back(value);
  }
  return values;
}

Response Response::Ok(std::string body, std::string content_type) {
  Response response;
  response.body = std::move(body);
  response.content_type = std::move(content_type);
  return response;
}

Response Response::Status(int status, std::string body) {
  Response response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

Response Response::HtmlError(int status, std::string_view message) {
  Response response;
  response.status = status;
  std::string text(message);
  response.body = "<!DOCTYPE html>\n<html><head><title>" + text + "</title></head>\n<body><h1>" +
                  text + "</h1><p>The request could not be served.</p></body></html>\n";
  return response;
}

Response Response::Redirect(int status, std::string location) {
  Response response;
  response.status = status;
  response.headers.emplace_back("Location", location);
  response.body = "<html><body>Moved to <a href=\"" + location + "\">here</a></body></html>\n";
  return response;
}

Response&& Response::WithHeader(std::string name, std::string value) && {
  headers.emplace_back(std::move(name), std::move(value));
  return std::move(*this);
}

Response&& Response::With(Delivery new_delivery) && {
  delivery = new_delivery;
  return std::move(*this);
}

RawExchange ExchangeRaw(int port, std::string_view request, int quiet_ms) {
  RawExchange result;
  Socket socket = ConnectLoopback(port, 5000);
  if (!socket.valid()) return result;
  result.connected = true;
  for (std::size_t sent = 0; sent < request.size();) {
    long wrote = socket.Write(request.data() + sent, request.size() - sent, 5000);
    if (wrote <= 0) {
      result.end = RawExchange::End::kReset;
      return result;
    }
    sent += static_cast<std::size_t>(wrote);
  }
  char chunk[16 * 1024];
  for (;;) {
    long got = socket.Read(chunk, sizeof chunk, quiet_ms);
    if (got == kSocketTimeout) {
      result.end = RawExchange::End::kSilent;
      break;
    }
    if (got == kSocketClosed) {
      result.end = RawExchange::End::kClosed;
      break;
    }
    if (got < 0) {
      result.end = RawExchange::End::kReset;
      break;
    }
    result.bytes.append(chunk, static_cast<std::size_t>(got));
  }
  return result;
}

std::string ParsedResponse::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) return value;
  }
  return {};
}

std::vector<std::string> ParsedResponse::HeaderValues(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) values.push_back(value);
  }
  return values;
}

ParsedResponse ParseResponse(std::string_view bytes, std::size_t from) {
  ParsedResponse parsed;
  std::size_t head_end = bytes.find("\r\n\r\n", from);
  if (head_end == std::string_view::npos) return parsed;
  std::string_view head = bytes.substr(from, head_end + 2 - from);
  std::size_t line_end = head.find("\r\n");
  std::string_view status_line = head.substr(0, line_end);
  std::size_t space = status_line.find(' ');
  if (space == std::string_view::npos) return parsed;
  parsed.status = std::atoi(std::string(status_line.substr(space + 1, 3)).c_str());
  for (std::size_t at = line_end + 2; at < head.size();) {
    std::size_t next = head.find("\r\n", at);
    std::string_view header = head.substr(at, next - at);
    std::size_t colon = header.find(':');
    if (colon != std::string_view::npos) {
      parsed.headers.emplace_back(std::string(header.substr(0, colon)),
                                  Trim(header.substr(colon + 1)));
    }
    at = next + 2;
  }
  std::size_t body_start = head_end + 4;
  std::string_view rest = bytes.substr(body_start);
  std::string length = parsed.Header("Content-Length");
  if (length.empty()) {
    parsed.body = std::string(rest);
    parsed.consumed = bytes.size() - from;
    parsed.complete = true;
    return parsed;
  }
  std::size_t declared = std::strtoull(length.c_str(), nullptr, 10);
  parsed.body = std::string(rest.substr(0, declared));
  parsed.complete = parsed.body.size() == declared;
  parsed.consumed = body_start + parsed.body.size() - from;
  return parsed;
}

// ---------------------------------------------------------------------------
// TestServer

struct TestServer::Connection {
  std::thread thread;
  std::atomic<bool> done{false};
};

TestServer::TestServer() = default;

TestServer::~TestServer() { Stop(); }

void TestServer::UseTls(std::string cert_file, std::string key_file) {
  tls_cert_ = std::move(cert_file);
  tls_key_ = std::move(key_file);
}

bool TestServer::Start(int port) {
  if (running_) return true;
  error_.clear();
  if (!tls_cert_.empty()) {
    tls_ = LoadTlsServerContext(tls_cert_, tls_key_, &error_);
    if (!tls_) return false;
  }
  if (!listener_.Listen(port, &error_)) return false;
  port_ = listener_.port();
  stopping_ = false;
  running_ = true;
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void TestServer::Stop() {
  if (!running_) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (accept_thread_.joinable()) accept_thread_.join();
  for (auto& connection : connections_) {
    if (connection->thread.joinable()) connection->thread.join();
  }
  connections_.clear();
  listener_.Close();
  running_ = false;
}

std::string TestServer::Url(std::string_view path) const {
  std::string url = tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:";
  url += std::to_string(port_);
  if (path.empty() || path.front() != '/') url += '/';
  url += path;
  return url;
}

void TestServer::Handle(std::string method, std::string path, Handler handler) {
  std::lock_guard lock(mutex_);
  auto& routes = exact_[std::move(path)];
  // A later registration for the same method replaces the earlier one.
  routes.erase(std::remove_if(routes.begin(), routes.end(),
                              [&](const Route& route) { return route.method == method; }),
               routes.end());
  routes.push_back({std::move(method), std::move(handler)});
}

void TestServer::HandlePrefix(std::string prefix, Handler handler) {
  std::lock_guard lock(mutex_);
  prefix_[std::move(prefix)] = {Route{{}, std::move(handler)}};
}

void TestServer::Serve(std::string path, Response response) {
  Handle(std::move(path), [response = std::move(response)](const RecordedRequest&) {
    return response;
  });
}

void TestServer::ServeRedirect(std::string path, int status, std::string location) {
  Serve(std::move(path), Response::Redirect(status, std::move(location)));
}

void TestServer::FailFirst(std::string path, int count, Response success, Response failure) {
  auto seen = std::make_shared<std::atomic<int>>(0);
  Handle(std::move(path), [=](const RecordedRequest&) {
    return seen->fetch_add(1) < count ? failure : success;
  });
}

void TestServer::SetFallback(Handler handler) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(handler);
}

void TestServer::SetLatency(milliseconds latency) {
  std::lock_guard lock(mutex_);
  latency_ = latency;
}

void TestServer::SetBandwidth(long long bytes_per_second) {
  std::lock_guard lock(mutex_);
  bytes_per_second_ = bytes_per_second;
}

std::vector<RecordedRequest> TestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<RecordedRequest> TestServer::RequestsFor(std::string_view path) const {
  std::lock_guard lock(mutex_);
  std::vector<RecordedRequest> found;
  for (const auto& request : requests_) {
    if (request.path == path) found.push_back(request);
  }
  return found;
}

int TestServer::RequestCount(std::string_view path) const {
  std::lock_guard lock(mutex_);
  auto found = counts_.find(path);
  return found == counts_.end() ? 0 : found->second;
}

int TestServer::TotalRequests() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(requests_.size());
}

int TestServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connection_count_;
}

void TestServer::ClearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
  counts_.clear();
}

bool TestServer::Pause(milliseconds duration) {
  if (duration.count() <= 0) return !stopping_;
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, duration, [this] { return stopping_.load(); });
  return !stopping_;
}

void TestServer::AcceptLoop() {
  while (!stopping_) {
    Socket socket = listener_.Accept(kPollMs);
    Reap();
    if (!socket.valid()) continue;
    int number;
    {
      std::lock_guard lock(mutex_);
      number = ++connection_count_;
    }
    auto connection = std::make_unique<Connection>();
    Connection* raw = connection.get();
    connection->thread = std::thread([this, raw, number, socket = std::move(socket)]() mutable {
      std::unique_ptr<ByteStream> stream;
      if (tls_) {
        stream = AcceptTls(*tls_, std::move(socket), 10000, stopping_);
      } else {
        stream = std::make_unique<PlainStream>(std::move(socket));
      }
      if (stream) ServeConnection(std::move(stream), number);
      raw->done = true;
    });
    connections_.push_back(std::move(connection));
  }
}

void TestServer::Reap() {
  for (auto& connection : connections_) {
    if (connection->done && connection->thread.joinable()) connection->thread.join();
  }
  connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                    [](const auto& c) { return !c->thread.joinable(); }),
                     connections_.end());
}

void TestServer::ServeConnection(std::unique_ptr<ByteStream> stream, int number) {
  std::string pending;
  char chunk[16 * 1024];
  // Reads until `pending` holds at least `size` bytes; false when the peer
  // went away or the server stops.
  auto fill = [&](std::size_t size) {
    while (pending.size() < size) {
      if (stopping_) return false;
      long got = stream->Read(chunk, sizeof chunk, kPollMs);
      if (got == kSocketTimeout) continue;
      if (got <= 0) return false;
      pending.append(chunk, static_cast<std::size_t>(got));
    }
    return true;
  };
  // Reads until `delimiter` occurs at or after `from`; its position or npos.
  auto fill_until = [&](std::string_view delimiter, std::size_t from, std::size_t limit) {
    for (;;) {
      std::size_t found = pending.find(delimiter, from);
      if (found != std::string::npos) return found;
      if (pending.size() > limit || !fill(pending.size() + 1)) return std::string::npos;
    }
  };

  Ending ending = Ending::kClose;
  for (;;) {
    std::size_t head_end = fill_until("\r\n\r\n", 0, kMaxHead);
    if (head_end == std::string::npos) break;
    RecordedRequest request;
    request.connection = number;
    request.head = pending.substr(0, head_end + 4);
    pending.erase(0, head_end + 4);

    std::size_t line_end = request.head.find("\r\n");
    std::string_view line(request.head.data(), line_end);
    std::size_t space1 = line.find(' ');
    std::size_t space2 = line.rfind(' ');
    if (space1 == std::string_view::npos || space2 == space1) break;
    request.method = std::string(line.substr(0, space1));
    request.target = std::string(line.substr(space1 + 1, space2 - space1 - 1));
    request.version = std::string(line.substr(space2 + 1));
    std::size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    if (question != std::string::npos) request.query = request.target.substr(question + 1);
    for (std::size_t at = line_end + 2; at < head_end + 2;) {
      std::size_t next = request.head.find("\r\n", at);
      std::string_view header(request.head.data() + at, next - at);
      std::size_t colon = header.find(':');
      if (colon != std::string_view::npos) {
        request.headers.emplace_back(std::string(header.substr(0, colon)),
                                     Trim(header.substr(colon + 1)));
      }
      at = next + 2;
    }

    bool body_ok = true;
    if (SameName(request.Header("Transfer-Encoding"), "chunked")) {
      for (;;) {
        std::size_t size_end = fill_until("\r\n", 0, kMaxHead);
        if (size_end == std::string::npos) {
          body_ok = false;
          break;
        }
        std::size_t size = std::strtoull(pending.c_str(), nullptr, 16);
        pending.erase(0, size_end + 2);
        if (size == 0) {
          // Trailers, if any, end with an empty line.
          std::size_t trailers_end = fill_until("\r\n", 0, kMaxHead);
          while (trailers_end != 0 && trailers_end != std::string::npos) {
            pending.erase(0, trailers_end + 2);
            trailers_end = fill_until("\r\n", 0, kMaxHead);
          }
          if (trailers_end == 0) pending.erase(0, 2);
          break;
        }
        if (size > kMaxBody || !fill(size + 2)) {
          body_ok = false;
          break;
        }
        request.body.append(pending, 0, size);
        pending.erase(0, size + 2);
      }
    } else if (request.HasHeader("Content-Length")) {
      std::size_t size = std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10);
      if (size > kMaxBody || !fill(size)) {
        body_ok = false;
      } else {
        request.body = pending.substr(0, size);
        pending.erase(0, size);
      }
    }
    if (!body_ok) break;

    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      ++counts_[request.path];
    }
    Response response = Dispatch(request);
    std::string connection_header = request.Header("Connection");
    bool keep_alive = request.version == "HTTP/1.1" ? !SameName(connection_header, "close")
                                                    : SameName(connection_header, "keep-alive");
    if (response.delivery.close || response.delivery.content_length || response.delivery.endless) {
      keep_alive = false;
    }

    Delivery& delivery = response.delivery;
    {
      std::lock_guard lock(mutex_);
      delivery.latency += latency_;
      if (delivery.bytes_per_second == 0) delivery.bytes_per_second = bytes_per_second_;
    }
    if (!Pause(delivery.latency)) break;
    if (delivery.fault == Fault::kNoAnswer) {
      Pause(delivery.stall_for);
      break;
    }
    if (delivery.fault == Fault::kCloseAtOnce) break;
    if (delivery.fault == Fault::kResetAtOnce) {
      ending = Ending::kReset;
      break;
    }

    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       (response.reason.empty() ? ReasonPhrase(response.status) : response.reason) +
                       "\r\n";
    if (!response.content_type.empty()) head += "Content-Type: " + response.content_type + "\r\n";
    bool bodyless = response.status == 204 || response.status == 304 || response.status < 200;
    if (!bodyless && !delivery.endless) {
      long long length = delivery.content_length.value_or(
          static_cast<long long>(response.body.size()));
      head += "Content-Length: " + std::to_string(length) + "\r\n";
    }
    head += keep_alive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    head += "\r\n";

    std::string_view body = response.body;
    if (request.method == "HEAD" || bodyless) body = {};
    bool faulty = delivery.fault == Fault::kStall || delivery.fault == Fault::kCutShort ||
                  delivery.fault == Fault::kReset;
    if (faulty) body = body.substr(0, std::min(delivery.fault_after, body.size()));
    const bool sent = delivery.pace_body_only
                          ? SendPaced(*stream, head, Delivery{}) && SendPaced(*stream, body, delivery)
                          : SendPaced(*stream, head + std::string(body), delivery);
    if (!sent) break;
    if (delivery.endless) {
      while (!body.empty() && SendPaced(*stream, body, delivery)) {
      }
      break;
    }
    if (faulty) {
      if (delivery.fault == Fault::kStall) Pause(delivery.stall_for);
      if (delivery.fault == Fault::kReset) ending = Ending::kReset;
      break;
    }
    if (!keep_alive) break;
  }

  if (ending == Ending::kReset) {
    stream->socket().CloseWithReset();
    return;
  }
  // An orderly close: FIN first, then drain what the client still sends, so
  // unread input does not turn the close into a reset.
  stream->Finish();
  auto give_up = steady_clock::now() + milliseconds(1000);
  while (!stopping_ && steady_clock::now() < give_up) {
    long got = stream->Read(chunk, sizeof chunk, kPollMs);
    if (got != kSocketTimeout && got <= 0) break;
  }
}

Response TestServer::Dispatch(const RecordedRequest& request) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    auto exact = exact_.find(request.path);
    if (exact != exact_.end()) {
      for (const Route& route : exact->second) {
        if (route.method.empty() || route.method == request.method) handler = route.handler;
      }
      if (!handler) return Response::HtmlError(405, "Method Not Allowed");
    } else {
      std::size_t best = 0;
      for (const auto& [prefix, routes] : prefix_) {
        if (request.path.compare(0, prefix.size(), prefix) == 0 && prefix.size() >= best) {
          best = prefix.size();
          handler = routes.front().handler;
        }
      }
      if (!handler) handler = fallback_;
    }
  }
  if (!handler) return Response::HtmlError(404, "Not Found");
  return handler(request);
}

bool TestServer::SendPaced(ByteStream& stream, std::string_view bytes, const Delivery& delivery) {
  std::size_t slice = 64 * 1024;
  if (delivery.bytes_per_second > 0) {
    // About twenty writes a second keep the pace smooth.
    slice = static_cast<std::size_t>(std::max<long long>(1, delivery.bytes_per_second / 20));
  }
  if (delivery.drip_bytes > 0) slice = delivery.drip_bytes;
  auto start = steady_clock::now();
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    std::size_t size = std::min(slice, bytes.size() - sent);
    std::size_t written = 0;
    while (written < size) {
      if (stopping_) return false;
      long result = stream.Write(bytes.data() + sent + written, size - written, kPollMs);
      if (result == kSocketTimeout) continue;
      if (result <= 0) return false;
      written += static_cast<std::size_t>(result);
    }
    sent += size;
    if (sent == bytes.size()) break;
    if (delivery.drip_bytes > 0 && !Pause(delivery.drip_interval)) return false;
    if (delivery.bytes_per_second > 0) {
      auto due = start + milliseconds(static_cast<long long>(sent) * 1000 /
                                      delivery.bytes_per_second);
      auto wait = std::chrono::duration_cast<milliseconds>(due - steady_clock::now());
      if (!Pause(wait)) return false;
    }
  }
  return true;
}

}  // namespace folivex
