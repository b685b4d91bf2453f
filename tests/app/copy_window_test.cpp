#include <gtest/gtest.h>

#include <functional>

#include "app/copy_window_controller.h"
#include "app/copy_window_layout.h"
#include "copy/copy_procedure.h"
#include "tests/fakes/fake_copy_run.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
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
  const std::vector<std::string> expected = {"window disabled", "colour 65535", "box  【 Err 】",
                                             "colour 2147483663", "window enabled"};
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

namespace velmora {
namespace {

// A whole run through the window's progress display, on a clock that the copies move on.
class RunThroughTheWindowTest : public ::testing::Test, protected testing::FakeCopyRun {
 protected:
  using Clock = std::chrono::steady_clock;
  using ms = std::chrono::milliseconds;

  void SetUp() override {
    registry.SetString("Software\\Velmora\\Info", "SetupDir", "E:\\");
    registry.SetString("Software\\Velmora\\Info", "SystemDir", "C:\\Velmora\\System");
    fs.AddFolder("C:");
    fs.AddFile("E:\\setup.exe");
    fs.AddFolder("E:\\PCMaster");
    procedure.SetProgressDisplay(controller);
    // What the window showed each time it processed its messages.
    view.onProcessMessages = [this] { painted.push_back({now, view.progressText}); };
  }

  // The time `label` was first painted.
  Clock::time_point FirstPainted(const std::string& label) const {
    for (const auto& p : painted) {
      if (p.label == label) return p.at;
    }
    return Clock::time_point::max();
  }

  struct Painted {
    Clock::time_point at;
    std::string label;
  };
  Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
  std::vector<Painted> painted;
  CopyWindowController controller{view, procedure, [this] { return now; }};
};

TEST_F(RunThroughTheWindowTest, AQuickFileThenALongOne) {
  // Files 1 and 2 take 1 ms; file 3 is a video of 400 chunks of 5 ms; file 4 takes 1 ms.
  for (const char* name : {"a.dat", "b.dat", "video.avi", "z.dat"})
    fs.AddFile(std::string("E:\\System\\") + name);
  fs.CopyInChunks("E:\\System\\video.avi", 400);
  Clock::time_point videoStart{};
  Clock::time_point videoEnd{};
  fs.duringChunk = [&](const std::string& source) {
    const bool video = source == "E:\\System\\video.avi";
    if (video && videoStart == Clock::time_point{}) videoStart = now;
    now += video ? ms(5) : ms(1);
    if (video) videoEnd = now;
  };
  controller.OnExecute();
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].title, " Velmora");

  // File 2 started 1 ms after file 1 was painted, so it is never painted; the video's number
  // is painted within one repaint interval of its start, whatever came before.
  ASSERT_GE(painted.size(), 3u);
  EXPECT_EQ(painted[0].label, "1");
  EXPECT_EQ(FirstPainted("2"), Clock::time_point::max());
  EXPECT_LE(FirstPainted("3") - videoStart, CopyWindowController::kRepaintInterval);
  // Throughout the video's copy the window processes its messages at most a repaint interval
  // and a chunk apart, never more often than once an interval, and shows the video's number.
  Clock::time_point last = painted[0].at;
  int duringVideo = 0;
  for (const Painted& p : painted) {
    if (p.at <= videoStart || p.at > videoEnd) continue;
    ++duringVideo;
    EXPECT_EQ(p.label, "3");
    EXPECT_LE(p.at - last, CopyWindowController::kRepaintInterval + ms(5));
    EXPECT_GE(p.at - last, CopyWindowController::kRepaintInterval);
    last = p.at;
  }
  EXPECT_GE(duringVideo, 2000 / 21);
  EXPECT_EQ(painted.back().label, "");
}

}  // namespace
}  // namespace velmora
