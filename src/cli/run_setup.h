// What a folivex-dl run reads before its first request: the address lists,
// the cookie file, the environment's proxies, and the fetch options every
// request of the run shares.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"
#include "platform/services.h"

namespace folivex {

struct RunSetup {
  FetchOptions fetch;
  std::vector<std::string> urls;  // the books, in the order given
  std::string error;              // why the run cannot start; empty when it can
};

RunSetup PrepareRun(const CliOptions& options);

}  // namespace folivex
