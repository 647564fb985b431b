// Request addresses taken apart: any bytes give a defined host, a port in
// range and a path that starts with "/".
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "http/url.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace folivex;
  FuzzedDataProvider data(bytes, size);
  const bool drop = data.ConsumeBool();
  const bool keep_port = data.ConsumeBool();
  const std::optional<int> dots =
      data.ConsumeBool() ? std::optional<int>(data.ConsumeIntegralInRange<int>(-4, 64)) : std::nullopt;
  const std::string address = data.ConsumeRemainingBytesAsString();

  const Text host = UrlHost(address, drop, keep_port, dots);
  Check(host.size() <= address.size());
  // Lower-cased as a code page 936 text: a capital letter may remain as
  // the second byte of a double-byte character.
  Check(ToLower(host) == host);
  const Text plain = UrlHost(address);
  Check(plain.size() <= address.size());
  (void)UrlPort(address);
  const Text path = UrlPath(address);
  Check(!path.empty() && path.front() == '/');
  Check(path.size() <= address.size() + 1);
  return 0;
}
