// The Windows test build has no TLS library: the HTTPS test server is a
// Linux-only tool.
#include "support/loopback_socket.h"
#include "support/test_server.h"

namespace folivex {

class TlsServerContext {};

void TlsContextDeleter::operator()(TlsServerContext* context) const { delete context; }

bool TlsAvailable() { return false; }

TlsServerContextPtr LoadTlsServerContext(const std::string&, const std::string&,
                                         std::string* error) {
  if (error) *error = "TLS is not available in this build";
  return nullptr;
}

std::unique_ptr<ByteStream> AcceptTls(TlsServerContext&, Socket, int, const std::atomic<bool>&) {
  return nullptr;
}

bool MakeTestCertificates(const std::string&, TestCertificates*, std::string* error) {
  if (error) *error = "test certificates are made on Linux only";
  return false;
}

}  // namespace folivex
