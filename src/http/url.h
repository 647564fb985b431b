// Taking a request address apart into host, port and path. The address may
// carry "http://" or "https://" or no scheme at all; every input, the empty
// text included, gives a defined result.
#pragma once

#include <optional>
#include <string_view>

#include "text/text.h"

namespace folivex {

// The host, lower-cased. `dropSubdomains` keeps only the last labels;
// `keepPort` leaves ":port" on the result. Supplying `suffixDots` (any value,
// 0 included) switches to the suffix mode, where it is the number of dots in
// the domain suffix: the last suffixDots + 1 labels remain with
// `dropSubdomains`, the last suffixDots + 2 without it.
Text UrlHost(std::string_view address, bool dropSubdomains = false, bool keepPort = false,
             std::optional<int> suffixDots = std::nullopt);

// The port after the host's last colon, else 443 for "https" addresses and
// 80 for the rest.
int UrlPort(std::string_view address);

// The path with query and fragment, always beginning with "/".
Text UrlPath(std::string_view address);

}  // namespace folivex
