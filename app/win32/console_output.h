#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The program's arguments, as UTF-8, without its own name.
std::vector<std::string> CommandLineArguments();

// A Windows program with a window has no console of its own. A line goes to the handle its
// parent gave it for the stream (a file or a pipe), else to the parent's console when it has
// one, else nowhere.
// Attaches the program to its parent's console, once; true when it has one. Its Ctrl+C then
// reaches the program too.
bool AttachedToParentConsole();

enum class OutputStream { kOutput, kError };
void WriteLineToParent(OutputStream stream, std::string_view utf8);

}  // namespace velmora
