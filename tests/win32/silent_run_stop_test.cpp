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

// What the watch asked of the system about the session's end, and how it ended the program.
struct SessionEndRecord {
  Mutex mutex;
  std::vector<std::string> calls;  // "create <reason>", "destroy"
  std::vector<HWND> windows;
  std::vector<DWORD> threads;
  std::vector<int> exits;

  // Vista and later, whose reason is taken or (`reasonTaken` false) refused; or XP, without.
  SessionEndCalls Calls(bool vistaOrLater, bool reasonTaken = true) {
    SessionEndCalls made;
    if (vistaOrLater) {
      made.createBlockReason = [this, reasonTaken](HWND window, const wchar_t* reason) {
        Note("create " + WideToUtf8(reason), window);
        return reasonTaken;
      };
      made.destroyBlockReason = [this](HWND window) { Note("destroy", window); };
    }
    made.endProgram = [this](int exitCode) {
      MutexLock lock(mutex);
      exits.push_back(exitCode);
    };
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
  explicit HeldSilentRun(SessionEndCalls calls) {
    testing::LayOutSmallCd(run);
    run.fs.beforeCopy = [this](int number) {
      if (number == 3) gate.Pass();
    };
    stop.emplace(run.procedure, std::move(calls));
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
      held.gate.Open();
    });
  }
  WorkerThread worker;
  LRESULT answer = -1;
};

void ExpectStoppedWithItsRecord(const HeldSilentRun& held, int code, const std::string& name) {
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
    SessionEndRecord record;
    HeldSilentRun held(record.Calls(true));
    ASSERT_NE(held.stop->window(), nullptr);
    EXPECT_FALSE(held.stop->Asked()) << row.name;
    Asker asker(held, [&] { return row.ask(*held.stop); });
    const int code = held.Run();
    ExpectStoppedWithItsRecord(held, code, row.name);
    asker.worker.Join();
    EXPECT_EQ(asker.answer, row.firstAnswer) << row.name;
    // One more Ctrl+C: the system's own handling ends the program.
    EXPECT_EQ(SilentRunStop::OnConsoleControl(CTRL_C_EVENT), FALSE) << row.name;
    held.stop->Release(code);
    held.stop.reset();
    EXPECT_TRUE(record.exits.empty()) << row.name << ": nothing was held, so nothing ends it";
  }
}

TEST(SilentRunStopTest, TheConsolesClosingAndTheSessionsEndAreHeldUntilTheRunHasEndedThenEndIt) {
  struct Row {
    const char* name;
    std::function<LRESULT(SilentRunStop&)> ask;
    bool reasonTaken;
    DWORD_PTR queryAnswer;
  };
  const auto consoleCloses = [](SilentRunStop&) {
    return SilentRunStop::OnConsoleControl(CTRL_CLOSE_EVENT);
  };
  const auto sessionEnds = [](SilentRunStop& stop) {
    return SendMessageW(stop.window(), WM_ENDSESSION, TRUE, 0);
  };
  const Row rows[] = {
      {"the console closes", consoleCloses, true, FALSE},
      {"the session ends", sessionEnds, true, FALSE},
      // Refusing without a reason would have the program ended outright: the session's end is
      // let come, and stops the run.
      {"the session ends, the reason refused", sessionEnds, false, TRUE},
  };
  for (const Row& row : rows) {
    SessionEndRecord record;
    HeldSilentRun held(record.Calls(true, row.reasonTaken));
    ASSERT_NE(held.stop->window(), nullptr);
    HWND window = held.stop->window();
    DWORD_PTR query = 2;
    ASSERT_NE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &query),
              0);
    EXPECT_EQ(query, row.queryAnswer) << row.name;

    WorkerThread asker;
    std::atomic<bool> returned{false};
    asker.Start([&] {
      if (!held.gate.WaitUntilReached()) return;
      // Let the run go a moment after the request, which does not return before the release.
      WorkerThread opener;
      opener.Start([&held] {
        SleepFor(std::chrono::milliseconds(300));
        held.gate.Open();
      });
      row.ask(*held.stop);
      returned.store(true);
    });
    const int code = held.Run();
    ExpectStoppedWithItsRecord(held, code, row.name);
    SleepFor(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned.load()) << row.name << ": the program could have been ended mid-run";
    EXPECT_TRUE(record.exits.empty()) << row.name;
    held.stop->Release(code);
    EXPECT_TRUE(asker.WaitFor(std::chrono::seconds(5))) << row.name << ": still held";
    asker.Join();
    EXPECT_TRUE(returned.load()) << row.name;
    {
      MutexLock lock(record.mutex);
      EXPECT_EQ(record.exits, std::vector<int>{kExitStopped}) << row.name;
    }
    held.stop.reset();
    EXPECT_FALSE(IsWindow(window)) << row.name;
    ASSERT_GE(record.calls.size(), 1u) << row.name;
    EXPECT_EQ(record.calls[0], "create インストールＣＤからのコピーが進行中です。") << row.name;
    EXPECT_EQ(record.windows[0], window) << row.name;
    if (row.reasonTaken) {
      ASSERT_EQ(record.calls.size(), 2u) << row.name;
      EXPECT_EQ(record.calls[1], "destroy") << row.name;
      // Called on the thread that made the window, as the system requires.
      EXPECT_EQ(record.threads[0], record.threads[1]) << row.name;
      EXPECT_NE(record.threads[0], GetCurrentThreadId()) << row.name;
    }
  }
}

TEST(SilentRunStopTest, OnXpTheAnswerAloneHoldsTheSessionAndACancelledEndChangesNothing) {
  SessionEndRecord record;
  HeldSilentRun held(record.Calls(/*vistaOrLater=*/false));
  HWND window = held.stop->window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), FALSE);
  // Another program refused the session's end: the run goes on.
  SendMessageW(window, WM_ENDSESSION, FALSE, 0);
  EXPECT_FALSE(held.stop->Asked());
  held.run.fs.beforeCopy = nullptr;
  EXPECT_EQ(held.Run(), kExitCopied);
  held.stop.reset();
  EXPECT_TRUE(record.calls.empty());
  EXPECT_TRUE(record.exits.empty());
}

// The console's events as the system hands them out, to the handlers last registered first: the
// watch's must be among them, and a second Ctrl+Break must go on past it to the system's own.
// The test's own handler, registered before the watch's, stands in for the system's, which would
// end the program.
std::atomic<int> g_reachedPastTheWatch{0};
BOOL WINAPI StandInForTheSystemsHandler(DWORD) {
  g_reachedPastTheWatch.fetch_add(1);
  return TRUE;
}

TEST(SilentRunStopTest, TheSystemsOwnDispatchOfCtrlBreakReachesTheWatch) {
  using Dispatch = DWORD(WINAPI*)(void*);
  HMODULE kernelBase = GetModuleHandleW(L"kernelbase.dll");
  const auto dispatch =
      kernelBase == nullptr
          ? nullptr
          : reinterpret_cast<Dispatch>(
                reinterpret_cast<void (*)()>(GetProcAddress(kernelBase, "CtrlRoutine")));
  if (dispatch == nullptr) GTEST_SKIP() << "the system does not export its console dispatch";
  void* const ctrlBreak = reinterpret_cast<void*>(static_cast<ULONG_PTR>(CTRL_BREAK_EVENT));
  ASSERT_TRUE(SetConsoleCtrlHandler(&StandInForTheSystemsHandler, TRUE));
  g_reachedPastTheWatch.store(0);
  {
    SessionEndRecord record;
    FakeCopyRun run;
    SilentRunStop stop(run.procedure, record.Calls(true));
    dispatch(ctrlBreak);
    EXPECT_TRUE(stop.Asked());
    EXPECT_EQ(g_reachedPastTheWatch.load(), 0);
    dispatch(ctrlBreak);
    EXPECT_EQ(g_reachedPastTheWatch.load(), 1);
  }
  // Once the watch has gone, the events are the system's again.
  dispatch(ctrlBreak);
  EXPECT_EQ(g_reachedPastTheWatch.load(), 2);
  SetConsoleCtrlHandler(&StandInForTheSystemsHandler, FALSE);
}

}  // namespace
}  // namespace velmora
