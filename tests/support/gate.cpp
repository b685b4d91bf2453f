#include "tests/support/gate.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace velmora::testing {

void SleepFor(std::chrono::milliseconds time) {
#ifdef _WIN32
  Sleep(static_cast<DWORD>(time.count()));
#else
  const timespec wait{static_cast<time_t>(time.count() / 1000),
                      static_cast<long>(time.count() % 1000) * 1000000};
  nanosleep(&wait, nullptr);
#endif
}

namespace {
constexpr std::chrono::milliseconds kPoll{1};
}

void Gate::Pass(std::chrono::milliseconds limit) {
  {
    MutexLock lock(mutex_);
    reached_ = true;
  }
  for (auto waited = std::chrono::milliseconds(0); waited < limit; waited += kPoll) {
    {
      MutexLock lock(mutex_);
      if (open_) return;
    }
    SleepFor(kPoll);
  }
}

bool Gate::WaitUntilReached(std::chrono::milliseconds limit) {
  for (auto waited = std::chrono::milliseconds(0); waited < limit; waited += kPoll) {
    if (reached()) return true;
    SleepFor(kPoll);
  }
  return reached();
}

void Gate::Open() {
  MutexLock lock(mutex_);
  open_ = true;
}

bool Gate::reached() {
  MutexLock lock(mutex_);
  return reached_;
}

}  // namespace velmora::testing
