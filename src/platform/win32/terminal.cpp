#include "platform/terminal.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "platform/codepage.h"
#include "platform/terminal_common.h"

namespace folivex {
namespace {

struct LocalFreer {
  void operator()(void* p) const { LocalFree(p); }
};

HANDLE StreamHandle(TerminalStream stream) {
  return GetStdHandle(stream == TerminalStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

std::vector<std::string> CommandLineArguments(int, char**) {
  // The narrow argv is in the ANSI code page and loses characters; take the
  // UTF-16 command line instead.
  int count = 0;
  std::unique_ptr<LPWSTR, LocalFreer> argv(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> args;
  for (int i = 1; argv && i < count; ++i) {
    const LPWSTR arg = argv.get()[i];
    args.push_back(Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(arg), wcslen(arg))));
  }
  return args;
}

bool IsTerminal(TerminalStream stream) {
  DWORD mode = 0;
  return GetConsoleMode(StreamHandle(stream), &mode) != 0;
}

std::optional<int> TerminalColumns(TerminalStream stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(StreamHandle(stream), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return columns;
  }
  return ColumnsFromEnvironment();
}

void WriteTerminal(TerminalStream stream, std::string_view utf8) {
  const HANDLE handle = StreamHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  // A pipe or a file gets the UTF-8 bytes.
  while (!utf8.empty()) {
    DWORD written = 0;
    if (!WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) ||
        written == 0) {
      return;
    }
    utf8.remove_prefix(written);
  }
}

}  // namespace folivex
