// What the terminals of both systems share.
#pragma once

#include <optional>

namespace folivex {

// The width the environment's COLUMNS names, when it names a sane one:
// what a terminal that cannot be asked is taken to be.
std::optional<int> ColumnsFromEnvironment();

}  // namespace folivex
