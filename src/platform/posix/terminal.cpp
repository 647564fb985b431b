#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/terminal_common.h"

namespace folivex {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool IsTerminal(TerminalStream stream) {
  return ::isatty(stream == TerminalStream::Out ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

std::optional<int> TerminalColumns(TerminalStream stream) {
  winsize size{};
  const int fd = stream == TerminalStream::Out ? STDOUT_FILENO : STDERR_FILENO;
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return ColumnsFromEnvironment();
}

void WriteTerminal(TerminalStream stream, std::string_view utf8) {
  const int fd = stream == TerminalStream::Out ? STDOUT_FILENO : STDERR_FILENO;
  while (!utf8.empty()) {
    const ssize_t written = ::write(fd, utf8.data(), utf8.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // a closed pipe: nobody is reading
    utf8.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace folivex
