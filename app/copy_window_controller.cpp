#include "app/copy_window_controller.h"

namespace velmora {

std::string FailureBoxText(std::string_view resultMessage) {
  std::string text = " ";
  text.append(resultMessage);
  text.append("\u3000");
  return text;
}

void CopyWindowController::OnExecute() {
  view_.SetWindowInputEnabled(false);
  view_.SetButtonColour(kColourYellow);
  runner_.ResultMessage.clear();
  runner_.RunCopy();

  if (!runner_.ResultMessage.empty()) {
    view_.ShowMessageBox(FailureBoxText(runner_.ResultMessage), window_texts::kFailureTitle);
    view_.SetButtonColour(kColourButtonFace);
  } else {
    view_.ShowMessageBox(window_texts::kCompleted, window_texts::kCompletedTitle);
    view_.SetButtonColour(kColourGreen);
    view_.SetButtonEnabled(false);
  }
  view_.SetWindowInputEnabled(true);
}

}  // namespace velmora
