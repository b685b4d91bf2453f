#pragma once

#include <string_view>

namespace velmora {

// Where a run shows its progress: the copy window's progress label. Called on the run's own
// thread; it never waits on the window.
class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  virtual void SetProgressText(std::string_view text) = 0;
};

}  // namespace velmora
