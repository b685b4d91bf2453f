#pragma once

#include <string_view>

namespace velmora {

// Where a run shows its progress: the copy window's progress label.
class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  virtual void SetProgressText(std::string_view text) = 0;
  // Lets the window repaint; brings it no user input while a run is under way.
  virtual void ProcessPendingMessages() = 0;
};

}  // namespace velmora
