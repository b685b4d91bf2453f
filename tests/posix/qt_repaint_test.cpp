#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "app/qt/qt_copy_window.h"
#include "copy/copy_procedure.h"
#include "platform/posix/posix_file_system.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/fakes/sandbox_cd.h"
#include "tests/fakes/slow_source.h"
#include "tests/support/gate.h"
#include "tests/support/sandbox.h"

// The Qt window during a copy whose source is slow: the real POSIX back-end copies on the run's
// worker in chunks, and the source takes its time between them, as a CD does. The window's
// thread runs its event loop meanwhile and is asked again and again to repaint the window, as a
// window that is covered and uncovered is.
namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kChunkWait = std::chrono::milliseconds(40);

// What the worker has delivered of the video so far; read on the window's thread.
struct VideoProgress {
  std::atomic<int> chunks{0};
};

struct Paint {
  std::string text;
  int videoChunks;  // chunks of the video delivered when the label was painted
  Clock::time_point at;
};

// Notes each paint of the label, on the window's thread.
class PaintRecorder final : public QObject {
 public:
  explicit PaintRecorder(const VideoProgress& video) : video_(video) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      paints.push_back({static_cast<QLabel*>(watched)->text().toStdString(), video_.chunks.load(),
                        Clock::now()});
    }
    return false;
  }
  std::vector<Paint> paints;

 private:
  const VideoProgress& video_;
};

TEST(QtRepaintTest, TheLabelIsPaintedThroughoutASlowCopyWithTheFilesNumber) {
  testing::SandboxCd cd(32, '/');  // file 1 quick, file 2 a video
  PosixFileSystem real;

  // Between the video's chunks the worker waits for the drive, then posts a stamped call to the
  // window's thread, which notes how long it waited there.
  VideoProgress video;
  QObject windowThread;
  std::vector<Clock::duration> postedWaits;
  testing::SlowSource source(
      real, [](std::string_view file) { return file.ends_with("video.avi"); },
      [&] {
        testing::SleepFor(kChunkWait);
        video.chunks.fetch_add(1);
        const Clock::time_point posted = Clock::now();
        QMetaObject::invokeMethod(
            &windowThread, [&postedWaits, posted] { postedWaits.push_back(Clock::now() - posted); },
            Qt::QueuedConnection);
      });
  CopyProcedure procedure(source, cd.settings, cd.version, '/');
  QtCopyWindow window(procedure);
  procedure.SetProgressDisplay(window.runProgress());
  PaintRecorder recorder(video);
  window.progressLabel()->installEventFilter(&recorder);

  // The window is exposed again every 10 ms, as one dragged across it would leave it.
  QTimer exposed;
  QObject::connect(&exposed, &QTimer::timeout, [&window] { window.update(); });
  exposed.start(10);

  QEventLoop loop;
  QString boxTitle;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxTitle = box->windowTitle();
      box->button(QMessageBox::Ok)->click();
      loop.quit();
    }
  });
  answer.start(10);
  QTimer::singleShot(std::chrono::seconds(60), &loop, [&loop] { loop.exit(1); });  // no hang

  // Execute is pressed once the window is on the screen, as a user presses it.
  window.show();
  QElapsedTimer shown;
  shown.start();
  while (recorder.paints.empty() && shown.elapsed() < 10000) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  ASSERT_FALSE(recorder.paints.empty()) << "the window was never painted";
  QTimer::singleShot(0, window.executeButton(), &QPushButton::click);
  ASSERT_EQ(loop.exec(), 0) << "the run did not end";
  exposed.stop();

  EXPECT_EQ(boxTitle, QString::fromUtf8(" Velmora"));
  EXPECT_TRUE(cd.sandbox.ReadFile("install/Velmora/Help/video/video.avi") == cd.video);

  // 32 MiB in chunks of at most 4 MiB: the worker waited for the drive at least seven times.
  const int chunks = video.chunks.load();
  ASSERT_GE(chunks, 7);
  // Each posted call was taken up at once, though the worker was busy the whole time.
  QApplication::processEvents();
  ASSERT_EQ(postedWaits.size(), static_cast<size_t>(chunks));
  for (const Clock::duration waited : postedWaits) {
    EXPECT_LT(waited, std::chrono::milliseconds(100));
  }
  // While the video was surely under way (between its first and its last chunk, when its number
  // had long been set), the label was painted again and again, and showed the video's number.
  std::vector<Clock::time_point> duringVideo;
  for (const Paint& paint : recorder.paints) {
    if (paint.videoChunks < 1 || paint.videoChunks >= chunks) continue;
    EXPECT_EQ(paint.text, "2") << "after chunk " << paint.videoChunks;
    duringVideo.push_back(paint.at);
  }
  ASSERT_GE(duringVideo.size(), static_cast<size_t>(chunks - 2));
  for (size_t i = 1; i < duringVideo.size(); ++i) {
    EXPECT_LT(duringVideo[i] - duringVideo[i - 1], std::chrono::milliseconds(100))
        << "no paint for a while after paint " << i;
  }
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
