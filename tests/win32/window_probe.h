#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace velmora::testing {

// A second thread asks a window what Windows asks it to tell whether it hangs (WM_NULL with
// SMTO_ABORTIFHUNG, at most 100 ms), every `interval`, and notes when each question was asked,
// how long its answer took and whether it came. The window's thread has to handle its messages
// meanwhile: Finish does, until the probe has ended.
class WindowProbe {
 public:
  using Clock = std::chrono::steady_clock;
  struct Question {
    Clock::time_point asked;
    std::chrono::milliseconds took;
    bool answered;
  };

  // `count` questions, or as many as come until Finish when 0.
  WindowProbe(HWND window, std::chrono::milliseconds interval, int count = 0)
      : window_(window), interval_(interval), count_(count) {
    thread_ = CreateThread(nullptr, 0, &WindowProbe::Run, this, 0, nullptr);
  }
  ~WindowProbe() { Finish(); }
  WindowProbe(const WindowProbe&) = delete;
  WindowProbe& operator=(const WindowProbe&) = delete;

  bool started() const { return thread_ != nullptr; }

  // Handles the calling thread's messages until the probe has asked its questions (all of them,
  // or, when it asks until told, the one on its way), at most 20 s.
  void Finish() {
    if (thread_ == nullptr) return;
    if (count_ == 0) InterlockedExchange(&stop_, 1);
    const ULONGLONG deadline = GetTickCount64() + 20000;
    MSG message;
    while (GetTickCount64() < deadline &&
           MsgWaitForMultipleObjects(1, &thread_, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0) {
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    InterlockedExchange(&stop_, 1);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }

  // Once finished.
  const std::vector<Question>& questions() const { return questions_; }
  int Unanswered() const {
    int unanswered = 0;
    for (const Question& question : questions_) unanswered += question.answered ? 0 : 1;
    return unanswered;
  }
  std::chrono::milliseconds Longest() const {
    std::chrono::milliseconds longest{0};
    for (const Question& question : questions_) longest = std::max(longest, question.took);
    return longest;
  }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* probe = static_cast<WindowProbe*>(self);
    while (InterlockedCompareExchange(&probe->stop_, 0, 0) == 0 &&
           (probe->count_ == 0 || static_cast<int>(probe->questions_.size()) < probe->count_)) {
      DWORD_PTR result = 0;
      const Clock::time_point asked = Clock::now();
      const bool answered =
          SendMessageTimeoutW(probe->window_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &result) != 0;
      probe->questions_.push_back(
          {asked, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked),
           answered});
      Sleep(static_cast<DWORD>(probe->interval_.count()));
    }
    return 0;
  }

  HWND window_;
  std::chrono::milliseconds interval_;
  int count_;
  HANDLE thread_ = nullptr;
  volatile LONG stop_ = 0;
  std::vector<Question> questions_;  // the probe thread's own until it has ended
};

}  // namespace velmora::testing
