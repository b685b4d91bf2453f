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
  lastRepaint_ = {};
  runner_.RunCopy();
  ShowProgressNow();  // the run's last word on the label is painted before the report

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

namespace velmora {

void CopyWindowController::SetProgressText(std::string_view text) {
  pendingText_ = std::string(text);
  textPending_ = true;
}

void CopyWindowController::ProcessPendingMessages() {
  if (clock_() - lastRepaint_ >= kRepaintInterval) ShowProgressNow();
}

void CopyWindowController::ShowProgressNow() {
  if (textPending_) view_.SetProgressText(pendingText_);
  textPending_ = false;
  view_.ProcessPendingMessages();
  lastRepaint_ = clock_();
}

}  // namespace velmora
