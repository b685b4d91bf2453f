#include "app/win32/silent_run_stop.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/silent_run.h"
#include "copy/messages.h"
#include "platform/win32/win32_text.h"
#include "platform/worker_thread.h"
#include "tests/fakes/held_calls.h"
#include "tests/support/gate.h"

// How an unattended run on Windows hears that it is to stop: the console's control events, the
// session's end and a close request, each made while the run is held in its third copy.
namespace velmora {
namespace {

using testing::FakeCopyRun;
using testing::Gate;
using testing::SleepFor;

// What the watch asked of the system about the session's end.
struct BlockReasons {
  Mutex mutex;
  std::vector<std::string> calls;  // "create <reason>", "destroy"
  std::vector<HWND> windows;
  std::vector<DWORD> threads;

  SessionEndCalls Calls(bool vistaOrLater) {
    SessionEndCalls made;
    if (vistaOrLater) {
      made.createBlockReason = [this](HWND window, const wchar_t* reason) {
        Note("create " + WideToUtf8(reason), window);
        return true;
      };
      made.destroyBlockReason = [this](HWND window) { Note("destroy", window); };
    }
    made.endProgram = [](int) { ADD_FAILURE() << "the watch never ends the program itself"; };
    return made;
  }
  void Note(std::string call, HWND window) {
    MutexLock lock(mutex);
    calls.push_back(std::move(call));
    windows.push_back(window);
    threads.push_back(GetCurrentThreadId());
  }
};

// A run on the small CD whose third copy waits at `gate`, with its watch.
struct HeldSilentRun {
  explicit HeldSilentRun(BlockReasons& reasons, bool vistaOrLater = true) {
    testing::LayOutSmallCd(run);
    run.fs.beforeCopy = [this](int number) {
      if (number == 3) gate.Pass();
    };
    stop.emplace(run.procedure, reasons.Calls(vistaOrLater));
  }
  // Runs as the program's main thread does; the line goes to `line`.
  int Run() {
    return RunSilently(
        run.procedure, [this](std::string_view text) { line = text; },
        [this] { return stop->Asked(); });
  }

  FakeCopyRun run;
  Gate gate;
  std::optional<SilentRunStop> stop;
  std::string line;
};

// Once the run is held, `ask` runs on a thread of its own and the run is let go.
struct Asker {
  Asker(HeldSilentRun& held, std::function<LRESULT()> ask) {
    worker.Start([&held, ask = std::move(ask), this] {
      if (!held.gate.WaitUntilReached()) return;
      answer = ask();
      answered.store(true);
      held.gate.Open();
    });
  }
  WorkerThread worker;
  std::atomic<bool> answered{false};
  LRESULT answer = -1;
};

void ExpectStoppedWithItsRecord(const HeldSilentRun& held, int code, const char* name) {
  EXPECT_EQ(code, kExitStopped) << name;
  EXPECT_NE(held.line.find(messages::kStopped), std::string::npos) << name << ": " << held.line;
  EXPECT_FALSE(held.run.fs.Exists("C:\\Velmora\\System\\z.dat")) << name;  // never reached
  EXPECT_TRUE(held.run.fs.Exists("C:\\Velmora\\" + std::string(kCopyMarkerName))) << name;
}

TEST(SilentRunStopTest, CtrlCCtrlBreakAndACloseRequestStopTheRunAndASecondCtrlCIsTheSystems) {
  struct Row {
    const char* name;
    std::function<LRESULT(SilentRunStop&)> ask;
    LRESULT firstAnswer;
  };
  const Row rows[] = {
      {"Ctrl+C", [](SilentRunStop&) { return SilentRunStop::OnConsoleControl(CTRL_C_EVENT); }, TRUE},
      {"Ctrl+Break",
       [](SilentRunStop&) { return SilentRunStop::OnConsoleControl(CTRL_BREAK_EVENT); }, TRUE},
      {"taskkill's close request",
       [](SilentRunStop& stop) { return SendMessageW(stop.window(), WM_CLOSE, 0, 0); }, 0},
  };
  for (const Row& row : rows) {
    BlockReasons reasons;
    HeldSilentRun held(reasons);
    ASSERT_NE(held.stop->window(), nullptr);
    EXPECT_FALSE(held.stop->Asked()) << row.name;
    Asker asker(held, [&] { return row.ask(*held.stop); });
    ExpectStoppedWithItsRecord(held, held.Run(), row.name);
    asker.worker.Join();
    EXPECT_EQ(asker.answer, row.firstAnswer) << row.name;
    // One more Ctrl+C: the system's own handling ends the program.
    EXPECT_EQ(SilentRunStop::OnConsoleControl(CTRL_C_EVENT), FALSE) << row.name;
  }
}

TEST(SilentRunStopTest, TheConsolesClosingAndTheSessionsEndAreHeldUntilTheRunHasEnded) {
  struct Row {
    const char* name;
    std::function<LRESULT(SilentRunStop&)> ask;
  };
  const Row rows[] = {
      {"the console closes",
       [](SilentRunStop&) { return SilentRunStop::OnConsoleControl(CTRL_CLOSE_EVENT); }},
      {"the session ends",
       [](SilentRunStop& stop) { return SendMessageW(stop.window(), WM_ENDSESSION, TRUE, 0); }},
  };
  for (const Row& row : rows) {
    BlockReasons reasons;
    HeldSilentRun held(reasons);
    ASSERT_NE(held.stop->window(), nullptr);
    HWND window = held.stop->window();
    // During the run the session is held, with the reason.
    DWORD_PTR query = TRUE;
    ASSERT_NE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &query),
              0);
    EXPECT_EQ(query, static_cast<DWORD_PTR>(FALSE)) << row.name;

    WorkerThread asker;
    std::atomic<bool> returned{false};
    asker.Start([&] {
      if (!held.gate.WaitUntilReached()) return;
      // Let the run go a moment after the request, which does not return before the watch ends.
      WorkerThread opener;
      opener.Start([&held] {
        SleepFor(std::chrono::milliseconds(300));
        held.gate.Open();
      });
      row.ask(*held.stop);
      returned.store(true);
    });
    ExpectStoppedWithItsRecord(held, held.Run(), row.name);
    SleepFor(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned.load()) << row.name << ": the program could have been ended mid-run";
    held.stop.reset();
    EXPECT_TRUE(asker.WaitFor(std::chrono::seconds(5))) << row.name << ": still held";
    asker.Join();
    EXPECT_TRUE(returned.load()) << row.name;
    EXPECT_FALSE(IsWindow(window)) << row.name;
    ASSERT_EQ(reasons.calls.size(), 2u) << row.name;
    EXPECT_EQ(reasons.calls[0], "create インストールＣＤからのコピーが進行中です。") << row.name;
    EXPECT_EQ(reasons.calls[1], "destroy") << row.name;
    EXPECT_EQ(reasons.windows[0], window) << row.name;
    // Called on the thread that made the window, as the system requires.
    EXPECT_EQ(reasons.threads[0], reasons.threads[1]) << row.name;
    EXPECT_NE(reasons.threads[0], GetCurrentThreadId()) << row.name;
  }
}

TEST(SilentRunStopTest, OnXpTheAnswerAloneHoldsTheSessionAndACancelledEndChangesNothing) {
  BlockReasons reasons;
  HeldSilentRun held(reasons, /*vistaOrLater=*/false);
  HWND window = held.stop->window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), FALSE);
  // Another program refused the session's end: the run goes on.
  SendMessageW(window, WM_ENDSESSION, FALSE, 0);
  EXPECT_FALSE(held.stop->Asked());
  held.run.fs.beforeCopy = nullptr;
  EXPECT_EQ(held.Run(), kExitCopied);
  held.stop.reset();
  EXPECT_TRUE(reasons.calls.empty());
}

}  // namespace
}  // namespace velmora
