// folivex-dl: the book analysis and page download of the window, driven
// from a command line, with the window's controls kept in memory.
#pragma once

#include <string>
#include <vector>

namespace folivex {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a page or a book failed
inline constexpr int kExitUsage = 2;   // a bad command line

// Runs the program on its arguments (without the program name) and returns
// its exit status.
int RunCli(const std::vector<std::string>& args);

}  // namespace folivex
