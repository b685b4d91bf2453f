#pragma once

#include <windows.h>


#include "app/copy_window_controller.h"
#include "app/win32/session_end.h"

namespace velmora {

// The copy window in plain Win32: a fixed single border with a close box only, an owner-drawn
// Execute button that paints its background colour, and two static labels, laid out at load.
class Win32CopyWindow final : public CopyWindowView {
 public:
  // Not IDOK (1) nor IDCANCEL (2): the dialog manager's Enter and Escape must never reach the
  // Execute handler as a click.
  static constexpr int kExecuteButtonId = 100;

  explicit Win32CopyWindow(CopyRunner& runner);
  ~Win32CopyWindow() override;
  Win32CopyWindow(const Win32CopyWindow&) = delete;
  Win32CopyWindow& operator=(const Win32CopyWindow&) = delete;

  // Creates and lays out the window, shows it and runs its messages until it is closed.
  void ShowModal();
  // Creates and lays out the window, hidden; false when it could not be created.
  bool Create();

  void SetWindowInputEnabled(bool enabled) override;
  void SetButtonColour(uint32_t colour) override;
  void SetButtonEnabled(bool enabled) override;
  void ShowMessageBox(std::string_view text, std::string_view title) override;
  void SetProgressText(std::string_view text) override;
  void PostRunNews() override;
  void PostRunNewsAfter(std::chrono::milliseconds delay) override;
  void SetRunUnderWay(bool underWay) override;

  // What the copy run writes its progress to, from its own thread.
  ProgressDisplay& runProgress() { return controller_; }
  CopyWindowController& controller() { return controller_; }

  // What the window asks of the system about the session's end; a test puts its own in place.
  void SetSessionEndCalls(SessionEndCalls calls) { sessionEnd_ = std::move(calls); }

  HWND window() const { return window_; }
  HWND executeButton() const { return button_; }
  HWND instructionLabel() const { return instruction_; }
  HWND progressLabel() const { return progress_; }
  uint32_t buttonColour() const { return buttonColour_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void LayOut();
  void DrawButton(const DRAWITEMSTRUCT& item) const;
  void FocusButton();
  void EndSession();

  CopyWindowController controller_;
  HWND window_ = nullptr;
  HWND button_ = nullptr;
  HWND instruction_ = nullptr;
  HWND progress_ = nullptr;
  WNDPROC buttonClassProc_ = nullptr;
  int dpi_ = 96;
  HFONT namedFont_ = nullptr;
  HFONT defaultFont_ = nullptr;
  uint32_t buttonColour_ = kColourButtonFace;
  bool running_ = false;
  bool blockingSessionEnd_ = false;
  SessionEndCalls sessionEnd_ = SystemSessionEndCalls();
};

}  // namespace velmora
