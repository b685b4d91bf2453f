// Times the copy run against `cp -r` on generated install CDs, on the disk of the work folder:
// headless (the real file-system back-end, a progress display that draws nothing), through the
// real Qt window (offscreen; Execute pressed, the run on its worker, until its box), and two
// references: cp alone, and cp followed by sync, since a run puts its copies on the disk before
// it ends. Each measurement runs in a child process of its own, so its peak resident memory is
// its own. Window runs also report the longest time the window's thread went without processing
// its events while the run was under way; "window+stall" is a window run in which one read of
// the CD blocks for 2 s, as a drive retrying a bad sector does.
//
//   copy_bench [--work DIR] [--repeat N] [--small-files N] [--large-files N] [--large-mib N]
//              [--huge-files N] [--huge-mib N]   (--huge-files 0 leaves the huge tree out)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "app/copy_application.h"
#include "app/qt/qt_copy_window.h"
#include "tests/fakes/forwarding_file_system.h"

namespace {

namespace fs = std::filesystem;
using Seconds = std::chrono::duration<double>;

struct Tree {
  std::string name;
  fs::path cd;
  std::string group;  // the CD folder that holds the files, for cp
  uint64_t files = 0;
  uint64_t bytes = 0;
};

void WriteFile(const fs::path& path, size_t size, std::mt19937_64& random) {
  std::vector<uint64_t> words((size + 7) / 8);
  for (uint64_t& w : words) w = random();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(size));
}

// An install CD whose files all lie in one group folder.
Tree MakeCd(const fs::path& root, const std::string& name, const std::string& group, uint64_t files,
            size_t minSize, size_t maxSize) {
  Tree tree{name, root / name, group, files, 0};
  if (fs::exists(tree.cd / "done")) {  // made by an earlier run with the same shape
    for (const auto& entry : fs::directory_iterator(tree.cd / group))
      tree.bytes += entry.file_size();
    return tree;
  }
  fs::remove_all(tree.cd);
  fs::create_directories(tree.cd / group);
  fs::create_directories(tree.cd / "PCMaster");
  std::ofstream(tree.cd / "setup.exe") << "setup";
  std::mt19937_64 random(files * 7919 + minSize);
  std::uniform_int_distribution<size_t> sizes(minSize, maxSize);
  for (uint64_t i = 0; i < files; ++i) {
    const size_t size = sizes(random);
    WriteFile(tree.cd / group / ("file" + std::to_string(i) + ".dat"), size, random);
    tree.bytes += size;
  }
  std::ofstream(tree.cd / "done") << "1";
  return tree;
}

// The real file system, with the first read of the run's third file blocked for 2 s: the worker
// sleeps between that file's first two chunks.
class StallingFileSystem final : public velmora::testing::ForwardingFileSystem,
                                 private velmora::CopyProgress {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  velmora::FsStatus CopyFileOver(std::string_view source, std::string_view destination,
                                 velmora::CopyProgress& progress) override {
    run_ = &progress;
    stallNow_ = ++copies_ == 3;
    return real_.CopyFileOver(source, destination, *this);
  }

 private:
  bool ChunkCopied() override {
    if (std::exchange(stallNow_, false)) ::sleep(2);
    return run_->ChunkCopied();
  }
  velmora::CopyProgress* run_ = nullptr;
  int copies_ = 0;
  bool stallNow_ = false;
};

// The run, noting on its worker when it has ended.
class TimedRun final : public velmora::CopyRunner {
 public:
  explicit TimedRun(velmora::CopyRunner& run) : run_(run) {}
  void RunCopy() override {
    run_.ResultMessage = ResultMessage;
    run_.RunCopy();
    ResultMessage = run_.ResultMessage;
    Outcome = run_.Outcome;
    ended = std::chrono::steady_clock::now();  // read once the worker has been joined
  }
  void RequestStop() override { run_.RequestStop(); }
  std::chrono::steady_clock::time_point ended{};

 private:
  velmora::CopyRunner& run_;
};

// Notes the longest time the window's thread went without processing its events while a run
// was under way: a precise timer that should fire every 2 ms, and the longest gap between two of
// its firings.
class GapMeter final : public QObject {
 public:
  using Clock = std::chrono::steady_clock;
  GapMeter() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
      const Clock::time_point now = Clock::now();
      if (last_ != Clock::time_point{}) longestGap = std::max(longestGap, now - last_);
      last_ = now;
    });
    timer_.start(2);
  }
  void Stop() { timer_.stop(); }
  Clock::duration longestGap{};

 private:
  QTimer timer_;
  Clock::time_point last_{};
};

// One copy run in this process: `mode` is "headless" or "window". Prints its seconds, and for
// the window the longest gap between message processing and the end phase, in milliseconds.
int RunChild(const std::string& mode, const fs::path& cd, const fs::path& work) {
  const fs::path records = work / "records";  // `work` is this run's own folder
  fs::create_directories(records / "config");
  std::ofstream(records / "machine.reg")
      << "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
      << "\"SetupDir\"=\"" << cd.string() << "/\"\n"
      << "\"SystemDir\"=\"" << (work / "dest" / "Velmora" / "System").string() << "\"\n";
  ::setenv("VELMORA_MACHINE_REG", (records / "machine.reg").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (records / "config").c_str(), 1);

  velmora::CopyApplication program;
  StallingFileSystem stalling(*program.services.fileSystem);
  velmora::CopyProcedure stalled(stalling, program.settings, program.version, '/');
  velmora::CopyProcedure& procedure = mode == "window+stall" ? stalled : program.procedure;

  Seconds elapsed{};
  double gapMs = 0;
  if (mode == "window" || mode == "window+stall") {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    fs::create_directories(records / "runtime");
    fs::permissions(records / "runtime", fs::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", (records / "runtime").c_str(), 1);
    int argc = 1;
    char name[] = "copy_bench";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    TimedRun timed(procedure);
    velmora::QtCopyWindow window(timed);
    window.show();
    QCoreApplication::processEvents();
    procedure.SetProgressDisplay(window.runProgress());
    // The run as Execute makes it; the box at its end is answered at once.
    std::chrono::steady_clock::time_point ended{};
    GapMeter meter;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        if (ended == std::chrono::steady_clock::time_point{}) {
          ended = std::chrono::steady_clock::now();
          meter.Stop();
        }
        box->button(QMessageBox::Ok)->click();
        QCoreApplication::exit(0);
      }
    });
    answer.start(20);  // only the box waits on it
    const auto start = std::chrono::steady_clock::now();
    window.controller().OnExecute();
    application.exec();
    // To the run's end on its worker: what follows (the box, made and shown) is no copy's cost.
    elapsed = timed.ended - start;
    gapMs = std::chrono::duration<double, std::milli>(meter.longestGap).count();
  } else {
    const auto start = std::chrono::steady_clock::now();
    procedure.RunCopy();
    elapsed = std::chrono::steady_clock::now() - start;
  }
  if (!procedure.ResultMessage.empty()) {
    std::fprintf(stderr, "copy run failed: %s\n", procedure.ResultMessage.c_str());
    return 1;
  }
  std::printf("%.6f %.3f\n", elapsed.count(), gapMs);
  return 0;
}

struct Measurement {
  double seconds = 0;
  double peakMiB = 0;
  double longestGapMs = 0;  // window runs only
};

// Runs `argv` in a child process; its time is what it prints (or the wall time for cp).
Measurement Spawn(const std::vector<std::string>& args, bool timesItself) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) std::exit(2);
  ::sync();  // the previous run's writes are not this run's cost
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    std::_Exit(127);
  }
  ::close(pipeFds[1]);
  std::string output;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  const double wall = Seconds(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", args[0].c_str());
    std::exit(1);
  }
  Measurement m{wall, static_cast<double>(usage.ru_maxrss) / 1024.0};
  if (timesItself) {
    std::sscanf(output.c_str(), "%lf %lf", &m.seconds, &m.longestGapMs);
  }
  return m;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Measurement Median(std::vector<Measurement> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Measurement& a, const Measurement& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

// Every mode of a tree, `repeat` times, interleaved so that each sees the same state of the
// disk. Destinations are removed only after the last run: ext4 scans past recently deleted
// inodes when it creates files, which would charge one run for the clean-up of the one before.
// Every run of every mode, and the medians.
struct ModeRuns {
  std::vector<Measurement> medians;           // in the order of the modes
  std::vector<std::vector<Measurement>> all;  // the same, run by run, a round each
  const Measurement& operator[](size_t mode) const { return medians[mode]; }
};

// The median of the ratio of mode `a` to mode `b` within each round: the two ran a minute apart
// at most, on a disk whose speed drifts more than that between rounds.
double PairedRatio(const ModeRuns& runs, size_t a, size_t b) {
  std::vector<double> ratios;
  for (size_t i = 0; i < runs.all[a].size(); ++i) {
    ratios.push_back(runs.all[a][i].seconds / runs.all[b][i].seconds);
  }
  std::sort(ratios.begin(), ratios.end());
  return ratios[ratios.size() / 2];
}

ModeRuns MeasureModes(const std::string& self, const std::vector<std::string>& modes,
                      const Tree& tree, const fs::path& work, int repeat, bool removeNow) {
  // removeNow: each run's copy is removed as soon as it is timed, so that a large tree's copies
  // do not crowd the CD out of the page cache. Small trees keep theirs (see main).
  std::vector<std::vector<Measurement>> runs(modes.size());
  // An untimed copy first, so that every timed run reads the CD from the page cache.
  fs::create_directories(work / "runs" / "warm-up");
  Spawn({"cp", "-r", (tree.cd / tree.group).string(), (work / "runs" / "warm-up").string()}, false);
  for (int i = 0; i < repeat; ++i) {
    // Each round starts with another mode, and every other round goes backwards, so no mode
    // always runs first, nor always right after the same other one.
    for (size_t k = 0; k < modes.size(); ++k) {
      const size_t step = i % 2 == 0 ? k : modes.size() - 1 - k;
      const size_t m = (step + static_cast<size_t>(i)) % modes.size();
      const fs::path run = work / "runs" / (tree.name + "-" + modes[m] + "-" + std::to_string(i));
      fs::create_directories(run / "dest");
      if (modes[m] == "cp") {
        runs[m].push_back(
            Spawn({"cp", "-r", (tree.cd / tree.group).string(), (run / "dest").string()}, false));
      } else if (modes[m] == "cp+sync") {
        runs[m].push_back(Spawn({"sh", "-c", "cp -r \"$0\" \"$1\" && sync",
                                 (tree.cd / tree.group).string(), (run / "dest").string()},
                                false));
      } else {
        runs[m].push_back(Spawn({self, "--child", modes[m], tree.cd.string(), run.string()}, true));
      }
      if (removeNow) {
        fs::remove_all(run);
        // The file system finishes freeing a large tree in the background: not on the next
        // run's time.
        ::sync();
        ::sleep(2);
      }
    }
  }
  fs::remove_all(work / "runs" / "warm-up");
  std::vector<Measurement> medians;
  for (auto& r : runs) {
    Measurement median = Median(r);
    // The worst gap of any run, not the median's.
    for (const Measurement& one : r) {
      median.longestGapMs = std::max(median.longestGapMs, one.longestGapMs);
    }
    medians.push_back(median);
  }
  return {medians, runs};
}

void Row(const Tree& tree, const char* mode, const Measurement& m, const Measurement& cp,
         const Measurement& cpSync) {
  std::printf("%-22s %-12s %9.3f %10.0f %9.1f %7.3f %9.3f %9.1f", tree.name.c_str(), mode,
              m.seconds, static_cast<double>(tree.files) / m.seconds,
              static_cast<double>(tree.bytes) / 1e6 / m.seconds, m.seconds / cp.seconds,
              m.seconds / cpSync.seconds, m.peakMiB);
  if (m.longestGapMs > 0) std::printf("   %6.1f", m.longestGapMs);
  std::printf("\n");
}

void Goal(const char* what, double figure, double limit) {
  std::printf("  %-58s %7.3f (goal %s %.2f): %s\n", what, figure, "<=", limit,
              figure <= limit ? "met" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "--child") return RunChild(args[1], args[2], args[3]);

  fs::path work = fs::current_path() / "bench-work";
  int repeat = 3;
  uint64_t smallFiles = 20000;
  uint64_t largeFiles = 16;
  uint64_t largeMiB = 64;
  uint64_t hugeFiles = 2;
  uint64_t hugeMiB = 1024;
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--work")
      work = args[i + 1];
    else if (args[i] == "--repeat")
      repeat = std::atoi(args[i + 1].c_str());
    else if (args[i] == "--small-files")
      smallFiles = std::strtoull(args[i + 1].c_str(), nullptr, 10);
    else if (args[i] == "--large-files")
      largeFiles = std::strtoull(args[i + 1].c_str(), nullptr, 10);
    else if (args[i] == "--large-mib")
      largeMiB = std::strtoull(args[i + 1].c_str(), nullptr, 10);
    else if (args[i] == "--huge-files")
      hugeFiles = std::strtoull(args[i + 1].c_str(), nullptr, 10);
    else if (args[i] == "--huge-mib")
      hugeMiB = std::strtoull(args[i + 1].c_str(), nullptr, 10);
  }
  work = fs::absolute(work);
  fs::create_directories(work);
  // ext4 passes over inodes deleted in the last 30 seconds when it makes new files, which would
  // slow the first runs after an earlier benchmark's copies were removed: wait that out.
  const fs::path removedAt = work / "runs-removed-at";
  fs::remove_all(work / "runs");  // left by a benchmark that was cut off
  const long since = fs::exists(removedAt) ? static_cast<long>(std::time(nullptr)) -
                                                 std::stol("0" + ReadText(removedAt))
                                           : 31;
  if (since < 31) {
    std::printf("Waiting %ld s for an earlier benchmark's removed copies to settle ...\n",
                31 - since);
    std::fflush(stdout);
    ::sleep(static_cast<unsigned>(31 - since));
  }
  const std::string self = fs::canonical("/proc/self/exe").string();

  std::printf("Generating CD trees in %s ...\n", work.c_str());
  std::fflush(stdout);
  const Tree small = MakeCd(work, "small-" + std::to_string(smallFiles) + "x1-8KiB", "System",
                            smallFiles, 1024, 8192);
  const Tree thousand = MakeCd(work, "small-1000x1-8KiB", "System", 1000, 1024, 8192);
  const size_t largeSize = static_cast<size_t>(largeMiB) << 20;
  const Tree large =
      MakeCd(work, "large-" + std::to_string(largeFiles) + "x" + std::to_string(largeMiB) + "MiB",
             "Help/video", largeFiles, largeSize, largeSize);
  const size_t hugeSize = static_cast<size_t>(hugeMiB) << 20;
  const Tree huge =
      MakeCd(work, "huge-" + std::to_string(hugeFiles) + "x" + std::to_string(hugeMiB) + "MiB",
             "Help/video", hugeFiles, hugeSize, hugeSize);

  std::printf("\n%-22s %-12s %9s %10s %9s %7s %9s %9s   %6s\n", "tree", "run", "seconds", "files/s",
              "MB/s", "vs cp", "vs cp+sync", "peak MiB", "gap ms");
  const std::vector<std::string> modes = {"cp", "cp+sync", "headless", "window"};
  const auto measure = [&](const Tree& tree, bool removeNow) {
    ModeRuns r = MeasureModes(self, modes, tree, work, repeat, removeNow);
    for (size_t m = 0; m < modes.size(); ++m) Row(tree, modes[m].c_str(), r[m], r[0], r[1]);
    std::fflush(stdout);
    return r;
  };
  const ModeRuns smallRuns = measure(small, false);
  const ModeRuns thousandRuns =
      MeasureModes(self, {"cp", "cp+sync", "headless"}, thousand, work, repeat, false);
  Row(thousand, "headless", thousandRuns[2], thousandRuns[0], thousandRuns[1]);
  const ModeRuns largeRuns = measure(large, true);
  // One read of the CD blocked for 2 s: the window's thread goes on all the same.
  const ModeRuns stallRuns =
      MeasureModes(self, {"cp", "cp+sync", "window+stall"}, large, work, repeat, true);
  Row(large, "window+stall", stallRuns[2], stallRuns[0], stallRuns[1]);
  ModeRuns hugeRuns;
  if (hugeFiles != 0) hugeRuns = measure(huge, true);
  fs::remove_all(work / "runs");
  std::ofstream(removedAt) << std::time(nullptr);

  const auto ratio = [](const ModeRuns& r, size_t a, size_t b) {
    return r[a].seconds / r[b].seconds;
  };
  constexpr size_t kCp = 0, kCpSync = 1, kHeadless = 2, kWindow = 3;
  std::printf(
      "\nGoals (median of %d runs each, or of %d rounds' ratios; gaps are the worst of any "
      "run):\n",
      repeat, repeat);
  std::printf("  %-58s %7.3f (for information)\n", "small files, headless time / cp time",
              ratio(smallRuns, kHeadless, kCp));
  Goal("small files, headless time / (cp + sync) time", ratio(smallRuns, kHeadless, kCpSync), 1.25);
  std::printf("  %-58s %7.3f (for information)\n", "large files, headless time / cp time",
              ratio(largeRuns, kHeadless, kCp));
  Goal("large files, headless time / (cp + sync) time", ratio(largeRuns, kHeadless, kCpSync), 1.10);
  // The window against the headless run of the same round: the median of the rounds' ratios.
  Goal("small files, window time / headless time", PairedRatio(smallRuns, kWindow, kHeadless),
       1.03);
  Goal("large files, window time / headless time", PairedRatio(largeRuns, kWindow, kHeadless),
       1.03);
  if (hugeFiles != 0) {
    Goal("huge files, window time / headless time", PairedRatio(hugeRuns, kWindow, kHeadless),
         1.03);
  }
  // The timer that measures gaps fires every 2 ms; its own lateness counts against the window.
  std::printf("  longest gap in the window's event processing during a run (goal <= 20 ms):\n");
  Goal("  small files (ms)", smallRuns[kWindow].longestGapMs, 20);
  Goal("  large files (ms)", largeRuns[kWindow].longestGapMs, 20);
  if (hugeFiles != 0) Goal("  huge files (ms)", hugeRuns[kWindow].longestGapMs, 20);
  Goal("  large files, one read blocked for 2 s (ms)", stallRuns[2].longestGapMs, 20);
  Goal("peak memory, 20,000 files / 1,000 files",
       smallRuns[kHeadless].peakMiB / thousandRuns[kHeadless].peakMiB, 1.10);
  return 0;
}
