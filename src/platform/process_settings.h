// What the services of both systems keep for the whole process alike: the
// clipboard override and the message hook. Only the services read these.
#pragma once

#include <optional>

#include "platform/services.h"

namespace folivex {

// The text SetClipboardOverride put there, if any.
std::optional<Text> ClipboardOverride();
// Runs the hook SetMessageHook installed, on the calling thread; false when
// there is none, and the system's own message box is then shown.
bool RunMessageHook(const Text& text, const Text& title);
// "信息：", the title of a message box given none.
const Text& DefaultMessageTitle();

}  // namespace folivex
