// The GUI program: prepares the services, shows the main window and runs
// the message loop until the window is closed.
#include <memory>

#include "app/main_window.h"
#include "app/shell.h"
#include "platform/codepage.h"
#include "platform/services.h"
#include "platform/window.h"

namespace folivex {
namespace {

int RunGuiProgram(int show_command) {
  EnterProgramFolder();
  const std::shared_ptr<AppWindow> window = AppWindow::Create(MainWindowSpec());
  if (!window) {
    ShowMessage(Utf8ToGbkText("无法创建主窗口。"));
    return 1;
  }
  UseControls(window);
  window->Show(show_command);
  const int code = RunMessageLoop(window.get());
  ExitCleanup();
  return code;
}

}  // namespace
}  // namespace folivex

// The entry the C runtime calls by name (with -municode). <windows.h> stays
// inside the platform layer, so the handles arrive as plain pointers.
extern "C" int __stdcall wWinMain(void* /*instance*/, void* /*previous*/, wchar_t* /*command_line*/,
                                  int show_command) {
  // Page workers may still be running: the process ends here, at once,
  // rather than tearing down statics under them on the way out of main.
  folivex::EndProcess(folivex::RunGuiProgram(show_command));
}
