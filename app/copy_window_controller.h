#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "copy/copy_runner.h"
#include "copy/progress_display.h"

namespace velmora {

// Colour values: blue, green, red from the high byte down; the top bit names a system colour.
inline constexpr uint32_t kColourButtonFace = 0x8000000F;
inline constexpr uint32_t kColourYellow = 0xFFFF;
inline constexpr uint32_t kColourGreen = 0xFF00;

namespace window_texts {
inline constexpr const char* kCaption = " Velmora";
inline constexpr const char* kInstruction = "\u3000インストールＣＤより必要ファイルをコピーします。 ";
inline constexpr const char* kExecute = "実 行";
inline constexpr const char* kFontFace = "ＭＳ ゴシック";
inline constexpr int kFontPoints = 9;
inline constexpr int kFontCharset = 128;  // Shift-JIS
inline constexpr const char* kCompleted = "\u3000インストールＣＤからファイルのコピーが終了しました。";
inline constexpr const char* kCompletedTitle = " Velmora";
inline constexpr const char* kFailureTitle = " 【 Err 】";
}  // namespace window_texts

// What the Execute handler needs of the window; each toolkit implements it.
class CopyWindowView : public ProgressDisplay {
 public:
  // Disabled: no mouse or keyboard input reaches the window, its controls keep their look, and
  // its close box does nothing.
  virtual void SetWindowInputEnabled(bool enabled) = 0;
  virtual void SetButtonColour(uint32_t colour) = 0;
  virtual void SetButtonEnabled(bool enabled) = 0;
  // One OK button, no icon; returns when the box is closed.
  virtual void ShowMessageBox(std::string_view text, std::string_view title) = 0;
};

// The Execute handler, and the progress display it offers the run: the window is repainted no
// more often than a screen refreshes, and whenever it is, the label shows the number of the file
// being copied.
class CopyWindowController final : public ProgressDisplay {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::milliseconds kRepaintInterval{16};

  CopyWindowController(CopyWindowView& view, CopyRunner& runner,
                       Clock clock = &std::chrono::steady_clock::now)
      : view_(view), runner_(runner), clock_(std::move(clock)) {}

  // The Execute button was activated: one run, then its report.
  void OnExecute();

  void SetProgressText(std::string_view text) override;
  void ProcessPendingMessages() override;

 private:
  void ShowProgressNow();

  CopyWindowView& view_;
  CopyRunner& runner_;
  Clock clock_;
  std::string pendingText_;
  bool textPending_ = false;
  std::chrono::steady_clock::time_point lastRepaint_{};
};

// The failure box's text for a run's ResultMessage.
std::string FailureBoxText(std::string_view resultMessage);

}  // namespace velmora
