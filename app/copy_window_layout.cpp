#include "app/copy_window_layout.h"

#include <cmath>

namespace velmora {

CopyWindowLayout ComputeCopyWindowLayout(const LayoutInputs& in) {
  CopyWindowLayout out;
  out.button.width = kButtonWidth;
  out.button.height = kButtonHeight;
  out.instruction.width = kInstructionWidth;
  out.instruction.height = kInstructionHeight;
  out.progress.height = kProgressHeight;

  out.windowLeft = (in.screenWidth - in.windowWidth) / 2.0f;
  out.windowTop = (in.screenHeight - in.windowHeight) / 2.0f - 900.0f;
  out.button.top = (in.clientHeight - out.button.height) / 2.0f + 350.0f;
  // The outer width, not the client width: the button sits right of the client centre by half
  // the border.
  out.button.left = (in.windowWidth - out.button.width) / 2.0f;
  out.instruction.top = out.button.top / 2.0f - 150.0f;
  out.instruction.left = (in.clientWidth - out.instruction.width) / 2.0f;
  out.progress.width = out.button.width;
  out.progress.top = out.button.top - out.button.height;
  out.progress.left = out.button.left;
  return out;
}

int TwipsToPixels(float twips, int dotsPerInch) {
  return static_cast<int>(std::lround(twips * static_cast<float>(dotsPerInch) / 1440.0f));
}

float PixelsToTwips(int pixels, int dotsPerInch) {
  return static_cast<float>(pixels) * 1440.0f / static_cast<float>(dotsPerInch);
}

}  // namespace velmora
