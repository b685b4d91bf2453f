#include "app/run_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tests/fakes/fake_copy_run.h"
#include "tests/fakes/fake_log_file.h"
#include "tests/fakes/held_calls.h"

namespace velmora {
namespace {

TEST(RunLogTest, TheRotatedNameKeepsTheExtension) {
  struct Row {
    const char* path;
    char separator;
    const char* rotated;
  };
  const Row rows[] = {
      {"C:\\Users\\u\\AppData\\Local\\Velmora\\cdcopy.log", '\\',
       "C:\\Users\\u\\AppData\\Local\\Velmora\\cdcopy.1.log"},
      {"/home/u/.local/state/velmora/cdcopy.log", '/', "/home/u/.local/state/velmora/cdcopy.1.log"},
      {"/var/log/velmora.d/run", '/', "/var/log/velmora.d/run.1"},
      {"run", '/', "run.1"},
  };
  for (const Row& row : rows) EXPECT_EQ(RotatedLogPath(row.path, row.separator), row.rotated);
}

TEST(RunLogTest, ALogPastItsSizeIsRotatedBeforeTheNextEntry) {
  testing::FakeLogFile file;
  const std::string log = "/state/velmora/cdcopy.log";
  ASSERT_TRUE(AppendLogEntry(file, log, "first\n", '/'));
  EXPECT_EQ(file.folders.count("/state/velmora"), 1u);  // made when missing
  EXPECT_EQ(file.files[log], "first\n");

  file.files["/state/velmora/cdcopy.1.log"] = "the oldest";
  file.files[log] = std::string(kLogRotationBytes, 'x');  // at the size: not yet past it
  ASSERT_TRUE(AppendLogEntry(file, log, "second\n", '/'));
  EXPECT_EQ(file.files[log].size(), kLogRotationBytes + 7);
  EXPECT_EQ(file.files["/state/velmora/cdcopy.1.log"], "the oldest");

  ASSERT_TRUE(AppendLogEntry(file, log, "third\n", '/'));
  EXPECT_EQ(file.files[log], "third\n");
  EXPECT_EQ(file.files["/state/velmora/cdcopy.1.log"].size(), kLogRotationBytes + 7);
}

TEST(RunLogTest, LocalTimeCarriesItsOffsetFromUtc) {
  struct Row {
    const char* zone;
    const char* text;
  };
  const Row rows[] = {
      {"UTC0", "1970-01-02T00:00:00+00:00"},
      {"JST-9", "1970-01-02T09:00:00+09:00"},
      {"EST5", "1970-01-01T19:00:00-05:00"},  // the day before, in the other direction
      {"IST-5:30", "1970-01-02T05:30:00+05:30"},
  };
  const char* saved = std::getenv("TZ");
  const std::string before = saved != nullptr ? saved : "";
  for (const Row& row : rows) {
#ifdef _WIN32
    _putenv_s("TZ", row.zone);
    _tzset();
#else
    ::setenv("TZ", row.zone, 1);
    ::tzset();
#endif
    EXPECT_EQ(LocalIso8601(86400), row.text) << row.zone;
  }
#ifdef _WIN32
  _putenv_s("TZ", before.c_str());
  _tzset();
#else
  if (saved != nullptr) {
    ::setenv("TZ", before.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
#endif
}

// A run through the log, on fakes: the installer's records, the CD, the log's file.
class LoggedRunTest : public ::testing::Test, protected testing::FakeCopyRun {
 protected:
  void SetUp() override {
    testing::LayOutSmallCd(*this, {"a.dat", "b.dat", "c.dat"});
    file.folders.insert("/logs");
  }
  std::string Run(LoggedRun& run) {
    run.ResultMessage.clear();
    run.RunCopy();
    return run.ResultMessage;
  }
  testing::FakeLogFile file;
};

TEST_F(LoggedRunTest, AnEntryNamesEveryFailureWithItsReasonInOrder) {
  fs.FailCopy("C:\\Velmora\\System\\a.dat", testing::FakeFileSystem::kErrorDiskFull);
  fs.FailCopy("C:\\Velmora\\System\\c.dat", testing::FakeFileSystem::kErrorAccessDenied);
  LoggedRun run(procedure, file, "/logs/cdcopy.log", '/', [] { return std::time_t{0}; });
  const std::string message = Run(run);
  EXPECT_EQ(message, procedure.ResultMessage);
  EXPECT_EQ(run.Outcome, RunOutcome::kFailed);

  const std::string& entry = file.files["/logs/cdcopy.log"];
  const size_t first = entry.find("failed: C:\\Velmora\\System\\a.dat\treason 112\n");
  const size_t second = entry.find("failed: C:\\Velmora\\System\\c.dat\treason 5\n");
  ASSERT_NE(first, std::string::npos) << entry;
  ASSERT_NE(second, std::string::npos) << entry;
  EXPECT_LT(first, second);
  for (const std::string& part :
       {std::string("== ") + LocalIso8601(0) + " velmora-cdcopy " + kProgramVersion + "\n",
        std::string("Windows version flags: OsIsVista 0, OsIsWin7OrLater 0\n"),
        std::string("source: E:\n"), std::string("destination: C:\\Velmora\n"),
        std::string("completes an earlier run: no\n"),
        std::string("files counted 3, not copied 2; folders not made 0; CD folders not read 0; "
                    "copies on the disk yes\n"),
        "result:  " + message + "\u3000\n", std::string("exit code: 3\n"), std::string("took: ")}) {
    EXPECT_NE(entry.find(part), std::string::npos) << part << "\nin\n" << entry;
  }
  // The box says where to read all of it.
  EXPECT_EQ(run.FailureFootnote(), "詳しくはログをご覧下さい：/logs/cdcopy.log");

  // The next run completes the copy, and says so; its entry follows the first.
  const size_t firstEntry = entry.size();
  fs.ClearFailures();
  EXPECT_EQ(Run(run), "");
  EXPECT_EQ(run.Outcome, RunOutcome::kCompleted);
  const std::string& both = file.files["/logs/cdcopy.log"];
  EXPECT_NE(both.find("completes an earlier run: yes\n", firstEntry), std::string::npos);
  EXPECT_NE(
      both.find(
          "result: \u3000インストールＣＤからファイルのコピーが終了しました。\nexit code: 0\n"),
      std::string::npos);
}

TEST_F(LoggedRunTest, ALogThatCannotBeWrittenChangesNothingOfTheRun) {
  fs.FailCopy("C:\\Velmora\\System\\b.dat");
  file.unwritable.insert("/logs");
  LoggedRun run(procedure, file, "/logs/cdcopy.log", '/');
  const std::string message = Run(run);
  EXPECT_EQ(message, messages::CopyFailureText(procedure.failures()));
  EXPECT_EQ(run.Outcome, RunOutcome::kFailed);
  EXPECT_FALSE(run.logWritten());
  EXPECT_EQ(run.FailureFootnote(), "");  // no pointer to a log that is not there
  EXPECT_TRUE(file.files.empty());

  // Nor does having no log at all (a user without a home).
  LoggedRun unlogged(procedure, file, "", '/');
  EXPECT_EQ(Run(unlogged), message);
  EXPECT_EQ(unlogged.FailureFootnote(), "");
}

TEST_F(LoggedRunTest, ARunThatFindsNoCdLogsWhatItKnows) {
  registry.SetString("Software\\Velmora\\Info", "SetupDir", "F:\\");
  LoggedRun run(procedure, file, "/logs/cdcopy.log", '/');
  EXPECT_EQ(Run(run), "Ｆ ドライブにインストールＣＤをセットして下さい。");
  const std::string& entry = file.files["/logs/cdcopy.log"];
  EXPECT_NE(entry.find("source: F:\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("destination: -\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("exit code: 2\n"), std::string::npos) << entry;
}

TEST_F(LoggedRunTest, ARunGivenUpOnWhileHeldInACallHasOneEntryThatSaysSo) {
  LoggedRun run(procedure, file, "/logs/cdcopy.log", '/', [] { return std::time_t{0}; });
  run.GiveUp();  // no run under way: nothing to say
  EXPECT_TRUE(file.files.empty());

  testing::Gate gate;
  fs.beforeCopy = [&gate](int number) {
    if (number == 2) gate.Pass();
  };
  WorkerThread worker;
  ASSERT_TRUE(worker.Start([&run] { run.RunCopy(); }));
  ASSERT_TRUE(gate.WaitUntilReached());
  run.GiveUp();
  run.GiveUp();  // one entry a run, however often it is given up on
  const std::string given = file.files["/logs/cdcopy.log"];
  for (const std::string& part :
       {std::string("== ") + LocalIso8601(0) + " velmora-cdcopy " + kProgramVersion + "\n",
        std::string("given up: a call on the CD or the destination had not returned"),
        std::string("result:  \u3000コピーを中断しました。\u3000\n"), std::string("exit code: 5\n"),
        std::string("took: ")}) {
    EXPECT_NE(given.find(part), std::string::npos) << part << "\nin\n" << given;
  }
  EXPECT_EQ(given.find("== ", 1), std::string::npos) << given;

  // The call returns after all, too late: the program would have ended; its entry is not added.
  gate.Open();
  worker.Join();
  EXPECT_EQ(file.files["/logs/cdcopy.log"], given);

  // The next run (which finds the copy complete) has its own entry again.
  fs.beforeCopy = nullptr;
  EXPECT_EQ(Run(run), messages::kAlreadyCopied);
  EXPECT_NE(file.files["/logs/cdcopy.log"].find("exit code: 1\n", given.size()), std::string::npos);
}

}  // namespace
}  // namespace velmora
