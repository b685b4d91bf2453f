#include "app/copy_window_controller.h"

#include <cstdlib>

#include "app/exit_codes.h"

namespace velmora {

std::string FailureBoxText(std::string_view resultMessage) {
  std::string text = " ";
  text.append(resultMessage);
  text.append("\u3000");
  return text;
}

void CopyWindowController::Shutdown() {
  if (running_) {
    runner_.RequestStop();
    if (!worker_.WaitFor(kShutdownWait)) {
      GiveUpRun();
      std::_Exit(ExitCodeFor(RunOutcome::kStopped));
    }
  }
  worker_.Join();
}

void CopyWindowController::OnExecute() {
  // Nothing re-enters: an activation that is not input (an accessibility press, a message from
  // another program) starts no second run inside the first, nor while its box is open.
  if (running_ || reporting_) return;
  view_.SetWindowInputEnabled(false);
  view_.SetButtonColour(kColourYellow);
  runner_.ResultMessage.clear();
  {
    MutexLock lock(mutex_);
    textPending_ = false;
    runEnded_ = false;
    newsAwaited_ = false;
  }
  lastRepaint_ = {};
  running_ = true;
  view_.SetRunUnderWay(true);
  const bool started = worker_.Start([this] {
    runner_.RunCopy();
    {
      MutexLock lock(mutex_);
      runEnded_ = true;
    }
    PostNewsFromWorker();
  });
  if (!started) {
    // No thread to be had: the run goes here, as it always could.
    runner_.RunCopy();
    MutexLock lock(mutex_);
    runEnded_ = true;
    newsAwaited_ = true;
    view_.PostRunNews();
  }
}

void CopyWindowController::SetProgressText(std::string_view text) {
  {
    MutexLock lock(mutex_);
    pendingText_.assign(text);
    textPending_ = true;
  }
  PostNewsFromWorker();
}

void CopyWindowController::PostNewsFromWorker() {
  {
    MutexLock lock(mutex_);
    if (newsAwaited_) return;
    newsAwaited_ = true;
  }
  view_.PostRunNews();
}

void CopyWindowController::OnRunNews() {
  if (!running_) return;
  std::string text;
  bool textPending = false;
  bool ended = false;
  const auto now = clock_();
  const bool mayRepaint = now - lastRepaint_ >= kRepaintInterval;
  {
    MutexLock lock(mutex_);
    ended = runEnded_;
    textPending = textPending_;
    // The run's last word on the label is painted at once, before its report.
    if (textPending && (mayRepaint || ended)) {
      text = std::move(pendingText_);
      textPending_ = false;
    }
    // A label that changed too soon after the last paint waits for the next one.
    newsAwaited_ = !ended && textPending && !mayRepaint;
  }
  if (textPending && (mayRepaint || ended)) {
    view_.SetProgressText(text);
    lastRepaint_ = now;
  } else if (textPending && !ended) {
    view_.PostRunNewsAfter(
        std::chrono::ceil<std::chrono::milliseconds>(kRepaintInterval - (now - lastRepaint_)));
  }
  if (!ended) return;

  worker_.Join();
  running_ = false;
  view_.SetRunUnderWay(false);
  if (onStoppedRunEnded_) {
    onStoppedRunEnded_();
    return;
  }
  Report();
}

void CopyWindowController::Report() {
  reporting_ = true;
  if (!runner_.ResultMessage.empty()) {
    std::string text = FailureBoxText(runner_.ResultMessage);
    const std::string footnote = runner_.FailureFootnote();
    if (!footnote.empty()) text += "\n" + footnote;
    view_.ShowMessageBox(text, window_texts::kFailureTitle);
    view_.SetButtonColour(kColourButtonFace);
  } else {
    view_.ShowMessageBox(window_texts::kCompleted, window_texts::kCompletedTitle);
    view_.SetButtonColour(kColourGreen);
    view_.SetButtonEnabled(false);
  }
  reporting_ = false;
  view_.SetWindowInputEnabled(true);
}

void CopyWindowController::StopRun(std::function<void()> ended) {
  if (!running_) return;
  onStoppedRunEnded_ = std::move(ended);
  if (!onStoppedRunEnded_) onStoppedRunEnded_ = [] {};
  runner_.RequestStop();
}

bool CopyWindowController::StopRunAndWait(std::chrono::milliseconds timeout) {
  StopRun(nullptr);
  return worker_.WaitFor(timeout);
}

}  // namespace velmora
