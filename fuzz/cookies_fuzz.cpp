// Set-Cookie collection and cookie merging on arbitrary header blocks and
// cookie texts: no crash, the merge result is what the cookies became and
// holds no more than the two texts did.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "http/cookies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace folivex;
  FuzzedDataProvider data(bytes, size);
  Text cookies = data.ConsumeRandomLengthString(256);
  const std::string separator = data.ConsumeRandomLengthString(3);
  const std::string headers = data.ConsumeRemainingBytesAsString();

  const std::size_t old_size = cookies.size();
  Text received = CollectSetCookies(headers);
  Check(received.size() <= headers.size() + headers.size() / 2 + 2);
  const std::size_t received_size = received.size();
  const Text merged = MergeCookies(cookies, received);
  Check(merged == cookies);
  // Items are only dropped, never invented: at most the two texts and the
  // "; " between their items.
  Check(merged.size() <= 2 * (old_size + received_size) + 2);

  const Text distinct = JoinDistinct(headers, separator);
  Check(distinct.size() <= headers.size());
  const Text name = CookieName(headers);
  Check(name.size() <= headers.size());
  return 0;
}
