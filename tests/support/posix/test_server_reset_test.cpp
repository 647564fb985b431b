// A reset fault puts a real RST on the wire, so the client's read fails
// rather than ending like a complete answer.
#include <gtest/gtest.h>

#include <string>

#include "support/test_server.h"

namespace folivex {
namespace {

TEST(TestServerReset, ClientSeesAReset) {
  struct Case {
    const char* name;
    Fault fault;
    std::size_t body_bytes;
  } cases[] = {
      {"mid-body", Fault::kReset, 300},
      {"before any byte", Fault::kResetAtOnce, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Delivery delivery;
    delivery.fault = c.fault;
    delivery.fault_after = c.body_bytes;
    TestServer server;
    server.Serve("/x", Response::Ok(std::string(5000, 'r')).With(delivery));
    ASSERT_TRUE(server.Start()) << server.error();
    RawExchange seen = ExchangeRaw(server.port(), "GET /x HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_EQ(seen.end, RawExchange::End::kReset);
    ParsedResponse reply = ParseResponse(seen.bytes);
    EXPECT_FALSE(reply.complete && c.fault == Fault::kReset);
    EXPECT_EQ(reply.body.size(), c.body_bytes);
  }
}

}  // namespace
}  // namespace folivex
