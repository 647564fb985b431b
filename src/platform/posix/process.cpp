#include <unistd.h>

#include "platform/services.h"

namespace folivex {

int ProcessId() { return static_cast<int>(::getpid()); }

}  // namespace folivex
