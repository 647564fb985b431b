// HTTPS through libcurl against a loopback TLS server whose authority the
// test makes: trusted when FOLIVEX_CA_FILE names it, refused otherwise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "http/request.h"
#include "platform/services.h"
#include "support/test_server.h"

namespace folivex {
namespace {

class HttpsLive : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl command";
    folder_ = (std::filesystem::temp_directory_path() /
               ("folivex-https-" + std::to_string(getpid())))
                  .string();
    std::string error;
    ASSERT_TRUE(MakeTestCertificates(folder_, &files_, &error)) << error;
    server_.UseTls(files_.cert_file, files_.key_file);
    server_.Serve("/secure", Response::Ok("over tls", "text/plain").WithHeader("Set-Cookie", "t=1"));
    ASSERT_TRUE(server_.Start()) << server_.error();
  }
  void TearDown() override {
    unsetenv("FOLIVEX_CA_FILE");
    server_.Stop();
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }

  std::string folder_;
  TestCertificates files_;
  TestServer server_;
};

TEST_F(HttpsLive, TrustedOnlyWithTheTestAuthority) {
  struct Case {
    const char* name;
    bool trust;
  } cases[] = {{"test CA named", true}, {"system trust only", false}, {"named again", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.trust) {
      setenv("FOLIVEX_CA_FILE", files_.ca_file.c_str(), 1);
    } else {
      unsetenv("FOLIVEX_CA_FILE");
    }
    const FetchResult fetched = Fetch(server_.Url("/secure"));
    EXPECT_EQ(fetched.Completed(), c.trust);
    EXPECT_EQ(std::string(fetched.body.begin(), fetched.body.end()), c.trust ? "over tls" : "");
    if (!c.trust) {
      ASSERT_TRUE(fetched.failure);
      EXPECT_EQ(fetched.failure->kind, FailureKind::Security) << fetched.failure->detail;
    }

    Text received;
    const Bytes body =
        HttpRequest(server_.Url("/secure"), 0, nullptr, nullptr, &received);
    EXPECT_EQ(std::string(body.begin(), body.end()), c.trust ? "over tls" : "");
    EXPECT_EQ(received, c.trust ? "t=1" : "");
  }
}

}  // namespace
}  // namespace folivex
