#pragma once

#include <string>
#include <vector>

#include "copy/progress_display.h"

namespace velmora::testing {

// The run's progress display, recording each text it is given.
class RecordingProgress final : public ProgressDisplay {
 public:
  void SetProgressText(std::string_view text) override { history.emplace_back(text); }
  std::vector<std::string> history;
};

}  // namespace velmora::testing
