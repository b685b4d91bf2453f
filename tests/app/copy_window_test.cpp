#include <gtest/gtest.h>

#include <functional>

#include "app/copy_window_controller.h"
#include "app/copy_window_layout.h"
#include "tests/fakes/recording_view.h"

namespace velmora {
namespace {

TEST(CopyWindowLayoutTest, StoredSizesGiveTheDesignedPositions) {
  LayoutInputs in;
  in.screenWidth = 19200;  // 1280 x 800 pixels at 96 dpi
  in.screenHeight = 12000;
  in.windowWidth = 6510;  // 3 pixels of border each side, a 19-pixel title bar
  in.windowHeight = 1890;
  in.clientWidth = kClientWidth;
  in.clientHeight = kClientHeight;
  const CopyWindowLayout layout = ComputeCopyWindowLayout(in);

  EXPECT_FLOAT_EQ(layout.button.top, 942.5f);
  EXPECT_FLOAT_EQ(layout.button.left, 2617.5f);  // from the outer width
  EXPECT_FLOAT_EQ(layout.instruction.top, 321.25f);
  EXPECT_FLOAT_EQ(layout.instruction.left, 390.0f);
  EXPECT_FLOAT_EQ(layout.progress.top, 612.5f);
  EXPECT_FLOAT_EQ(layout.progress.width, 1275.0f);
  EXPECT_FLOAT_EQ(layout.progress.left, layout.button.left);
  // Label2 ends 90 twips above the button.
  EXPECT_FLOAT_EQ(layout.button.top - (layout.progress.top + layout.progress.height), 90.0f);
  EXPECT_FLOAT_EQ(layout.windowLeft, (19200.0f - 6510.0f) / 2.0f);
  EXPECT_FLOAT_EQ(layout.windowTop, (12000.0f - 1890.0f) / 2.0f - 900.0f);
}

TEST(CopyWindowLayoutTest, ALowScreenGivesANegativeTopAsItComes) {
  LayoutInputs in{6000, 1500, 6510, 1890, kClientWidth, kClientHeight};
  EXPECT_FLOAT_EQ(ComputeCopyWindowLayout(in).windowTop, -1095.0f);
}

TEST(CopyWindowLayoutTest, TwipsAndPixels) {
  EXPECT_EQ(TwipsToPixels(6420, 96), 428);
  EXPECT_EQ(TwipsToPixels(942.5f, 96), 63);
  EXPECT_EQ(TwipsToPixels(6420, 144), 642);
  EXPECT_FLOAT_EQ(PixelsToTwips(428, 96), 6420.0f);
}

class ScriptedRunner final : public CopyRunner {
 public:
  void RunCopy() override {
    ++runs;
    messageAtStart.push_back(ResultMessage);
    if (during) during();
    ResultMessage = nextResult;
  }
  std::string nextResult;
  std::function<void()> during;
  std::vector<std::string> messageAtStart;
  int runs = 0;
};

class CopyWindowControllerTest : public ::testing::Test {
 protected:
  testing::RecordingView view;
  ScriptedRunner runner;
  CopyWindowController controller{view, runner};
};

TEST_F(CopyWindowControllerTest, SuccessLeavesTheButtonGreenAndDisabled) {
  bool disabledDuringRun = false;
  uint32_t colourDuringRun = 0;
  runner.during = [&] {
    disabledDuringRun = !view.windowEnabled;
    colourDuringRun = view.buttonColour;
  };
  controller.OnExecute();

  EXPECT_TRUE(disabledDuringRun);
  EXPECT_EQ(colourDuringRun, kColourYellow);
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].text, "\u3000インストールＣＤからファイルのコピーが終了しました。");
  EXPECT_EQ(view.boxes[0].title, " Velmora");
  EXPECT_EQ(view.coloursWhileBoxOpen[0], kColourYellow);
  EXPECT_EQ(view.buttonColour, kColourGreen);
  EXPECT_FALSE(view.buttonEnabled);
  EXPECT_TRUE(view.windowEnabled);
  EXPECT_EQ(view.events.back(), "window enabled");
}

TEST_F(CopyWindowControllerTest, FailureIsReportedAndAFreshRunMayFollow) {
  runner.ResultMessage = "left over";
  runner.nextResult = "\u3000コピー先のパスが不明です。";
  controller.OnExecute();

  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].text, " \u3000コピー先のパスが不明です。\u3000");
  EXPECT_EQ(view.boxes[0].title, " 【 Err 】");
  EXPECT_EQ(view.coloursWhileBoxOpen[0], kColourYellow);
  EXPECT_EQ(view.buttonColour, kColourButtonFace);
  EXPECT_TRUE(view.buttonEnabled);
  EXPECT_TRUE(view.windowEnabled);

  runner.nextResult = "";
  controller.OnExecute();
  EXPECT_EQ(runner.runs, 2);
  EXPECT_EQ(runner.messageAtStart, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(view.boxes[1].title, " Velmora");
}

TEST_F(CopyWindowControllerTest, BlanksAreAFailure) {
  runner.nextResult = "   ";
  controller.OnExecute();
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].title, " 【 Err 】");
  EXPECT_EQ(view.boxes[0].text, "    \u3000");
  EXPECT_TRUE(view.buttonEnabled);
}

TEST_F(CopyWindowControllerTest, StepsComeInTheirOrder) {
  runner.nextResult = "x";
  controller.OnExecute();
  const std::vector<std::string> expected = {
      "window disabled", "colour 65535", "box  【 Err 】", "colour 2147483663", "window enabled"};
  EXPECT_EQ(view.events, expected);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

class ProgressThrottleTest : public ::testing::Test {
 protected:
  using Clock = std::chrono::steady_clock;
  Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
  testing::RecordingView view;
  ScriptedRunner runner;
  CopyWindowController controller{view, runner, [this] { return now; }};
};

TEST_F(ProgressThrottleTest, RepaintsAtMostOncePerIntervalShowingTheCurrentFile) {
  runner.during = [this] {
    for (int file = 1; file <= 100; ++file) {
      controller.SetProgressText(std::to_string(file));
      controller.ProcessPendingMessages();
      now += std::chrono::milliseconds(1);  // a file a millisecond
    }
    controller.SetProgressText("");
    controller.ProcessPendingMessages();
  };
  controller.OnExecute();
  // Files 1, 17, 33, 49, 65, 81 and 97 were painted, each while it was being copied; the cleared
  // label at the end is painted before the report.
  EXPECT_EQ(view.progressHistory,
            (std::vector<std::string>{"1", "17", "33", "49", "65", "81", "97", ""}));
  EXPECT_EQ(view.pumpCount, 8);
  EXPECT_EQ(view.events[view.events.size() - 4], "box  Velmora");
}

TEST_F(ProgressThrottleTest, SlowCopiesRepaintEveryFile) {
  runner.during = [this] {
    for (int file = 1; file <= 3; ++file) {
      controller.SetProgressText(std::to_string(file));
      controller.ProcessPendingMessages();
      now += std::chrono::milliseconds(40);
    }
  };
  controller.OnExecute();
  EXPECT_EQ(view.progressHistory, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(view.pumpCount, 4);
}

}  // namespace
}  // namespace velmora
