#pragma once

#include <chrono>

#include "platform/worker_thread.h"

namespace velmora::testing {

// Sleeps the calling thread (std::this_thread is not there in MinGW's win32 thread model).
void SleepFor(std::chrono::milliseconds time);

// Holds a thread at a point of the test's choosing until the test opens it: the thread calls
// Pass(), the test waits with WaitUntilReached() and lets it on with Open().
class Gate {
 public:
  // Waits here until the gate is opened (at most `limit`, so a broken test fails, not hangs).
  void Pass(std::chrono::milliseconds limit = std::chrono::seconds(30));
  // Whether a thread has come to the gate, waiting at most `limit` for one.
  bool WaitUntilReached(std::chrono::milliseconds limit = std::chrono::seconds(10));
  void Open();
  bool reached();

 private:
  Mutex mutex_;
  bool reached_ = false;
  bool open_ = false;
};

}  // namespace velmora::testing
