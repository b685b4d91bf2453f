#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/worker_thread.h"

namespace velmora {

struct Mutex::Native {
  std::mutex mutex;
};

Mutex::Mutex() : native_(std::make_unique<Native>()) {}
Mutex::~Mutex() = default;
void Mutex::Lock() { native_->mutex.lock(); }
void Mutex::Unlock() { native_->mutex.unlock(); }

struct WorkerThread::Native {
  std::thread thread;
  std::mutex mutex;
  std::condition_variable endedChanged;
  bool ended = true;
};

WorkerThread::WorkerThread() : native_(std::make_unique<Native>()) {}

WorkerThread::~WorkerThread() { Join(); }

bool WorkerThread::Start(std::function<void()> job) {
  Join();
  native_->ended = false;
  try {
    native_->thread = std::thread([native = native_.get(), job = std::move(job)] {
      job();
      const std::lock_guard<std::mutex> lock(native->mutex);
      native->ended = true;
      native->endedChanged.notify_all();
    });
  } catch (const std::system_error&) {
    native_->ended = true;
    return false;
  }
  return true;
}

bool WorkerThread::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(native_->mutex);
  return native_->endedChanged.wait_for(lock, timeout, [this] { return native_->ended; });
}

void WorkerThread::Join() {
  if (native_->thread.joinable()) native_->thread.join();
}

}  // namespace velmora
