#pragma once

#include <chrono>
#include <functional>
#include <string_view>

#include "copy/copy_runner.h"

namespace velmora {

// A run without a window, for tools that start the program unattended: the same run as Execute,
// then the box's text as one line through `writeLine` instead of a box. Returns the exit code.
// `stopAsked` is polled: once it answers true the run is asked to stop, and when it has not
// ended `stopGrace` later the program ends at once with kExitStopped.
int RunSilently(CopyRunner& run, const std::function<void(std::string_view)>& writeLine,
                const std::function<bool()>& stopAsked,
                std::chrono::milliseconds stopGrace = std::chrono::seconds(4));

}  // namespace velmora
