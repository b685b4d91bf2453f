#pragma once

#include <string>

namespace velmora {

// The request-and-answer protocol of a copy run: the caller empties ResultMessage, calls RunCopy,
// and reads ResultMessage: empty when the run went through, else the text to report.
class CopyRunner {
 public:
  virtual ~CopyRunner() = default;
  virtual void RunCopy() = 0;

  std::string ResultMessage;
};

}  // namespace velmora
