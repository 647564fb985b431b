// The HTTPS test server: a client that trusts only the test CA gets through,
// one that trusts nothing does not.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/test_server.h"

namespace folivex {
namespace {

// One GET over TLS with a blocking socket; empty when the handshake or the
// certificate check fails.
std::string GetOverTls(int port, const std::string& ca_file) {
  std::string received;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ca_file.empty()) SSL_CTX_load_verify_locations(ctx, ca_file.c_str(), nullptr);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  Socket socket = ConnectLoopback(port, 5000);
  SSL* ssl = SSL_new(ctx);
  X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), "127.0.0.1");
  SSL_set_fd(ssl, static_cast<int>(socket.native()));
  // The socket is non-blocking: retry until the handshake is through.
  int result;
  char probe;
  while ((result = SSL_connect(ssl)) != 1) {
    int reason = SSL_get_error(ssl, result);
    if (reason == SSL_ERROR_WANT_READ) {
      if (socket.Read(&probe, 0, 5000) == kSocketTimeout) break;
    } else if (reason == SSL_ERROR_WANT_WRITE) {
      socket.Write(&probe, 0, 5000);
    } else {
      break;
    }
  }
  if (result == 1) {
    const std::string request = "GET /secure HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    SSL_write(ssl, request.data(), static_cast<int>(request.size()));
    char buffer[4096];
    for (;;) {
      int got = SSL_read(ssl, buffer, sizeof buffer);
      if (got > 0) {
        received.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      int reason = SSL_get_error(ssl, got);
      if (reason == SSL_ERROR_WANT_READ && socket.Read(&probe, 0, 5000) != kSocketTimeout) continue;
      break;
    }
  }
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  return received;
}

TEST(TestServerTls, ServesWithACertificateMadeForTheTest) {
  if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl command";
  std::string folder = (std::filesystem::temp_directory_path() /
                        ("folivex-tls-" + std::to_string(getpid()))).string();
  TestCertificates files;
  std::string error;
  ASSERT_TRUE(MakeTestCertificates(folder, &files, &error)) << error;

  TestServer server;
  server.UseTls(files.cert_file, files.key_file);
  server.Serve("/secure", Response::Ok("over tls", "text/plain"));
  ASSERT_TRUE(server.Start()) << server.error();
  EXPECT_EQ(server.Url("/secure").rfind("https://127.0.0.1:", 0), 0u);

  struct Case {
    const char* name;
    std::string ca_file;
    bool served;
  } cases[] = {
      {"trusts the test CA", files.ca_file, true},
      {"trusts no one", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedResponse reply = ParseResponse(GetOverTls(server.port(), c.ca_file));
    EXPECT_EQ(reply.status == 200 && reply.body == "over tls", c.served) << reply.body;
  }
  EXPECT_EQ(server.RequestCount("/secure"), 1);
  server.Stop();
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace folivex
