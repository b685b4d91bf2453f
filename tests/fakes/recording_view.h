#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/copy_window_controller.h"

namespace velmora::testing {

// A copy window that records what it is told, in order, as readable lines.
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
  }
  void SetProgressText(std::string_view text) override {
    progressText = std::string(text);
    progressHistory.push_back(progressText);
  }
  void ProcessPendingMessages() override {
    ++pumpCount;
    if (onProcessMessages) onProcessMessages();
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
  int pumpCount = 0;
  std::function<void()> onProcessMessages;
};

}  // namespace velmora::testing
