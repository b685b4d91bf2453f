#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <string>
#include <vector>

#include "app/qt/qt_copy_window.h"
#include "copy/copy_procedure.h"
#include "platform/posix/posix_file_system.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/fakes/slow_source.h"
#include "tests/support/sandbox.h"

// The Qt window during a copy whose source is slow: the real POSIX back-end copies in chunks,
// and the source takes its time between them, as a CD does.
namespace velmora {
namespace {

// Notes the text of each paint of the label.
class PaintRecorder final : public QObject {
 public:
  explicit PaintRecorder(const testing::SlowSource& source) : source_(source) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      const QString text = static_cast<QLabel*>(watched)->text();
      (source_.copyingSlowFile() ? duringVideo : elsewhere).push_back(text.toStdString());
    }
    return false;
  }
  std::vector<std::string> duringVideo;
  std::vector<std::string> elsewhere;

 private:
  const testing::SlowSource& source_;
};

TEST(QtRepaintTest, TheLabelIsPaintedThroughoutASlowCopyWithTheFilesNumber) {
  testing::Sandbox sandbox;
  sandbox.WriteFile("cd/setup.exe", "x");
  sandbox.MakeFolder("cd/PCMaster");
  sandbox.WriteFile("cd/System/quick.dat", "quick");  // file 1, done in a moment
  sandbox.WriteFile("cd/Help/video/video.avi", std::string(24 << 20, 'v'));  // file 2
  sandbox.MakeFolder("install");
  testing::FakeRegistry registry;
  registry.SetString("Software\\Velmora\\Info", "SetupDir", sandbox.Path("cd") + "/");
  registry.SetString("Software\\Velmora\\Info", "SystemDir",
                     sandbox.Path("install/Velmora/System"));
  testing::FakeSettingsStore store;
  testing::FakeVersionSource versionSource;
  InstallerSettings settings(registry, store);
  WindowsVersion version(versionSource);
  PosixFileSystem real;

  QWidget* shown = nullptr;
  testing::SlowSource source(
      real, [](std::string_view file) { return file.ends_with("video.avi"); },
      [&shown] {
        QThread::msleep(25);  // the next chunk is slow to arrive
        shown->update();      // meanwhile the window was uncovered: it has to be painted again
      });
  CopyProcedure procedure(source, settings, version, '/');
  QtCopyWindow window(procedure);
  shown = &window;
  procedure.SetProgressDisplay(window.runProgress());
  PaintRecorder recorder(source);
  window.progressLabel()->installEventFilter(&recorder);

  window.show();
  QString boxTitle;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxTitle = box->windowTitle();
      box->button(QMessageBox::Ok)->click();
    }
  });
  answer.start(10);
  window.executeButton()->click();

  EXPECT_EQ(boxTitle, QString::fromUtf8(" Velmora"));
  EXPECT_TRUE(sandbox.ReadFile("install/Velmora/Help/video/video.avi") ==
              std::string(24 << 20, 'v'));
  // At least six chunks of at most 4 MiB, each arriving 25 ms after the one before: the label
  // was painted between them, and showed the video's number each time, though file 1 had been
  // painted only a moment before the video started.
  ASSERT_GE(source.slowChunks, 5);
  EXPECT_GE(recorder.duringVideo.size(), static_cast<size_t>(source.slowChunks) - 1);
  for (const std::string& text : recorder.duringVideo) EXPECT_EQ(text, "2");
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
