#pragma once

#include <QDialog>

#include "app/copy_window_controller.h"

class QLabel;
class QTimer;
class QPushButton;

namespace velmora {

// The copy window in Qt Widgets: a fixed dialog with a close box only, laid out once at load.
class QtCopyWindow final : public QDialog, public CopyWindowView {
 public:
  explicit QtCopyWindow(CopyRunner& runner);
  ~QtCopyWindow() override;

  void SetWindowInputEnabled(bool enabled) override;
  void SetButtonColour(uint32_t colour) override;
  void SetButtonEnabled(bool enabled) override;
  void ShowMessageBox(std::string_view text, std::string_view title) override;
  void SetProgressText(std::string_view text) override;
  void PostRunNews() override;
  void PostRunNewsAfter(std::chrono::milliseconds delay) override;
  void SetRunUnderWay(bool) override {}

  // What the copy run writes its progress to, from its own thread.
  ProgressDisplay& runProgress() { return controller_; }
  CopyWindowController& controller() { return controller_; }

  QPushButton* executeButton() const { return button_; }
  QLabel* instructionLabel() const { return instruction_; }
  QLabel* progressLabel() const { return progress_; }
  uint32_t buttonColour() const { return buttonColour_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void LayOut();

  CopyWindowController controller_;
  QTimer* newsTimer_ = nullptr;
  QPushButton* button_ = nullptr;
  QLabel* instruction_ = nullptr;
  QLabel* progress_ = nullptr;
  uint32_t buttonColour_ = kColourButtonFace;
  bool inputEnabled_ = true;
};

// Maps the face the window names onto the Japanese gothic faces this system has.
void RegisterWindowFontSubstitutes();

}  // namespace velmora
