#include "app/silent_run.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/exit_codes.h"
#include "app/run_log.h"
#include "platform/worker_thread.h"

namespace velmora {

int RunSilently(CopyRunner& run, const std::function<void(std::string_view)>& writeLine,
                const std::function<bool()>& stopAsked, std::chrono::milliseconds stopGrace) {
  using Clock = std::chrono::steady_clock;
  constexpr std::chrono::milliseconds kPoll{50};
  run.ResultMessage.clear();
  // On a thread of its own, so that a stop is honoured in time even while a read blocks.
  WorkerThread worker;
  if (!worker.Start([&run] { run.RunCopy(); })) {
    run.RunCopy();
  } else {
    std::optional<Clock::time_point> deadline;
    while (!worker.WaitFor(kPoll)) {
      if (!deadline && stopAsked()) {
        run.RequestStop();
        deadline = Clock::now() + stopGrace;
      }
      if (deadline && Clock::now() >= *deadline) {
        // The run is held in a call that does not return: the program ends without it.
        run.GiveUp();
        std::fflush(stdout);
        std::_Exit(kExitStopped);
      }
    }
    worker.Join();
  }
  writeLine(ResultBoxText(run));
  return ExitCodeFor(run.Outcome);
}

}  // namespace velmora
