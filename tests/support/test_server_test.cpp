// The loopback test server itself: the parts where a fault mode could quietly
// fail to produce the fault that the rest of the tests rely on.
#include <gtest/gtest.h>

#include <string>

#include "support/test_server.h"

namespace folivex {
namespace {

using std::chrono::milliseconds;

std::string BodyOf(const std::string& bytes) {
  std::size_t end = bytes.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : bytes.substr(end + 4);
}

std::string HeadOf(const std::string& bytes) {
  std::size_t end = bytes.find("\r\n\r\n");
  return end == std::string::npos ? bytes : bytes.substr(0, end + 2);
}

Delivery Failing(Fault fault, std::size_t after = 0) {
  Delivery delivery;
  delivery.fault = fault;
  delivery.fault_after = after;
  delivery.stall_for = milliseconds(60000);
  return delivery;
}

Delivery WrongLength(long long length) {
  Delivery delivery;
  delivery.content_length = length;
  return delivery;
}

Delivery Dripping(std::size_t bytes, milliseconds interval) {
  Delivery delivery;
  delivery.drip_bytes = bytes;
  delivery.drip_interval = interval;
  return delivery;
}

Delivery Capped(long long bytes_per_second) {
  Delivery delivery;
  delivery.bytes_per_second = bytes_per_second;
  return delivery;
}

const std::string kGet = "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

TEST(TestServer, RecordsWhatTheClientSent) {
  TestServer server;
  server.Serve("/form", Response::Ok("done", "text/plain"));
  ASSERT_TRUE(server.Start()) << server.error();
  std::string post =
      "POST /form?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Probe: one\r\nCookie: a=1; b=2\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 10\r\n"
      "Connection: close\r\n\r\nname=value";
  ParsedResponse reply = ParseResponse(ExchangeRaw(server.port(), post).bytes);
  ASSERT_TRUE(reply.complete);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "done");

  auto requests = server.RequestsFor("/form");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/form?x=1");
  EXPECT_EQ(requests[0].query, "x=1");
  EXPECT_EQ(requests[0].body, "name=value");
  EXPECT_EQ(requests[0].Header("x-probe"), "one");
  EXPECT_EQ(requests[0].Header("Cookie"), "a=1; b=2");
  EXPECT_EQ(server.RequestCount("/form"), 1);
  EXPECT_EQ(server.RequestCount("/other"), 0);
}

TEST(TestServer, SendsRepeatedHeadersAndRedirects) {
  TestServer server;
  server.Serve("/x", Response::Ok("c")
                         .WithHeader("Set-Cookie", "a=1; path=/")
                         .WithHeader("Set-Cookie", "b=2; HttpOnly"));
  server.ServeRedirect("/old", 301, "/new");
  ASSERT_TRUE(server.Start()) << server.error();

  std::string head = HeadOf(ExchangeRaw(server.port(), "GET /x HTTP/1.0\r\n\r\n").bytes);
  EXPECT_NE(head.find("\r\nSet-Cookie: a=1; path=/\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nSet-Cookie: b=2; HttpOnly\r\n"), std::string::npos) << head;

  auto moved = ExchangeRaw(server.port(), "GET /old HTTP/1.0\r\n\r\n");
  EXPECT_EQ(moved.bytes.rfind("HTTP/1.1 301 Moved Permanently\r\n", 0), 0u) << moved.bytes;
  EXPECT_NE(moved.bytes.find("\r\nLocation: /new\r\n"), std::string::npos);
  // HTTP/1.0 without keep-alive: the server closes after the answer.
  EXPECT_EQ(moved.end, RawExchange::End::kClosed);
}

// What a byte-level client sees for each fault mode.
TEST(TestServer, FaultsReachTheWire) {
  const std::string body(10000, 'b');
  struct Case {
    const char* name;
    Delivery delivery;
    RawExchange::End end;
    std::string declared_length;  // in the Content-Length header; empty: no head at all
    std::size_t body_bytes;       // body bytes that arrive
  } cases[] = {
      {"cut short", Failing(Fault::kCutShort, 4000), RawExchange::End::kClosed,
       "10000", 4000},
      {"reset mid-body", Failing(Fault::kReset, 4000), RawExchange::End::kReset,
       "10000", 4000},
      {"stall after head", Failing(Fault::kStall),
       RawExchange::End::kSilent, "10000", 0},
      {"length too long", WrongLength(20000), RawExchange::End::kClosed, "20000", 10000},
      {"length too short", WrongLength(10), RawExchange::End::kClosed, "10", 10000},
      {"no answer", Failing(Fault::kNoAnswer),
       RawExchange::End::kSilent, "", 0},
      {"close at once", Failing(Fault::kCloseAtOnce), RawExchange::End::kClosed, "", 0},
      {"reset at once", Failing(Fault::kResetAtOnce), RawExchange::End::kReset, "", 0},
      {"slow drip", Dripping(2500, milliseconds(20)),
       RawExchange::End::kSilent, "10000", 10000},
      {"bandwidth cap", Capped(50000), RawExchange::End::kSilent, "10000", 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestServer server;
    server.Serve("/x", Response::Ok(body, "image/jpeg").With(c.delivery));
    ASSERT_TRUE(server.Start()) << server.error();
    RawExchange seen = ExchangeRaw(server.port(), kGet, 700);
    ASSERT_TRUE(seen.connected);
    if (c.end == RawExchange::End::kReset) {
      // Wine's Winsock reports a reset as an orderly end to the reader; the
      // posix tests check that a reset is what goes on the wire.
      EXPECT_NE(seen.end, RawExchange::End::kSilent);
    } else {
      EXPECT_EQ(seen.end, c.end);
    }
    if (c.declared_length.empty()) {
      EXPECT_EQ(seen.bytes, "");
    } else {
      EXPECT_NE(HeadOf(seen.bytes).find("\r\nContent-Length: " + c.declared_length + "\r\n"),
                std::string::npos)
          << HeadOf(seen.bytes);
      EXPECT_EQ(BodyOf(seen.bytes), body.substr(0, c.body_bytes));
    }
    // A stalled connection must not hold up the end of the test.
    server.Stop();
  }
}

TEST(TestServer, FailsTheFirstRequestsOfAPath) {
  TestServer server;
  server.FailFirst("/flaky", 2, Response::Ok("fine"));
  ASSERT_TRUE(server.Start()) << server.error();
  int statuses[3] = {};
  for (int& status : statuses) {
    status = ParseResponse(ExchangeRaw(server.port(), "GET /flaky HTTP/1.0\r\n\r\n").bytes).status;
  }
  EXPECT_EQ(statuses[0], 503);
  EXPECT_EQ(statuses[1], 503);
  EXPECT_EQ(statuses[2], 200);
  EXPECT_EQ(server.RequestCount("/flaky"), 3);
}

TEST(TestServer, KeepsConnectionsAliveAndServesLargeBodies) {
  std::string large(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7919 >> 3);
  TestServer server;
  server.Serve("/big", Response::Ok(large, "application/octet-stream"));
  ASSERT_TRUE(server.Start()) << server.error();
  // Two requests sent back to back on one connection, the second closing it.
  RawExchange seen = ExchangeRaw(server.port(),
                                 "GET /big HTTP/1.1\r\nHost: h\r\n\r\n"
                                 "GET /big HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
  ParsedResponse first = ParseResponse(seen.bytes);
  ParsedResponse second = ParseResponse(seen.bytes, first.consumed);
  EXPECT_TRUE(first.complete && second.complete);
  EXPECT_TRUE(first.body == large);
  EXPECT_TRUE(second.body == large);
  EXPECT_EQ(seen.end, RawExchange::End::kClosed);
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].connection, requests[1].connection);
}

TEST(TestServer, UnknownPathsAndPrefixes) {
  TestServer server;
  server.HandlePrefix("/files/", [](const RecordedRequest& request) {
    return Response::Ok("file " + request.path.substr(7), "text/plain");
  });
  server.Handle("/files/special", [](const RecordedRequest&) { return Response::Ok("exact"); });
  ASSERT_TRUE(server.Start()) << server.error();
  struct Case {
    const char* path;
    int status;
    const char* body;
  } cases[] = {
      {"/files/a.jpg", 200, "file a.jpg"},
      {"/files/special", 200, "exact"},
      {"/elsewhere", 404, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ParsedResponse reply = ParseResponse(
        ExchangeRaw(server.port(), std::string("GET ") + c.path + " HTTP/1.0\r\n\r\n").bytes);
    EXPECT_EQ(reply.status, c.status);
    if (c.body) {
      EXPECT_EQ(reply.body, c.body);
    }
  }
}

}  // namespace
}  // namespace folivex
