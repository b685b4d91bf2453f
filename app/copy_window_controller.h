#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "copy/copy_runner.h"
#include "copy/progress_display.h"
#include "platform/worker_thread.h"

namespace velmora {

// Colour values: blue, green, red from the high byte down; the top bit names a system colour.
inline constexpr uint32_t kColourButtonFace = 0x8000000F;
inline constexpr uint32_t kColourYellow = 0xFFFF;
inline constexpr uint32_t kColourGreen = 0xFF00;

namespace window_texts {
inline constexpr const char* kCaption = " Velmora";
inline constexpr const char* kInstruction =
    "\u3000インストールＣＤより必要ファイルをコピーします。 ";
inline constexpr const char* kExecute = "実 行";
inline constexpr const char* kFontFace = "ＭＳ ゴシック";
inline constexpr int kFontPoints = 9;
inline constexpr int kFontCharset = 128;  // Shift-JIS
inline constexpr const char* kCompleted =
    "\u3000インストールＣＤからファイルのコピーが終了しました。";
inline constexpr const char* kCompletedTitle = " Velmora";
inline constexpr const char* kFailureTitle = " 【 Err 】";
// Why the session should not end yet, shown by Windows when the user ends it during a run.
inline constexpr const char* kCopyUnderWayReason = "インストールＣＤからのコピーが進行中です。";
}  // namespace window_texts

// What the Execute handler needs of the window; each toolkit implements it. Everything but
// PostRunNews is called on the window's thread.
class CopyWindowView {
 public:
  virtual ~CopyWindowView() = default;
  // Disabled: no mouse or keyboard input reaches the window, its controls keep their look, and
  // its close box does nothing.
  virtual void SetWindowInputEnabled(bool enabled) = 0;
  virtual void SetButtonColour(uint32_t colour) = 0;
  virtual void SetButtonEnabled(bool enabled) = 0;
  // One OK button, no icon; returns when the box is closed.
  virtual void ShowMessageBox(std::string_view text, std::string_view title) = 0;
  virtual void SetProgressText(std::string_view text) = 0;
  // From any thread, without waiting: has the window's thread call OnRunNews soon.
  virtual void PostRunNews() = 0;
  // Has the window's thread call OnRunNews once `delay` has passed, in place of any such call
  // asked for before.
  virtual void PostRunNewsAfter(std::chrono::milliseconds delay) = 0;
  // A run's worker has started, or has ended (the session may end again).
  virtual void SetRunUnderWay(bool underWay) = 0;
};

// The Execute handler. The run goes on a worker thread, which tells the window what it has to
// say through a little shared state and a posted call, never waiting on the window: the window's
// thread paints the label no more often than a screen refreshes, and within that time of each
// change, and shows the boxes once the worker has ended.
class CopyWindowController final : public ProgressDisplay {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::milliseconds kRepaintInterval{16};

  CopyWindowController(CopyWindowView& view, CopyRunner& runner,
                       Clock clock = &std::chrono::steady_clock::now)
      : view_(view), runner_(runner), clock_(std::move(clock)) {}
  // How long a window that goes waits for a run it stops; then the program ends without it.
  static constexpr std::chrono::seconds kShutdownWait{4};

  // A run still under way is stopped, and waited for.
  ~CopyWindowController() { Shutdown(); }
  // The same, for a window that is about to go: its worker then posts nothing more to it. A
  // worker held in a call that does not return ends the program after kShutdownWait.
  void Shutdown();

  // The Execute button was activated: a run starts, unless one is under way.
  void OnExecute();
  // What a run has to say, on the window's thread.
  void OnRunNews();
  bool runUnderWay() const { return running_; }
  // How the last run ended; read once it has.
  RunOutcome lastOutcome() const { return runner_.Outcome; }

  // The session or the program is ending: the run under way stops at its next file or chunk,
  // and when it has ended `ended` is called in place of its report. Without a run, nothing.
  void StopRun(std::function<void()> ended);
  // As StopRun, then waits at most `timeout` for the worker; true when it has ended.
  bool StopRunAndWait(std::chrono::milliseconds timeout);
  // The program ends without the run under way, held in a call (CopyRunner::GiveUp).
  void GiveUpRun() { runner_.GiveUp(); }

  // The run's thread.
  void SetProgressText(std::string_view text) override;

 private:
  void Report();
  void PostNewsFromWorker();

  CopyWindowView& view_;
  CopyRunner& runner_;
  Clock clock_;
  WorkerThread worker_;

  // Shared with the worker, under mutex_.
  Mutex mutex_;
  std::string pendingText_;
  bool textPending_ = false;
  bool runEnded_ = false;
  bool newsAwaited_ = false;  // the window's thread will call OnRunNews: no need to post

  // The window's thread's own.
  bool running_ = false;
  bool reporting_ = false;  // a run's box is open: its handler has not returned yet
  std::function<void()> onStoppedRunEnded_;
  std::chrono::steady_clock::time_point lastRepaint_{};
};

// The failure box's text for a run's ResultMessage.
std::string FailureBoxText(std::string_view resultMessage);

}  // namespace velmora
