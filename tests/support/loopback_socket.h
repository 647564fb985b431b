// A small TCP layer for the test servers and test clients: loopback only,
// non-blocking sockets whose waits are bounded, so a server thread can always
// notice that it is asked to stop. posix/ and win32/ hold the two systems.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace folivex {

// Results of the bounded reads and writes below besides a byte count.
inline constexpr long kSocketClosed = 0;    // the peer ended the stream
inline constexpr long kSocketError = -1;    // reset, or any other failure
inline constexpr long kSocketTimeout = -2;  // nothing moved within the wait

class Socket {
 public:
  Socket() = default;
  explicit Socket(std::intptr_t native) : native_(native) {}
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : native_(other.native_) { other.native_ = kInvalid; }
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool valid() const { return native_ != kInvalid; }
  std::intptr_t native() const { return native_; }

  // Up to `size` bytes, waiting at most `timeout_ms` for the first of them.
  long Read(char* buffer, std::size_t size, int timeout_ms);
  // Writes what fits within `timeout_ms`: a count of at least 1, or
  // kSocketTimeout, or kSocketError.
  long Write(const char* data, std::size_t size, int timeout_ms);
  // Sends a FIN; reads still work.
  void ShutdownWrite();
  // Wakes any thread waiting on this socket (both directions shut).
  void ShutdownBoth();
  // Closes so that the peer sees a reset (RST) rather than an orderly end.
  void CloseWithReset();
  void Close();

  static constexpr std::intptr_t kInvalid = -1;

 private:
  std::intptr_t native_ = kInvalid;
};

// A listening socket on 127.0.0.1.
class Listener {
 public:
  // Binds 127.0.0.1:`port` (0 lets the system pick) and listens.
  bool Listen(int port, std::string* error);
  int port() const { return port_; }
  // A connected, non-blocking socket, or an invalid one when none came within
  // `timeout_ms`.
  Socket Accept(int timeout_ms);
  void Close() { socket_.Close(); }

 private:
  Socket socket_;
  int port_ = 0;
};

// A blocking-with-time-out client connection to 127.0.0.1:`port`, for tests
// that want to see faults at the byte level.
Socket ConnectLoopback(int port, int timeout_ms);

// One side of a connection as the server sees it: plain TCP or TLS on top.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  virtual long Read(char* buffer, std::size_t size, int timeout_ms) = 0;
  virtual long Write(const char* data, std::size_t size, int timeout_ms) = 0;
  // An orderly end of the sending side (TLS: close_notify, then FIN).
  virtual void Finish() = 0;
  virtual Socket& socket() = 0;
};

class PlainStream final : public ByteStream {
 public:
  explicit PlainStream(Socket socket) : socket_(std::move(socket)) {}
  long Read(char* buffer, std::size_t size, int timeout_ms) override {
    return socket_.Read(buffer, size, timeout_ms);
  }
  long Write(const char* data, std::size_t size, int timeout_ms) override {
    return socket_.Write(data, size, timeout_ms);
  }
  void Finish() override { socket_.ShutdownWrite(); }
  Socket& socket() override { return socket_; }

 private:
  Socket socket_;
};

// Server side TLS, built where the system has a TLS library (Linux/OpenSSL).
class TlsServerContext;
struct TlsContextDeleter {
  void operator()(TlsServerContext* context) const;
};
using TlsServerContextPtr = std::unique_ptr<TlsServerContext, TlsContextDeleter>;

bool TlsAvailable();
// Loads a PEM certificate chain and its key; null with a reason on failure.
TlsServerContextPtr LoadTlsServerContext(const std::string& cert_file,
                                         const std::string& key_file,
                                         std::string* error);
// Runs the server handshake on `socket`, giving up after `timeout_ms` or once
// `*stop` turns true; null on failure.
std::unique_ptr<ByteStream> AcceptTls(TlsServerContext& context, Socket socket,
                                      int timeout_ms,
                                      const std::atomic<bool>& stop);

}  // namespace folivex
