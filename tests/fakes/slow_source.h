#pragma once

#include <functional>
#include <string_view>

#include "tests/fakes/forwarding_file_system.h"

namespace velmora::testing {

// A real file system whose source is slow, as a CD drive is: between the chunks of a copy of a
// file that `isSlow` picks, `betweenChunks` runs (it waits for the next chunk), then the run's
// own progress.
class SlowSource final : public ForwardingFileSystem, private CopyProgress {
 public:
  SlowSource(FileSystem& real, std::function<bool(std::string_view source)> isSlow,
             std::function<void()> betweenChunks)
      : ForwardingFileSystem(real),
        isSlow_(std::move(isSlow)),
        betweenChunks_(std::move(betweenChunks)) {}

  FsStatus CopyFileOver(std::string_view source, std::string_view destination,
                        CopyProgress& progress) override {
    run_ = &progress;
    slow_ = isSlow_(source);
    const FsStatus status = real_.CopyFileOver(source, destination, *this);
    slow_ = false;
    return status;
  }

  bool copyingSlowFile() const { return slow_; }
  int slowChunks = 0;

 private:
  bool ChunkCopied() override {
    if (slow_) {
      ++slowChunks;
      betweenChunks_();
    }
    return run_->ChunkCopied();
  }

  std::function<bool(std::string_view)> isSlow_;
  std::function<void()> betweenChunks_;
  CopyProgress* run_ = nullptr;
  bool slow_ = false;
};

}  // namespace velmora::testing
