// Times the copy run against `cp -r` on generated install CDs, on the disk of the work folder:
// headless (the real file-system back-end, a progress display that draws nothing), through the
// real Qt window (offscreen), and cp as the reference. Each measurement runs in a child process
// of its own, so its peak resident memory is its own.
//
//   copy_bench [--work DIR] [--repeat N] [--small-files N] [--large-files N] [--large-mib N]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/qt/qt_copy_window.h"
#include "app/copy_application.h"

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
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(words.data()),
                                              static_cast<std::streamsize>(size));
}

// An install CD whose files all lie in one group folder.
Tree MakeCd(const fs::path& root, const std::string& name, const std::string& group,
            uint64_t files, size_t minSize, size_t maxSize) {
  Tree tree{name, root / name, group, files, 0};
  if (fs::exists(tree.cd / "done")) {  // made by an earlier run with the same shape
    for (const auto& entry : fs::directory_iterator(tree.cd / group)) tree.bytes += entry.file_size();
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

// One copy run in this process: `mode` is "headless" or "window".
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
  velmora::CopyProcedure& procedure = program.procedure;

  Seconds elapsed{};
  if (mode == "window") {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "copy_bench";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    velmora::QtCopyWindow window(procedure);
    window.show();
    QCoreApplication::processEvents();
    procedure.SetProgressDisplay(window.runProgress());
    const auto start = std::chrono::steady_clock::now();
    procedure.RunCopy();
    window.runProgress().ProcessPendingMessages();
    elapsed = std::chrono::steady_clock::now() - start;
  } else {
    const auto start = std::chrono::steady_clock::now();
    procedure.RunCopy();
    elapsed = std::chrono::steady_clock::now() - start;
  }
  if (!procedure.ResultMessage.empty()) {
    std::fprintf(stderr, "copy run failed: %s\n", procedure.ResultMessage.c_str());
    return 1;
  }
  std::printf("%.6f\n", elapsed.count());
  return 0;
}

struct Measurement {
  double seconds = 0;
  double peakMiB = 0;
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
  return Measurement{timesItself ? std::atof(output.c_str()) : wall,
                     static_cast<double>(usage.ru_maxrss) / 1024.0};
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
std::vector<Measurement> MeasureModes(const std::string& self, const std::vector<std::string>& modes,
                                      const Tree& tree, const fs::path& work, int repeat,
                                      bool removeNow) {
  // removeNow: each run's copy is removed as soon as it is timed, so that a large tree's copies
  // do not crowd the CD out of the page cache. Small trees keep theirs (see main).
  std::vector<std::vector<Measurement>> runs(modes.size());
  // An untimed copy first, so that every timed run reads the CD from the page cache.
  fs::create_directories(work / "runs" / "warm-up");
  Spawn({"cp", "-r", (tree.cd / tree.group).string(), (work / "runs" / "warm-up").string()}, false);
  for (int i = 0; i < repeat; ++i) {
    // Each round starts with another mode, so none always runs first.
    for (size_t k = 0; k < modes.size(); ++k) {
      const size_t m = (k + static_cast<size_t>(i)) % modes.size();
      const fs::path run = work / "runs" / (tree.name + "-" + modes[m] + "-" + std::to_string(i));
      fs::create_directories(run / "dest");
      if (modes[m] == "cp") {
        runs[m].push_back(
            Spawn({"cp", "-r", (tree.cd / tree.group).string(), (run / "dest").string()}, false));
      } else {
        runs[m].push_back(Spawn({self, "--child", modes[m], tree.cd.string(), run.string()}, true));
      }
      if (removeNow) fs::remove_all(run);
    }
  }
  std::vector<Measurement> medians;
  for (auto& r : runs) medians.push_back(Median(r));
  return medians;
}

void Row(const Tree& tree, const char* mode, const Measurement& m, const Measurement& cp) {
  std::printf("%-26s %-9s %9.3f %11.0f %9.1f %9.3f %10.1f\n", tree.name.c_str(), mode, m.seconds,
              static_cast<double>(tree.files) / m.seconds,
              static_cast<double>(tree.bytes) / 1e6 / m.seconds, m.seconds / cp.seconds, m.peakMiB);
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
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--work") work = args[i + 1];
    else if (args[i] == "--repeat") repeat = std::atoi(args[i + 1].c_str());
    else if (args[i] == "--small-files") smallFiles = std::strtoull(args[i + 1].c_str(), nullptr, 10);
    else if (args[i] == "--large-files") largeFiles = std::strtoull(args[i + 1].c_str(), nullptr, 10);
    else if (args[i] == "--large-mib") largeMiB = std::strtoull(args[i + 1].c_str(), nullptr, 10);
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
    std::printf("Waiting %ld s for an earlier benchmark's removed copies to settle ...\n", 31 - since);
    std::fflush(stdout);
    ::sleep(static_cast<unsigned>(31 - since));
  }
  const std::string self = fs::canonical("/proc/self/exe").string();

  std::printf("Generating CD trees in %s ...\n", work.c_str());
  const Tree small = MakeCd(work, "small-" + std::to_string(smallFiles) + "x1-8KiB", "System",
                            smallFiles, 1024, 8192);
  const Tree thousand = MakeCd(work, "small-1000x1-8KiB", "System", 1000, 1024, 8192);
  const size_t largeSize = static_cast<size_t>(largeMiB) << 20;
  const Tree large = MakeCd(work, "large-" + std::to_string(largeFiles) + "x" +
                                      std::to_string(largeMiB) + "MiB",
                            "Help/video", largeFiles, largeSize, largeSize);

  std::printf("\n%-26s %-9s %9s %11s %9s %9s %10s\n", "tree", "run", "seconds", "files/s", "MB/s",
              "vs cp", "peak MiB");
  const std::vector<std::string> modes = {"cp", "headless", "window"};
  const std::vector<Measurement> smallRuns = MeasureModes(self, modes, small, work, repeat, false);
  const Measurement& smallCp = smallRuns[0];
  const Measurement& smallHeadless = smallRuns[1];
  const Measurement& smallWindow = smallRuns[2];
  Row(small, "cp -r", smallCp, smallCp);
  Row(small, "headless", smallHeadless, smallCp);
  Row(small, "window", smallWindow, smallCp);
  const std::vector<Measurement> thousandRuns =
      MeasureModes(self, {"cp", "headless"}, thousand, work, repeat, false);
  const Measurement& thousandHeadless = thousandRuns[1];
  Row(thousand, "headless", thousandHeadless, thousandRuns[0]);
  const std::vector<Measurement> largeRuns = MeasureModes(self, modes, large, work, repeat, true);
  fs::remove_all(work / "runs");
  const Measurement& largeCp = largeRuns[0];
  const Measurement& largeHeadless = largeRuns[1];
  const Measurement& largeWindow = largeRuns[2];
  Row(large, "cp -r", largeCp, largeCp);
  Row(large, "headless", largeHeadless, largeCp);
  Row(large, "window", largeWindow, largeCp);

  std::printf("\nGoals (median of %d runs each):\n", repeat);
  Goal("large files, headless time / cp time", largeHeadless.seconds / largeCp.seconds, 1.10);
  Goal("small files, headless time / cp time", smallHeadless.seconds / smallCp.seconds, 1.25);
  Goal("small files, window time / headless time", smallWindow.seconds / smallHeadless.seconds, 1.05);
  Goal("large files, window time / headless time", largeWindow.seconds / largeHeadless.seconds, 1.05);
  Goal("peak memory, 20,000 files / 1,000 files", smallHeadless.peakMiB / thousandHeadless.peakMiB,
       1.10);
  return 0;
}
