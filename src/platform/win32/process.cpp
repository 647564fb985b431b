#include <windows.h>

#include "platform/services.h"

namespace folivex {

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

}  // namespace folivex
