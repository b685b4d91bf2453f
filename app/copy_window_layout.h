#pragma once

namespace velmora {

// Sizes in twips (1/1440 inch), single precision, as the window's layout is computed.
struct LayoutInputs {
  float screenWidth = 0;
  float screenHeight = 0;
  float windowWidth = 0;  // outer size, border and title bar included
  float windowHeight = 0;
  float clientWidth = 0;
  float clientHeight = 0;
};

// The designed sizes of the window and its controls.
inline constexpr float kClientWidth = 6420;
inline constexpr float kClientHeight = 1515;
inline constexpr float kButtonWidth = 1275;
inline constexpr float kButtonHeight = 330;
inline constexpr float kInstructionWidth = 5640;
inline constexpr float kInstructionHeight = 330;
inline constexpr float kProgressHeight = 240;

struct TwipsRect {
  float left = 0;
  float top = 0;
  float width = 0;
  float height = 0;
};

struct CopyWindowLayout {
  float windowLeft = 0;
  float windowTop = 0;  // may be negative on a low screen; applied as it comes
  TwipsRect button;       // Command1
  TwipsRect instruction;  // Label1
  TwipsRect progress;     // Label2
};

// The window's layout at load, step by step; later steps read what earlier ones set.
CopyWindowLayout ComputeCopyWindowLayout(const LayoutInputs& in);

// Twips and pixels at `dotsPerInch` (15 twips a pixel at 96), to the nearest whole pixel.
int TwipsToPixels(float twips, int dotsPerInch);
float PixelsToTwips(int pixels, int dotsPerInch);

}  // namespace velmora
