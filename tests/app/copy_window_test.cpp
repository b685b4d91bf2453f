#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "app/copy_window_controller.h"
#include "app/copy_window_layout.h"
#include "copy/copy_procedure.h"
#include "tests/fakes/fake_copy_run.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/fakes/held_calls.h"
#include "tests/fakes/recording_progress.h"
#include "tests/fakes/recording_view.h"
#include "tests/support/gate.h"

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
  void RequestStop() override { stopRequests.fetch_add(1); }
  std::string FailureFootnote() const override { return footnote; }
  std::string nextResult;
  std::string footnote;
  std::function<void()> during;  // on the run's own thread
  std::vector<std::string> messageAtStart;
  int runs = 0;
  std::atomic<int> stopRequests{0};
};

// The window's thread: takes the news the worker posts and lets the controller handle them, and
// fires its timer, until the run has ended and been reported (or `until` says so).
void PumpNews(testing::RecordingView& view, CopyWindowController& controller,
              const std::function<bool()>& until = {}) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (until ? until() : !controller.runUnderWay()) return;
    if (view.TakePostedNews() > 0) {
      controller.OnRunNews();
      continue;
    }
    testing::SleepFor(std::chrono::milliseconds(1));
    if (view.timerSet) {
      view.timerSet = false;
      controller.OnRunNews();
    }
  }
  ADD_FAILURE() << "the run did not end";
}

class CopyWindowControllerTest : public ::testing::Test {
 protected:
  void Execute() {
    controller.OnExecute();
    PumpNews(view, controller);
  }
  testing::RecordingView view;
  ScriptedRunner runner;
  CopyWindowController controller{view, runner};
};

TEST_F(CopyWindowControllerTest, SuccessLeavesTheButtonGreenAndDisabled) {
  bool disabledDuringRun = false;
  uint32_t colourDuringRun = 0;
  testing::Gate running;
  runner.during = [&] { running.Pass(); };
  controller.OnExecute();
  ASSERT_TRUE(running.WaitUntilReached());
  // The window's thread is free while the run goes on: it reads the window, which is disabled.
  disabledDuringRun = !view.windowEnabled;
  colourDuringRun = view.buttonColour;
  EXPECT_TRUE(view.boxes.empty());
  running.Open();
  PumpNews(view, controller);

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
  Execute();

  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].text, " \u3000コピー先のパスが不明です。\u3000");
  EXPECT_EQ(view.boxes[0].title, " 【 Err 】");
  EXPECT_EQ(view.coloursWhileBoxOpen[0], kColourYellow);
  EXPECT_EQ(view.buttonColour, kColourButtonFace);
  EXPECT_TRUE(view.buttonEnabled);
  EXPECT_TRUE(view.windowEnabled);

  runner.nextResult = "";
  Execute();
  EXPECT_EQ(runner.runs, 2);
  EXPECT_EQ(runner.messageAtStart, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(view.boxes[1].title, " Velmora");
}

TEST_F(CopyWindowControllerTest, BlanksAreAFailure) {
  runner.nextResult = "   ";
  Execute();
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].title, " 【 Err 】");
  EXPECT_EQ(view.boxes[0].text, "    \u3000");
  EXPECT_TRUE(view.buttonEnabled);
}

TEST_F(CopyWindowControllerTest, TheFailureBoxEndsWithWhereTheLogIs) {
  runner.nextResult = "x";
  runner.footnote = "詳しくはログをご覧下さい：/var/log/cdcopy.log";
  Execute();
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].text, " x\u3000\n詳しくはログをご覧下さい：/var/log/cdcopy.log");
}

TEST_F(CopyWindowControllerTest, StepsComeInTheirOrder) {
  runner.nextResult = "x";
  Execute();
  const std::vector<std::string> expected = {
      "window disabled", "colour 65535",      "run started",   "run ended",
      "box  【 Err 】",  "colour 2147483663", "window enabled"};
  EXPECT_EQ(view.events, expected);
}

TEST_F(CopyWindowControllerTest, ASecondActivationDuringARunStartsNothing) {
  testing::Gate running;
  runner.during = [&] { running.Pass(); };
  controller.OnExecute();
  ASSERT_TRUE(running.WaitUntilReached());
  // An accessibility press, or a click another program sends: no run inside the run.
  controller.OnExecute();
  controller.OnExecute();
  running.Open();
  PumpNews(view, controller);
  EXPECT_EQ(runner.runs, 1);
  EXPECT_EQ(view.boxes.size(), 1u);
}

TEST_F(CopyWindowControllerTest, AnActivationWhileTheBoxIsOpenStartsNothing) {
  // The box runs a loop of its own: a press that is not input (an accessibility press, a click
  // another program sends) can come then.
  runner.nextResult = "x";
  view.onBox = [this] { controller.OnExecute(); };
  Execute();
  EXPECT_EQ(runner.runs, 1);
  EXPECT_FALSE(controller.runUnderWay());
  EXPECT_EQ(view.events.back(), "window enabled");
}

TEST_F(CopyWindowControllerTest, AStoppedRunEndsWithoutABox) {
  testing::Gate running;
  runner.during = [&] { running.Pass(); };
  runner.nextResult = "\u3000コピーを中断しました。";
  controller.OnExecute();
  ASSERT_TRUE(running.WaitUntilReached());
  int endedCalls = 0;
  controller.StopRun([&] { ++endedCalls; });
  EXPECT_EQ(runner.stopRequests.load(), 1);
  EXPECT_TRUE(controller.runUnderWay());  // until the worker has ended
  running.Open();
  PumpNews(view, controller);
  EXPECT_EQ(endedCalls, 1);
  EXPECT_TRUE(view.boxes.empty());
  EXPECT_EQ(view.events.back(), "run ended");
}

TEST_F(CopyWindowControllerTest, StopRunAndWaitWaitsOnlyAsLongAsItMay) {
  testing::Gate running;
  runner.during = [&] { running.Pass(); };
  controller.OnExecute();
  ASSERT_TRUE(running.WaitUntilReached());
  // A worker held in a call that does not return: the wait gives up in time.
  EXPECT_FALSE(controller.StopRunAndWait(std::chrono::milliseconds(50)));
  running.Open();
  EXPECT_TRUE(controller.StopRunAndWait(std::chrono::seconds(10)));
  // Without a run there is nothing to stop.
  PumpNews(view, controller);
  const int requests = runner.stopRequests.load();
  EXPECT_TRUE(controller.StopRunAndWait(std::chrono::milliseconds(0)));
  EXPECT_EQ(runner.stopRequests.load(), requests);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// The label on the window's thread, on a clock the test moves: the test's own thread plays the
// worker (SetProgressText is the worker's call) while the run it started waits at a gate.
class ProgressThrottleTest : public ::testing::Test {
 protected:
  using Clock = std::chrono::steady_clock;
  using ms = std::chrono::milliseconds;

  void SetUp() override {
    runner.during = [this] { holdRun.Pass(); };
    controller.OnExecute();
    ASSERT_TRUE(holdRun.WaitUntilReached());
    view.onPaint = [this](const std::string& label) { painted.push_back({now, label}); };
  }
  // The window's thread handles what is waiting for it at this moment.
  void HandleNews() {
    if (view.TakePostedNews() > 0) controller.OnRunNews();
  }
  // Time passes; the window's timer fires when its moment comes.
  void Pass(ms time) {
    for (ms step{0}; step < time; ++step) {
      if (view.timerSet) {
        view.timerSet = false;
        timerLeft = view.timerDelay;
      }
      now += ms(1);
      if (timerLeft > ms(0) && --timerLeft == ms(0)) controller.OnRunNews();
      HandleNews();
    }
  }

  struct Painted {
    Clock::time_point at;
    std::string label;
  };
  Clock::time_point now = Clock::time_point{} + std::chrono::hours(1);
  ms timerLeft{-1};
  std::vector<Painted> painted;
  testing::Gate holdRun;
  testing::RecordingView view;
  ScriptedRunner runner;
  CopyWindowController controller{view, runner, [this] { return now; }};
};

TEST_F(ProgressThrottleTest, RepaintsAtMostOncePerIntervalAndWithinItOfEachChange) {
  // A file a millisecond for 100 ms, the window's thread keeping up with every post.
  std::vector<Clock::time_point> changed;
  for (int file = 1; file <= 100; ++file) {
    controller.SetProgressText(std::to_string(file));
    changed.push_back(now);
    HandleNews();
    Pass(ms(1));
  }
  Pass(ms(40));
  ASSERT_GE(painted.size(), 6u);
  EXPECT_EQ(painted.front().label, "1");
  EXPECT_EQ(painted.back().label, "100");
  for (size_t i = 1; i < painted.size(); ++i) {
    EXPECT_GE(painted[i].at - painted[i - 1].at, CopyWindowController::kRepaintInterval);
  }
  // Every label that stood for a whole interval was painted within one interval of its change;
  // the label shown is always the current file.
  for (const Painted& p : painted) {
    const int file = std::stoi(p.label);
    EXPECT_LE(p.at - changed[static_cast<size_t>(file) - 1],
              CopyWindowController::kRepaintInterval);
    if (file < 100) {
      EXPECT_GE(changed[static_cast<size_t>(file)], p.at);
    }
  }
  EXPECT_LE(painted.size(), 100u / 16 + 2);
  EXPECT_LE(painted.back().at - changed.back(), CopyWindowController::kRepaintInterval);
  holdRun.Open();
  PumpNews(view, controller);
}

TEST_F(ProgressThrottleTest, SlowCopiesRepaintEveryFileAtOnce) {
  for (int file = 1; file <= 3; ++file) {
    controller.SetProgressText(std::to_string(file));
    const Clock::time_point changedAt = now;
    HandleNews();
    ASSERT_FALSE(painted.empty());
    EXPECT_EQ(painted.back().label, std::to_string(file));
    EXPECT_EQ(painted.back().at, changedAt);
    Pass(ms(40));
  }
  EXPECT_EQ(painted.size(), 3u);
  holdRun.Open();
  PumpNews(view, controller);
}

TEST_F(ProgressThrottleTest, TheWorkerPostsOnceUntilTheWindowHasHandledIt) {
  // Twenty thousand small files while the window's thread is busy: one post waits, no more.
  for (int file = 1; file <= 20000; ++file) controller.SetProgressText(std::to_string(file));
  EXPECT_EQ(view.TakePostedNews(), 1);
  Pass(ms(20));
  controller.OnRunNews();
  EXPECT_EQ(painted.back().label, "20000");
  holdRun.Open();
  PumpNews(view, controller);
}

TEST_F(ProgressThrottleTest, TheRunsLastLabelIsPaintedBeforeItsReport) {
  controller.SetProgressText("7");
  HandleNews();
  controller.SetProgressText("");  // the run's end clears the label, 0 ms after the last paint
  holdRun.Open();
  PumpNews(view, controller, [this] { return !view.boxes.empty(); });
  ASSERT_GE(view.progressHistory.size(), 2u);
  EXPECT_EQ(view.progressHistory.back(), "");
  EXPECT_EQ(view.boxes.size(), 1u);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// A whole run on fakes through the controller: the run on its worker, the test's thread as the
// window's thread.
class RunThroughTheWindowTest : public ::testing::Test, protected testing::FakeCopyRun {
 protected:
  void SetUp() override { testing::LayOutSmallCd(*this); }
};

TEST_F(RunThroughTheWindowTest, WhileOneCallBlocksTheWindowIsFreeAndShowsTheFileUnderWay) {
  for (const testing::HeldCall& row : testing::HeldCalls()) {
    testing::HeldRun held(*this, row);
    testing::RecordingView view;
    CopyWindowController window(view, held.procedure);
    held.procedure.SetProgressDisplay(window);

    window.OnExecute();
    ASSERT_TRUE(held.gate.WaitUntilReached()) << row.name;
    // The window's thread is not held: it takes the news, and the label shows the file.
    PumpNews(view, window, [&] { return view.progressText == row.label; });
    EXPECT_EQ(view.progressText, row.label) << row.name;
    window.OnExecute();  // a second Execute does nothing
    EXPECT_TRUE(view.boxes.empty()) << row.name;
    EXPECT_TRUE(window.runUnderWay()) << row.name;
    held.gate.Open();
    PumpNews(view, window);
    ASSERT_EQ(view.boxes.size(), 1u) << row.name;
    EXPECT_EQ(view.boxes[0].title, " Velmora") << row.name;
    EXPECT_EQ(held.fs.copyCount, 4) << row.name;
    EXPECT_EQ(view.progressHistory.back(), "") << row.name;
  }
}

}  // namespace
}  // namespace velmora
