#include "cli/run_setup.h"

#include <cstdlib>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>

#include "platform/codepage.h"

namespace folivex {
namespace {

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

}  // namespace

RunSetup PrepareRun(const CliOptions& options) {
  RunSetup setup;
  FetchOptions& fetch = setup.fetch;
  if (options.timeout_seconds) {
    fetch.connect_timeout_ms = *options.timeout_seconds * 1000;
    fetch.idle_timeout_ms = *options.timeout_seconds * 1000;
  }
  if (options.max_page_bytes) fetch.max_body_bytes = *options.max_page_bytes;
  if (options.user_agent) fetch.user_agent = *options.user_agent;
  if (options.referer) fetch.referer = *options.referer;
  fetch.headers = options.headers;
  if (options.cookies_file) {
    const std::optional<Bytes> bytes = ReadBytesFile(Utf8ToGbkText(*options.cookies_file));
    if (!bytes) {
      setup.error = "cannot read the cookie file '" + *options.cookies_file + "'";
      return setup;
    }
    fetch.cookies = std::make_shared<const std::vector<FileCookie>>(
        ParseCookieFile(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size())));
  }
  fetch.proxy = ProxySettingsFromEnvironment(Environment);
  if (options.proxy) {
    fetch.proxy.explicit_proxy = *options.proxy;
    // An empty --proxy goes direct, whatever the environment says.
    fetch.proxy.enabled = !options.proxy->empty();
  }
  if (options.limit_rate > 0) fetch.rate_limit = std::make_shared<RateLimit>(options.limit_rate);
  // One bound of requests in flight for all the books of the run.
  fetch.slots = std::make_shared<RequestSlots>(options.threads);

  setup.urls = options.urls;
  for (const std::string& file : options.input_files) {
    std::string text;
    if (file == "-") {
      text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
      const std::optional<Bytes> bytes = ReadBytesFile(Utf8ToGbkText(file));
      if (!bytes) {
        setup.error = "cannot read the address list '" + file + "'";
        return setup;
      }
      text.assign(bytes->begin(), bytes->end());
    }
    for (std::string& url : AddressesInList(text)) setup.urls.push_back(std::move(url));
  }
  if (setup.urls.empty()) setup.error = "no book address given";
  return setup;
}

}  // namespace folivex
