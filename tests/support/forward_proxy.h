// A forward HTTP proxy on 127.0.0.1 for tests: it takes requests in the
// absolute form a client sends to a proxy ("GET http://host:port/path"),
// records their targets, and answers each with what a direct fetch of
// that address gives. Plain http only (no CONNECT).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "support/test_server.h"

namespace folivex {

class ForwardProxy {
 public:
  ForwardProxy();
  bool Start() { return server_.Start(); }
  const std::string& error() const { return server_.error(); }
  // "http://127.0.0.1:PORT/"
  std::string Url() const { return server_.Url(""); }
  // The absolute targets that came through, in order.
  std::vector<std::string> Targets() const;
  // The requests as the proxy received them.
  std::vector<RecordedRequest> Requests() const { return server_.Requests(); }

 private:
  TestServer server_;
};

}  // namespace folivex
