// Server side TLS on OpenSSL, and test certificates made with the openssl
// command.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "support/loopback_socket.h"
#include "support/test_server.h"

namespace folivex {

class TlsServerContext {
 public:
  SSL_CTX* ctx = nullptr;
  ~TlsServerContext() {
    if (ctx) SSL_CTX_free(ctx);
  }
};

void TlsContextDeleter::operator()(TlsServerContext* context) const { delete context; }

namespace {

std::string OpenSslError() {
  unsigned long code = ERR_get_error();
  if (code == 0) return "unknown TLS error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

struct SslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

class TlsStream final : public ByteStream {
 public:
  TlsStream(Socket socket, std::unique_ptr<SSL, SslDeleter> ssl)
      : socket_(std::move(socket)), ssl_(std::move(ssl)) {}

  long Read(char* buffer, std::size_t size, int timeout_ms) override {
    return Retry(timeout_ms, [&] { return SSL_read(ssl_.get(), buffer, static_cast<int>(size)); },
                 true);
  }
  long Write(const char* data, std::size_t size, int timeout_ms) override {
    return Retry(timeout_ms, [&] { return SSL_write(ssl_.get(), data, static_cast<int>(size)); },
                 false);
  }
  void Finish() override {
    SSL_shutdown(ssl_.get());
    socket_.ShutdownWrite();
  }
  Socket& socket() override { return socket_; }

 private:
  template <typename Operation>
  long Retry(int timeout_ms, Operation operation, bool reading) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      int result = operation();
      if (result > 0) return result;
      int reason = SSL_get_error(ssl_.get(), result);
      if (reason == SSL_ERROR_ZERO_RETURN) return kSocketClosed;
      if (reason != SSL_ERROR_WANT_READ && reason != SSL_ERROR_WANT_WRITE) {
        // A peer that closes without close_notify ends the stream as well.
        return reading && reason == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 ? kSocketClosed
                                                                                 : kSocketError;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return kSocketTimeout;
      char probe;
      long waited = reason == SSL_ERROR_WANT_READ
                        ? WaitReadable(static_cast<int>(left.count()), &probe)
                        : socket_.Write(&probe, 0, static_cast<int>(left.count()));
      if (waited == kSocketTimeout) return kSocketTimeout;
    }
  }
  // Waits for input without taking any: a peek of zero bytes is not
  // possible, so poll through a zero-length read.
  long WaitReadable(int timeout_ms, char* probe) { return socket_.Read(probe, 0, timeout_ms); }

  Socket socket_;
  std::unique_ptr<SSL, SslDeleter> ssl_;
};

}  // namespace

bool TlsAvailable() { return true; }

TlsServerContextPtr LoadTlsServerContext(const std::string& cert_file, const std::string& key_file,
                                         std::string* error) {
  TlsServerContextPtr context(new TlsServerContext);
  context->ctx = SSL_CTX_new(TLS_server_method());
  if (!context->ctx ||
      SSL_CTX_use_certificate_chain_file(context->ctx, cert_file.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context->ctx, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    if (error) *error = "cannot load " + cert_file + " / " + key_file + ": " + OpenSslError();
    return nullptr;
  }
  SSL_CTX_set_mode(context->ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  return context;
}

std::unique_ptr<ByteStream> AcceptTls(TlsServerContext& context, Socket socket, int timeout_ms,
                                      const std::atomic<bool>& stop) {
  std::unique_ptr<SSL, SslDeleter> ssl(SSL_new(context.ctx));
  if (!ssl) return nullptr;
  SSL_set_fd(ssl.get(), static_cast<int>(socket.native()));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int result = SSL_accept(ssl.get());
    if (result == 1) break;
    int reason = SSL_get_error(ssl.get(), result);
    if ((reason != SSL_ERROR_WANT_READ && reason != SSL_ERROR_WANT_WRITE) || stop ||
        std::chrono::steady_clock::now() > deadline) {
      return nullptr;
    }
    char probe;
    if (reason == SSL_ERROR_WANT_READ) {
      socket.Read(&probe, 0, 50);
    } else {
      socket.Write(&probe, 0, 50);
    }
  }
  return std::make_unique<TlsStream>(std::move(socket), std::move(ssl));
}

bool MakeTestCertificates(const std::string& folder, TestCertificates* out, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::create_directories(folder, ignored);
  TestCertificates files{folder + "/ca.pem", folder + "/server.pem", folder + "/server.key"};
  const std::string ca_key = folder + "/ca.key";
  const std::string request = folder + "/server.csr";
  const std::string extensions = folder + "/server.ext";
  {
    std::FILE* file = std::fopen(extensions.c_str(), "w");
    if (!file) {
      if (error) *error = "cannot write " + extensions;
      return false;
    }
    std::fputs(
        "basicConstraints=CA:FALSE\n"
        "keyUsage=digitalSignature,keyEncipherment\n"
        "extendedKeyUsage=serverAuth\n"
        "subjectAltName=IP:127.0.0.1,DNS:localhost\n",
        file);
    std::fclose(file);
  }
  auto quoted = [](const std::string& path) { return "'" + path + "'"; };
  const std::string quiet = " >/dev/null 2>&1";
  const std::string commands[] = {
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Loopback Test CA' -keyout " +
          quoted(ca_key) + " -out " + quoted(files.ca_file) +
          " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign" +
          quiet,
      "openssl req -newkey rsa:2048 -nodes -subj '/CN=127.0.0.1' -keyout " +
          quoted(files.key_file) + " -out " + quoted(request) + quiet,
      "openssl x509 -req -in " + quoted(request) + " -CA " + quoted(files.ca_file) + " -CAkey " +
          quoted(ca_key) + " -CAcreateserial -days 2 -extfile " + quoted(extensions) + " -out " +
          quoted(files.cert_file) + quiet,
  };
  for (const std::string& command : commands) {
    if (std::system(command.c_str()) != 0) {
      if (error) *error = "failed: " + command;
      return false;
    }
  }
  if (out) *out = files;
  return true;
}

}  // namespace folivex
