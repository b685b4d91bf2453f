#include <process.h>
#include <windows.h>

#include "platform/worker_thread.h"

namespace velmora {

struct Mutex::Native {
  CRITICAL_SECTION section;
};

Mutex::Mutex() : native_(std::make_unique<Native>()) {
  InitializeCriticalSection(&native_->section);
}
Mutex::~Mutex() { DeleteCriticalSection(&native_->section); }
void Mutex::Lock() { EnterCriticalSection(&native_->section); }
void Mutex::Unlock() { LeaveCriticalSection(&native_->section); }

struct WorkerThread::Native {
  HANDLE thread = nullptr;
  std::function<void()> job;

  // _beginthreadex rather than CreateThread: the job uses the C runtime.
  static unsigned __stdcall Run(void* self) {
    static_cast<Native*>(self)->job();
    return 0;
  }
};

WorkerThread::WorkerThread() : native_(std::make_unique<Native>()) {}

WorkerThread::~WorkerThread() { Join(); }

bool WorkerThread::Start(std::function<void()> job) {
  Join();
  native_->job = std::move(job);
  const uintptr_t thread = _beginthreadex(nullptr, 0, &Native::Run, native_.get(), 0, nullptr);
  if (thread == 0) return false;
  native_->thread = reinterpret_cast<HANDLE>(thread);
  return true;
}

bool WorkerThread::WaitFor(std::chrono::milliseconds timeout) {
  if (native_->thread == nullptr) return true;
  return WaitForSingleObject(native_->thread, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

void WorkerThread::Join() {
  if (native_->thread == nullptr) return;
  WaitForSingleObject(native_->thread, INFINITE);
  CloseHandle(native_->thread);
  native_->thread = nullptr;
}

}  // namespace velmora
