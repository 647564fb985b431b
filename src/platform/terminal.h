// The terminal of a command-line program: its arguments and its output, in
// UTF-8 on this side. Windows reads the arguments as UTF-16 and writes to a
// console through the UTF-16 console functions, so any character shows
// whatever the console's code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace folivex {

enum class TerminalStream { Out, Err };

// The program's arguments without its name, in UTF-8.
std::vector<std::string> CommandLineArguments(int argc, char** argv);
bool IsTerminal(TerminalStream stream);
// The width in columns of the terminal behind `stream`; nothing when it is
// no terminal and the environment's COLUMNS does not say either.
std::optional<int> TerminalColumns(TerminalStream stream);
// Writes UTF-8 text as it is; nothing is added.
void WriteTerminal(TerminalStream stream, std::string_view utf8);

}  // namespace folivex
