#include "support/system_expectations.h"

namespace folivex {

const SystemExpectations& System() {
  static const SystemExpectations expectations{
      .reads_past_short_content_length = false,
  };
  return expectations;
}

}  // namespace folivex
