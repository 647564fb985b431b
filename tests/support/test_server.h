// A loopback HTTP/1.1 server for tests: 127.0.0.1, a port the system picks,
// canned responses or handlers per path, and the faults a real network
// shows (latency, slow links, stalls, short bodies, resets, wrong lengths).
// Every request is recorded so a test can check what a client sent.
//
//   folivex::TestServer server;
//   server.Serve("/a.txt", folivex::Response::Ok("hello", "text/plain"));
//   ASSERT_TRUE(server.Start()) << server.error();
//   Fetch(server.Url("/a.txt"));
//   EXPECT_EQ(server.RequestCount("/a.txt"), 1);
//   EXPECT_EQ(server.Requests()[0].Header("User-Agent"), "...");
//
// Routes may be added before or after Start. Handlers run on the server's
// connection threads, possibly several at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "support/loopback_socket.h"

namespace folivex {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct RecordedRequest {
  std::string method;
  std::string target;   // as on the request line: path and query
  std::string path;     // the target up to '?'
  std::string query;    // after '?', without it
  std::string version;  // "HTTP/1.1", "HTTP/1.0"
  HeaderList headers;   // in the order sent, names as sent
  std::string body;
  std::string head;     // request line and header lines exactly as received
  int connection = 0;   // number of the connection it came on, from 1

  // The first value of header `name` (compared without ASCII case); empty
  // when absent.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
  std::vector<std::string> HeaderValues(std::string_view name) const;
};

// What goes wrong with a response. Unless said otherwise the fault strikes
// after the status line, the headers and `fault_after` body bytes.
enum class Fault {
  kNone,
  kStall,         // silence for `stall_for` (or until the server stops), then close
  kCutShort,      // Content-Length of the whole body, then an orderly close
  kReset,         // then a reset (RST, SO_LINGER 0)
  kNoAnswer,      // the request is read, nothing is sent; silence as kStall
  kCloseAtOnce,   // the request is read, the connection closed without a byte
  kResetAtOnce,   // the request is read, the connection reset without a byte
};

struct Delivery {
  std::chrono::milliseconds latency{0};        // before the first response byte
  long long bytes_per_second = 0;              // pace of this response, 0 = no cap
  std::size_t drip_bytes = 0;                  // slow drip: this many bytes...
  std::chrono::milliseconds drip_interval{0};  // ...then this pause, repeated
  Fault fault = Fault::kNone;
  std::size_t fault_after = 0;                 // body bytes sent before the fault
  std::chrono::milliseconds stall_for{120000};
  // A Content-Length that does not match the body. The body is sent as it
  // is and the connection closed after it.
  std::optional<long long> content_length;
  bool close = false;                          // "Connection: close" and close after it
  // No Content-Length and "Connection: close"; the body is sent again and
  // again until the client goes away or the server stops.
  bool endless = false;
  // The status line and headers go at once; the pace, drip or rate, holds
  // for the body only.
  bool pace_body_only = false;
};

struct Response {
  int status = 200;
  std::string reason;  // empty: the usual phrase for the status
  // Sent in this order after Content-Length/Content-Type; a name may repeat
  // (several Set-Cookie lines).
  HeaderList headers;
  std::string body;
  std::string content_type = "text/html; charset=utf-8";  // empty: none sent
  Delivery delivery;

  static Response Ok(std::string body, std::string content_type = "text/html; charset=utf-8");
  static Response Status(int status, std::string body = {});
  // A small HTML error page; with status 200 it is the "error page that says
  // all is well" that some servers send.
  static Response HtmlError(int status, std::string_view message);
  static Response Redirect(int status, std::string location);
  Response&& WithHeader(std::string name, std::string value) &&;
  Response&& With(Delivery delivery) &&;
};

using Handler = std::function<Response(const RecordedRequest&)>;

struct TestCertificates {
  std::string ca_file;    // PEM, for the client's trust store
  std::string cert_file;  // server certificate for 127.0.0.1 and localhost, signed by the CA
  std::string key_file;
};
// A certificate authority for tests: ca.pem and ca.key in `folder`. One
// already there and valid for another day is kept, so a system told to
// trust it keeps trusting what it issues. Made with the openssl command
// (Linux only; false with a reason elsewhere or on failure).
struct TestAuthority {
  std::string ca_file;
  std::string key_file;
};
bool MakeTestAuthority(const std::string& folder, TestAuthority* out, std::string* error);
// A server certificate for 127.0.0.1 and localhost in `folder`, signed by
// the authority, with a random serial. A non-empty `crl_url` becomes its CRL
// distribution point, where a client checks whether it was revoked.
bool IssueServerCertificate(const TestAuthority& authority, const std::string& folder,
                            const std::string& crl_url, TestCertificates* out, std::string* error);
// A certificate revocation list of the authority (DER), valid from an hour
// ago for two days, listing the certificates in the given PEM files.
std::optional<std::string> MakeRevocationList(const TestAuthority& authority,
                                              const std::vector<std::string>& revoked,
                                              std::string* error);
// A fresh authority and a server certificate without a distribution point,
// all in `folder`.
bool MakeTestCertificates(const std::string& folder, TestCertificates* out, std::string* error);

// A byte-level client for checking what a server really puts on the wire.
struct RawExchange {
  enum class End { kClosed, kReset, kSilent };
  std::string bytes;  // everything received
  End end = End::kSilent;
  bool connected = false;
};
// Connects to 127.0.0.1:`port`, sends `request` as it is and reads until the
// server closes, resets, or sends nothing for `quiet_ms`.
RawExchange ExchangeRaw(int port, std::string_view request, int quiet_ms = 2000);

// One HTTP response taken apart, for tests that read ExchangeRaw's bytes.
struct ParsedResponse {
  bool complete = false;  // status line, headers and the whole declared body
  int status = 0;
  HeaderList headers;
  std::string body;       // as much of it as arrived
  std::size_t consumed = 0;  // bytes of the input this response took
  std::string Header(std::string_view name) const;
  std::vector<std::string> HeaderValues(std::string_view name) const;
};
// Parses the response that starts at `from` in `bytes` (Content-Length
// bodies, or everything to the end when there is none).
ParsedResponse ParseResponse(std::string_view bytes, std::size_t from = 0);

class TestServer {
 public:
  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // Serve HTTPS with these PEM files; call before Start. Start fails where
  // TLS is not available (TlsAvailable() is false on Windows).
  void UseTls(std::string cert_file, std::string key_file);

  // Listens on 127.0.0.1:`port` (0: the system picks) and returns once the
  // socket is listening; false with error() when it cannot.
  bool Start(int port = 0);
  // Ends every connection, stalled ones too, and joins all threads. Also
  // done by the destructor.
  void Stop();

  int port() const { return port_; }
  bool tls() const { return tls_ != nullptr; }
  // "http://127.0.0.1:PORT" (or https) followed by `path`.
  std::string Url(std::string_view path = "/") const;
  const std::string& error() const { return error_; }

  // Exact path (without query); `method` empty matches every method.
  void Handle(std::string path, Handler handler) { Handle({}, std::move(path), std::move(handler)); }
  void Handle(std::string method, std::string path, Handler handler);
  // Every path starting with `prefix`; the longest prefix wins, exact paths
  // win over prefixes.
  void HandlePrefix(std::string prefix, Handler handler);
  void Serve(std::string path, Response response);
  void ServeRedirect(std::string path, int status, std::string location);
  // The first `count` requests for `path` get `failure` (503 by default),
  // the later ones `success`.
  void FailFirst(std::string path, int count, Response success,
                 Response failure = Response::HtmlError(503, "Service Unavailable"));
  // For paths without a route; 404 by default.
  void SetFallback(Handler handler);

  // Applied to every response: the latency adds to a response's own, the
  // rate applies where a response has none.
  void SetLatency(std::chrono::milliseconds latency);
  void SetBandwidth(long long bytes_per_second);

  std::vector<RecordedRequest> Requests() const;
  std::vector<RecordedRequest> RequestsFor(std::string_view path) const;
  int RequestCount(std::string_view path) const;
  int TotalRequests() const;
  int ConnectionCount() const;
  void ClearRequests();

 private:
  struct Route {
    std::string method;
    Handler handler;
  };
  struct Connection;

  void AcceptLoop();
  void ServeConnection(std::unique_ptr<ByteStream> stream, int number);
  Response Dispatch(const RecordedRequest& request);
  bool SendPaced(ByteStream& stream, std::string_view bytes, const Delivery& delivery);
  // Waits up to `duration`; false when the server is stopping.
  bool Pause(std::chrono::milliseconds duration);
  void Reap();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> stopping_{false};
  bool running_ = false;
  int port_ = 0;
  std::string error_;
  std::string tls_cert_, tls_key_;
  TlsServerContextPtr tls_;
  Listener listener_;
  std::thread accept_thread_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::map<std::string, std::vector<Route>, std::less<>> exact_;
  std::map<std::string, std::vector<Route>, std::less<>> prefix_;
  Handler fallback_;
  std::chrono::milliseconds latency_{0};
  long long bytes_per_second_ = 0;
  std::vector<RecordedRequest> requests_;
  std::map<std::string, int, std::less<>> counts_;
  int connection_count_ = 0;
};

}  // namespace folivex
