#include "support/forward_proxy.h"

#include "platform/services.h"

namespace folivex {

ForwardProxy::ForwardProxy() {
  server_.SetFallback([](const RecordedRequest& request) {
    if (!request.target.starts_with("http://")) return Response::Status(400, "not a proxy request");
    // The default options go direct, so the fetch does not loop back here.
    const FetchResult fetched = Fetch(request.target);
    if (!fetched.Completed()) return Response::Status(502, "upstream failed");
    Response response;
    response.status = fetched.status;
    response.body.assign(fetched.body.begin(), fetched.body.end());
    response.content_type = fetched.content_type;
    return response;
  });
}

std::vector<std::string> ForwardProxy::Targets() const {
  std::vector<std::string> targets;
  for (const RecordedRequest& r : server_.Requests()) targets.push_back(r.target);
  return targets;
}

}  // namespace folivex
