// folivex-cert-tool: the Windows side of the HTTPS tests.
//   trust CA.pem     the system trusts the test authority as Windows trusts
//                    any root: the certificate goes into the machine's Root
//                    store. Roots of the same name left by earlier runs are
//                    taken out, so the store holds one test root at a time.
//   untrust CA.pem   takes every root of that name out again
//   check CERT.pem   builds the certificate's chain for a server the way
//                    WinInet does on Windows, revocation checked through the
//                    certificate's distribution point, and prints one word:
//                    good, revoked, revocation-offline, untrusted or
//                    invalid (exit code 0 for good, 1 otherwise)
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct StoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
struct ContextCloser {
  void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
struct ChainCloser {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using Store = std::unique_ptr<void, StoreCloser>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, ContextCloser>;
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainCloser>;

int Fail(const char* what) {
  std::fprintf(stderr, "folivex-cert-tool: %s (error %lu)\n", what, GetLastError());
  return 2;
}

Certificate ReadPem(const char* path) {
  std::ifstream file(path, std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  DWORD size = 0;
  if (pem.empty() || !CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()),
                                           CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
    return nullptr;
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                            der.data(), &size, nullptr, nullptr)) {
    return nullptr;
  }
  return Certificate(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size));
}

int Trust(const CERT_CONTEXT& wanted, bool add) {
  const Store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                  CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
  if (!store) return Fail("cannot open the machine's Root store");
  int removed = 0;
  for (;;) {
    PCCERT_CONTEXT found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                      CERT_FIND_SUBJECT_NAME,
                                                      &wanted.pCertInfo->Subject, nullptr);
    if (!found) break;
    // Frees the context whatever the result.
    if (!CertDeleteCertificateFromStore(found)) return Fail("cannot remove an earlier test root");
    ++removed;
  }
  if (add && !CertAddCertificateContextToStore(store.get(), &wanted, CERT_STORE_ADD_REPLACE_EXISTING,
                                               nullptr)) {
    return Fail("cannot add the root");
  }
  std::printf("%s; %d root(s) of that name removed first\n", add ? "trusted" : "untrusted", removed);
  return 0;
}

int Check(const CERT_CONTEXT& certificate) {
  char server_auth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {server_auth};
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof(parameters);
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  if (!CertGetCertificateChain(nullptr, &certificate, nullptr, nullptr, &parameters,
                               CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, nullptr, &built)) {
    return Fail("cannot build the chain");
  }
  const Chain chain(built);
  const DWORD status = chain->TrustStatus.dwErrorStatus;
  const char* verdict = "good";
  if (status & CERT_TRUST_IS_REVOKED) {
    verdict = "revoked";
  } else if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
    verdict = "untrusted";
  } else if (status & (CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION)) {
    verdict = "revocation-offline";
  } else if (status != CERT_TRUST_NO_ERROR) {
    verdict = "invalid";
  }
  std::printf("%s\n", verdict);
  std::fprintf(stderr, "chain status 0x%08lx\n", status);
  return std::strcmp(verdict, "good") == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: folivex-cert-tool trust|untrust|check FILE.pem\n");
    return 2;
  }
  const std::string command = argv[1];
  const Certificate certificate = ReadPem(argv[2]);
  if (!certificate) return Fail("no PEM certificate in the file");
  if (command == "trust" || command == "untrust") return Trust(*certificate, command == "trust");
  if (command == "check") return Check(*certificate);
  std::fprintf(stderr, "folivex-cert-tool: unknown command %s\n", command.c_str());
  return 2;
}
