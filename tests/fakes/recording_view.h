#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/copy_window_controller.h"
#include "platform/worker_thread.h"

namespace velmora::testing {

// A copy window that records what it is told, in order, as readable lines. The test's thread is
// its window thread: news the worker posts wait until the test takes them.
class RecordingView final : public CopyWindowView {
 public:
  void SetWindowInputEnabled(bool enabled) override {
    windowEnabled = enabled;
    events.push_back(enabled ? "window enabled" : "window disabled");
  }
  void SetButtonColour(uint32_t colour) override {
    buttonColour = colour;
    events.push_back("colour " + std::to_string(colour));
  }
  void SetButtonEnabled(bool enabled) override {
    buttonEnabled = enabled;
    events.push_back(enabled ? "button enabled" : "button disabled");
  }
  void ShowMessageBox(std::string_view text, std::string_view title) override {
    boxes.push_back({std::string(text), std::string(title)});
    events.push_back("box " + std::string(title));
    coloursWhileBoxOpen.push_back(buttonColour);
    if (onBox) onBox();
  }
  void SetProgressText(std::string_view text) override {
    progressText = std::string(text);
    progressHistory.push_back(progressText);
    if (onPaint) onPaint(progressText);
  }
  void PostRunNews() override {
    MutexLock lock(mutex_);
    ++postedNews_;
  }
  void PostRunNewsAfter(std::chrono::milliseconds delay) override {
    timerDelay = delay;
    timerSet = true;
  }
  void SetRunUnderWay(bool underWay) override {
    events.push_back(underWay ? "run started" : "run ended");
  }

  // The news posted since the last call (they come as one call of OnRunNews).
  int TakePostedNews() {
    MutexLock lock(mutex_);
    const int posted = postedNews_;
    postedNews_ = 0;
    return posted;
  }

  struct Box {
    std::string text;
    std::string title;
  };
  std::vector<std::string> events;
  std::vector<Box> boxes;
  std::vector<uint32_t> coloursWhileBoxOpen;
  std::vector<std::string> progressHistory;
  std::string progressText;
  uint32_t buttonColour = kColourButtonFace;
  bool windowEnabled = true;
  bool buttonEnabled = true;
  bool timerSet = false;
  std::chrono::milliseconds timerDelay{};
  std::function<void(const std::string&)> onPaint;
  std::function<void()> onBox;  // while a box is open

 private:
  Mutex mutex_;
  int postedNews_ = 0;
};

}  // namespace velmora::testing
