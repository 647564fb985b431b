// The Windows test build has no TLS library: the HTTPS test server is a
// Linux-only tool. Under Wine, HTTPS tests use the sample site built for
// the host (see tests/CMakeLists.txt).
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

namespace {
const char kLinuxOnly[] = "test certificates are made on Linux only";
}

bool MakeTestAuthority(const std::string&, TestAuthority*, std::string* error) {
  if (error) *error = kLinuxOnly;
  return false;
}

bool IssueServerCertificate(const TestAuthority&, const std::string&, const std::string&,
                            TestCertificates*, std::string* error) {
  if (error) *error = kLinuxOnly;
  return false;
}

std::optional<std::string> MakeRevocationList(const TestAuthority&, const std::vector<std::string>&,
                                              std::string* error) {
  if (error) *error = kLinuxOnly;
  return std::nullopt;
}

bool MakeTestCertificates(const std::string&, TestCertificates*, std::string* error) {
  if (error) *error = kLinuxOnly;
  return false;
}

}  // namespace folivex
