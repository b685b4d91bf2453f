#pragma once

#include <chrono>
#include <functional>
#include <memory>

// Threads and a lock for the copy run's worker. On Windows they are the Win32 primitives: MinGW's
// win32 thread model, which the program is built with, has neither std::thread nor std::mutex.
namespace velmora {

// A lock for a little state that two threads share; held only for moments.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

class MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// One thread running one job at a time.
class WorkerThread {
 public:
  WorkerThread();
  // Waits for a job under way to end.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs `job` on a new thread, after waiting for the end of the one before. False when no
  // thread could be made; the job is then not run.
  bool Start(std::function<void()> job);

  // Waits at most `timeout` for the job's end; true once it has ended, or when none was started.
  bool WaitFor(std::chrono::milliseconds timeout);

  // Waits for the job's end, however long it takes.
  void Join();

 private:
  struct Native;
  std::unique_ptr<Native> native_;
};

}  // namespace velmora
