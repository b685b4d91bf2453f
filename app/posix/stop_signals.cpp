#include "app/posix/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

namespace velmora {
namespace {

// The signals that stop a run, each unless it was ignored at start (as nohup leaves SIGHUP).
constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
struct sigaction g_before[std::size(kStopSignals)];
bool g_installed[std::size(kStopSignals)] = {};

std::atomic<int> g_firstSignal{0};
std::atomic<CopyRunner*> g_run{nullptr};
int g_pipe[2] = {-1, -1};

// Async-signal-safe: atomics, a flag set in the run, a write and _exit; errno as it was.
extern "C" void OnStopSignal(int signal) {
  int none = 0;
  if (!g_firstSignal.compare_exchange_strong(none, signal)) {
    // A lost terminal hangs up twice (the terminal, then the shell passing it on to its jobs):
    // only a second SIGTERM or SIGINT is someone insisting.
    if (signal == SIGHUP) return;
    _exit(128 + signal);
  }
  if (CopyRunner* run = g_run.load(); run != nullptr) run->RequestStop();
  const int savedErrno = errno;
  const char byte = 1;
  if (g_pipe[1] >= 0) [[maybe_unused]]
    const ssize_t written = ::write(g_pipe[1], &byte, 1);
  errno = savedErrno;
}

}  // namespace

StopSignals::StopSignals(CopyRunner& run) {
  static_assert(std::atomic<int>::is_always_lock_free);
  static_assert(std::atomic<CopyRunner*>::is_always_lock_free);
  g_run.store(&run);
  g_firstSignal.store(0);
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    const int signal = kStopSignals[i];
    g_installed[i] = ::sigaction(signal, nullptr, &g_before[i]) == 0 &&
                     g_before[i].sa_handler != SIG_IGN &&
                     ::sigaction(signal, &action, nullptr) == 0;
  }
}

StopSignals::~StopSignals() {
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    if (g_installed[i]) ::sigaction(kStopSignals[i], &g_before[i], nullptr);
    g_installed[i] = false;
  }
  g_run.store(nullptr);
  for (int& fd : g_pipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

int StopSignals::Received() { return g_firstSignal.load(); }

int StopSignals::notifier() const { return g_pipe[0]; }

}  // namespace velmora
