// Server side TLS on OpenSSL; test certificates made with the openssl command
// and revocation lists signed through the library.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

namespace {

bool RunQuiet(const std::string& command, std::string* error) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) == 0) return true;
  if (error) *error = "failed: " + command;
  return false;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

bool WriteText(const std::string& path, const std::string& text, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  const bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file && std::fclose(file) != 0) return false;
  if (!ok && error) *error = "cannot write " + path;
  return ok;
}

struct BioCloser {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Closer {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct KeyCloser {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CrlCloser {
  void operator()(X509_CRL* crl) const { X509_CRL_free(crl); }
};
struct TimeCloser {
  void operator()(ASN1_TIME* time) const { ASN1_TIME_free(time); }
};

std::unique_ptr<X509, X509Closer> ReadCertificate(const std::string& file) {
  std::unique_ptr<BIO, BioCloser> bio(BIO_new_file(file.c_str(), "r"));
  if (!bio) return nullptr;
  return std::unique_ptr<X509, X509Closer>(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

}  // namespace

bool MakeTestAuthority(const std::string& folder, TestAuthority* out, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  fs::create_directories(folder, ignored);
  TestAuthority authority{folder + "/ca.pem", folder + "/ca.key"};
  // An authority still valid for a day is kept: a system that has been told
  // to trust it goes on trusting the certificates it issues.
  if (fs::exists(authority.key_file) &&
      RunQuiet("openssl x509 -checkend 86400 -noout -in " + Quoted(authority.ca_file), nullptr)) {
    if (out) *out = authority;
    return true;
  }
  // Written under temporary names and renamed, so a second process that
  // reads the folder meanwhile sees the old pair or the new one.
  const std::string stamp = std::to_string(::getpid());
  const std::string ca_temp = authority.ca_file + "." + stamp, key_temp = authority.key_file + "." + stamp;
  if (!RunQuiet("openssl req -x509 -newkey rsa:2048 -nodes -days 7 -subj '/CN=Folivex Loopback Test CA'"
                " -keyout " + Quoted(key_temp) + " -out " + Quoted(ca_temp) +
                " -addext basicConstraints=critical,CA:TRUE"
                " -addext keyUsage=critical,keyCertSign,cRLSign -addext subjectKeyIdentifier=hash",
                error)) {
    return false;
  }
  fs::rename(key_temp, authority.key_file, ignored);
  fs::rename(ca_temp, authority.ca_file, ignored);
  if (ignored) {
    if (error) *error = "cannot rename the authority's files in " + folder + ": " + ignored.message();
    return false;
  }
  if (out) *out = authority;
  return true;
}

bool IssueServerCertificate(const TestAuthority& authority, const std::string& folder,
                            const std::string& crl_url, TestCertificates* out, std::string* error) {
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  TestCertificates files{authority.ca_file, folder + "/server.pem", folder + "/server.key"};
  const std::string request = folder + "/server.csr";
  const std::string extensions = folder + "/server.ext";
  std::string text =
      "basicConstraints=CA:FALSE\n"
      "keyUsage=digitalSignature,keyEncipherment\n"
      "extendedKeyUsage=serverAuth\n"
      // The address as a DNS name too: Wine's certificate check compares
      // the host only with the DNS names of the certificate, never its IP
      // addresses (Windows and OpenSSL compare both).
      "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost\n"
      "authorityKeyIdentifier=keyid\n";
  if (!crl_url.empty()) text += "crlDistributionPoints=URI:" + crl_url + "\n";
  if (!WriteText(extensions, text, error)) return false;
  // A random serial: processes sharing one authority never issue the same.
  unsigned char serial[8];
  if (RAND_bytes(serial, sizeof serial) != 1) {
    if (error) *error = "no random serial";
    return false;
  }
  serial[0] &= 0x7F;
  char serial_hex[2 * sizeof serial + 3] = "0x";
  for (std::size_t i = 0; i < sizeof serial; ++i) {
    std::snprintf(serial_hex + 2 + 2 * i, 3, "%02X", serial[i]);
  }
  if (!RunQuiet("openssl req -newkey rsa:2048 -nodes -subj '/CN=127.0.0.1' -keyout " +
                    Quoted(files.key_file) + " -out " + Quoted(request),
                error) ||
      !RunQuiet("openssl x509 -req -in " + Quoted(request) + " -CA " + Quoted(authority.ca_file) +
                    " -CAkey " + Quoted(authority.key_file) + " -set_serial " + serial_hex +
                    " -days 2 -extfile " + Quoted(extensions) + " -out " + Quoted(files.cert_file),
                error)) {
    return false;
  }
  if (out) *out = files;
  return true;
}

std::optional<std::string> MakeRevocationList(const TestAuthority& authority,
                                              const std::vector<std::string>& revoked,
                                              std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<std::string> {
    if (error) *error = why + ": " + OpenSslError();
    return std::nullopt;
  };
  const auto ca = ReadCertificate(authority.ca_file);
  if (!ca) return fail("cannot read " + authority.ca_file);
  std::unique_ptr<EVP_PKEY, KeyCloser> key;
  {
    std::unique_ptr<BIO, BioCloser> bio(BIO_new_file(authority.key_file.c_str(), "r"));
    if (bio) key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  }
  if (!key) return fail("cannot read " + authority.key_file);
  std::unique_ptr<X509_CRL, CrlCloser> crl(X509_CRL_new());
  // Issued an hour ago, next one due in two days: valid whatever the clocks.
  std::unique_ptr<ASN1_TIME, TimeCloser> issued(X509_gmtime_adj(nullptr, -3600));
  std::unique_ptr<ASN1_TIME, TimeCloser> next(X509_gmtime_adj(nullptr, 2 * 86400));
  if (!crl || !issued || !next || X509_CRL_set_version(crl.get(), 1) != 1 ||
      X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(ca.get())) != 1 ||
      X509_CRL_set1_lastUpdate(crl.get(), issued.get()) != 1 ||
      X509_CRL_set1_nextUpdate(crl.get(), next.get()) != 1) {
    return fail("cannot fill the revocation list");
  }
  for (const std::string& file : revoked) {
    const auto cert = ReadCertificate(file);
    if (!cert) return fail("cannot read " + file);
    X509_REVOKED* entry = X509_REVOKED_new();
    if (!entry || X509_REVOKED_set_serialNumber(entry, X509_get_serialNumber(cert.get())) != 1 ||
        X509_REVOKED_set_revocationDate(entry, issued.get()) != 1 ||
        X509_CRL_add0_revoked(crl.get(), entry) != 1) {
      X509_REVOKED_free(entry);
      return fail("cannot list " + file);
    }
  }
  X509_CRL_sort(crl.get());
  if (X509_CRL_sign(crl.get(), key.get(), EVP_sha256()) <= 0) return fail("cannot sign the revocation list");
  unsigned char* der = nullptr;
  const int length = i2d_X509_CRL(crl.get(), &der);
  if (length <= 0) return fail("cannot encode the revocation list");
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

bool MakeTestCertificates(const std::string& folder, TestCertificates* out, std::string* error) {
  TestAuthority authority;
  return MakeTestAuthority(folder, &authority, error) &&
         IssueServerCertificate(authority, folder, "", out, error);
}

}  // namespace folivex
