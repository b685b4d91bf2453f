#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <functional>

#include "app/qt/qt_copy_window.h"
#include "copy/copy_procedure.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/ini_settings_store.h"
#include "platform/posix/posix_file_system.h"
#include "tests/fakes/fake_copy_run.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/fakes/held_calls.h"
#include "tests/support/gate.h"
#include "tests/support/sandbox.h"

namespace velmora {
namespace {

struct SeenBox {
  QString title;
  QString text;
  uint32_t buttonColour = 0;
  bool seen = false;
};

// Waits for the message box the window opens, notes what it shows, and presses its OK.
void AnswerNextBox(QtCopyWindow& window, SeenBox& seen) {
  auto* timer = new QTimer(&window);
  QObject::connect(timer, &QTimer::timeout, [&window, &seen, timer] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen = {box->windowTitle(), box->text(), window.buttonColour(), true};
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->buttons().size(), 1);
    timer->stop();
    box->button(QMessageBox::Ok)->click();
  });
  timer->start(10);
}

// Lets the window's thread process its events until `done` answers true, at most `limit`.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limit.count()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// Shows the window, presses Execute and answers the box the run ends with.
SeenBox PressExecute(QtCopyWindow& window) {
  window.show();
  SeenBox seen;
  AnswerNextBox(window, seen);
  window.executeButton()->click();
  // The run goes on its own thread; the box comes once it has ended.
  EXPECT_TRUE(PumpUntil([&] { return seen.seen && QApplication::activeModalWidget() == nullptr; }));
  return seen;
}

// A copy run through the real Linux back-ends against stand-in installer records.
class QtWindowTest : public ::testing::Test {
 protected:
  void WriteRecords(const std::string& values) {
    sandbox.WriteFile("machine.reg",
                      "Windows Registry Editor Version 5.00\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n" +
                          values);
  }

  testing::Sandbox sandbox;
  FileRegistry registry{sandbox.Path("machine.reg")};
  IniSettingsStore store{sandbox.Path("config")};
  testing::FakeVersionSource versionSource;
  PosixFileSystem fs;
  InstallerSettings settings{registry, store};
  WindowsVersion version{versionSource};
  CopyProcedure procedure{fs, settings, version, '/'};
};

TEST_F(QtWindowTest, OpensWithItsTextsLayoutAndFonts) {
  QtCopyWindow window(procedure);
  EXPECT_EQ(window.windowTitle(), QString::fromUtf8(" Velmora"));
  EXPECT_EQ(window.instructionLabel()->text(),
            QString::fromUtf8("\u3000インストールＣＤより必要ファイルをコピーします。 "));
  EXPECT_EQ(window.executeButton()->text(), QString::fromUtf8("実 行"));
  EXPECT_TRUE(window.progressLabel()->text().isEmpty());
  EXPECT_EQ(window.buttonColour(), kColourButtonFace);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(window.minimumSize(), window.maximumSize());

  // 96 dots per inch offscreen: 15 twips a pixel.
  EXPECT_EQ(window.size(), QSize(428, 101));
  EXPECT_EQ(window.executeButton()->geometry().top(), 63);  // 942.5 twips
  EXPECT_EQ(window.executeButton()->size(), QSize(85, 22));
  EXPECT_EQ(window.instructionLabel()->geometry().left(), 26);  // 390 twips
  EXPECT_EQ(window.progressLabel()->geometry().left(), window.executeButton()->geometry().left());
  EXPECT_EQ(window.progressLabel()->width(), window.executeButton()->width());

  // The face the window names resolves to a Japanese gothic face, not a Latin fallback.
  const QString family = QFontInfo(window.executeButton()->font()).family();
  EXPECT_TRUE(family.contains("IPA") || family.contains("Gothic") || family.contains("CJK"))
      << family.toStdString();
}

TEST_F(QtWindowTest, ExecuteReportsAMissingCdLocation) {
  WriteRecords("\"SystemDir\"=\"/opt/Velmora/System\"\n");
  QtCopyWindow window(procedure);
  const SeenBox seen = PressExecute(window);

  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, QString::fromUtf8(" 【 Err 】"));
  EXPECT_EQ(seen.text,
            QString::fromUtf8(" \u3000インストールＣＤの挿入ドライブ名が不明です。\u3000"));
  EXPECT_EQ(seen.buttonColour, kColourYellow);
  EXPECT_EQ(window.buttonColour(), kColourButtonFace);
  EXPECT_TRUE(window.executeButton()->isEnabled());
}

TEST_F(QtWindowTest, ExecuteReportsCompletionAndEndsGreenAndDisabled) {
  sandbox.WriteFile("cd/setup.exe", "x");
  sandbox.MakeFolder("cd/PCMaster");
  sandbox.MakeFolder("install");
  WriteRecords("\"SetupDir\"=\"" + sandbox.Path("cd") + "/\"\n\"SystemDir\"=\"" +
               sandbox.Path("install/Velmora/System") + "\"\n");
  QtCopyWindow window(procedure);
  const SeenBox seen = PressExecute(window);

  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, QString::fromUtf8(" Velmora"));
  EXPECT_EQ(seen.text,
            QString::fromUtf8("\u3000インストールＣＤからファイルのコピーが終了しました。"));
  EXPECT_EQ(window.buttonColour(), kColourGreen);
  EXPECT_FALSE(window.executeButton()->isEnabled());
  EXPECT_EQ(window.progressLabel()->text(), QString());
}

class ScriptedRunner final : public CopyRunner {
 public:
  void RunCopy() override {
    if (during) during();
    ResultMessage = nextResult;
    runs.fetch_add(1);
  }
  void RequestStop() override {}
  std::function<void()> during;  // on the run's own thread
  std::string nextResult;
  std::atomic<int> runs{0};
};

// Presses the button as an assistive technology does, through its accessible press action: Qt
// animates a click, which activates the button 100 ms later, past any input filter. Whether the
// button offers the action at all.
bool PressThroughAccessibility(QPushButton* button) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
  if (accessible == nullptr || accessible->actionInterface() == nullptr) {
    ADD_FAILURE() << "the button has no accessible actions";
    return false;
  }
  QAccessibleActionInterface* actions = accessible->actionInterface();
  const bool offered = actions->actionNames().contains(QAccessibleActionInterface::pressAction());
  actions->doAction(QAccessibleActionInterface::pressAction());
  return offered;
}

// Answers every message box the window opens, for as long as it lives.
void AnswerEveryBox(QtCopyWindow& window) {
  auto* timer = new QTimer(&window);
  QObject::connect(timer, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      box->button(QMessageBox::Ok)->click();
    }
  });
  timer->start(10);
}

// A key pressed and released as the keyboard delivers it: to the focused widget, or to the
// window when nothing has the focus.
void PressKey(QtCopyWindow& window, int key) {
  QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &window;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
  QApplication::processEvents();
}

void ActivateAndWait(QWidget& window) {
  window.activateWindow();
  for (int i = 0; i < 100 && !window.isActiveWindow(); ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

TEST(QtWindowKeyboardTest, SpaceAndEnterOnTheFocusedButtonRunItAndNothingElseDoes) {
  ScriptedRunner runner;
  runner.nextResult = "x";  // a failure: the button stays enabled for the next key
  QtCopyWindow window(runner);
  window.show();
  ActivateAndWait(window);
  AnswerEveryBox(window);
  ASSERT_EQ(QApplication::focusWidget(), window.executeButton());
  const std::pair<int, int> rows[] = {{Qt::Key_Space, 1},
                                      {Qt::Key_Return, 2},
                                      {Qt::Key_Enter, 3},
                                      {Qt::Key_Escape, 3},
                                      {Qt::Key_Tab, 3}};
  for (const auto& [key, runsAfter] : rows) {
    ActivateAndWait(window);  // as the window manager does once the box has closed
    PressKey(window, key);
    // A run, if one started, has ended and its box has been answered; or nothing happened.
    PumpUntil(
        [&] {
          return runner.runs.load() == runsAfter && !window.controller().runUnderWay() &&
                 QApplication::activeModalWidget() == nullptr;
        },
        std::chrono::seconds(2));
    EXPECT_EQ(runner.runs.load(), runsAfter) << key;
    EXPECT_TRUE(window.isVisible()) << key;
  }
}

TEST(QtWindowKeyboardTest, AnAccessibilityPressRunsTheButton) {
  ScriptedRunner runner;
  QtCopyWindow window(runner);
  window.show();
  AnswerEveryBox(window);
  EXPECT_TRUE(PressThroughAccessibility(window.executeButton()));
  EXPECT_TRUE(PumpUntil([&] { return window.buttonColour() == kColourGreen; }));
  EXPECT_EQ(runner.runs.load(), 1);
}

TEST(QtWindowKeyboardTest, AfterASuccessNoKeyAndNoClickStartsAnything) {
  ScriptedRunner runner;
  QtCopyWindow window(runner);
  window.show();
  ActivateAndWait(window);
  AnswerEveryBox(window);
  window.executeButton()->click();
  ASSERT_TRUE(PumpUntil([&] { return window.buttonColour() == kColourGreen; }));
  ASSERT_EQ(runner.runs.load(), 1);
  for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
    PressKey(window, key);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(window.executeButton(), &press);
  }
  window.executeButton()->click();
  EXPECT_FALSE(PressThroughAccessibility(window.executeButton()));
  PumpUntil([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(runner.runs.load(), 1);
  EXPECT_EQ(window.buttonColour(), kColourGreen);
  EXPECT_FALSE(window.executeButton()->isEnabled());
}

TEST(QtWindowKeyboardTest, TheButtonGetsTheFocusBackWhenTheWindowIsActivatedAgain) {
  ScriptedRunner runner;
  QtCopyWindow window(runner);
  window.show();
  ActivateAndWait(window);
  ASSERT_EQ(QApplication::focusWidget(), window.executeButton());
  QWidget other;
  auto* field = new QLineEdit(&other);
  other.show();
  ActivateAndWait(other);
  field->setFocus();
  ASSERT_NE(QApplication::focusWidget(), window.executeButton());
  window.executeButton()->clearFocus();  // as a click on the window's background would leave it
  ActivateAndWait(window);
  EXPECT_EQ(QApplication::focusWidget(), window.executeButton());
}

// A run on fakes whose file system holds one call until the test lets it go, as a scratched CD
// or a stuck stick holds it: a copy (the run's third file), a listing, or the final flush.
class QtWindowWhileACallBlocksTest : public ::testing::Test, protected testing::FakeCopyRun {
 protected:
  void SetUp() override { testing::LayOutSmallCd(*this); }
};

TEST_F(QtWindowWhileACallBlocksTest, TheWindowAnswersIgnoresInputAndShowsTheFileUnderWay) {
  for (const testing::HeldCall& row : testing::HeldCalls()) {
    testing::HeldRun held(*this, row);
    QtCopyWindow window(held.procedure);
    held.procedure.SetProgressDisplay(window.runProgress());
    window.show();
    SeenBox seen;
    AnswerNextBox(window, seen);
    window.executeButton()->click();
    ASSERT_TRUE(held.gate.WaitUntilReached()) << row.name;

    // The window's thread is free: a posted event is processed within 100 ms, again and again.
    for (int i = 0; i < 10; ++i) {
      QElapsedTimer sent;
      sent.start();
      bool processed = false;
      QMetaObject::invokeMethod(
          &window, [&] { processed = true; }, Qt::QueuedConnection);
      PumpUntil([&] { return processed; }, std::chrono::milliseconds(100));
      EXPECT_TRUE(processed) << row.name;
      EXPECT_LT(sent.elapsed(), 100) << row.name;
    }
    // A close request, a click and a second Execute do nothing; the label shows the file.
    window.close();
    QPushButton* button = window.executeButton();
    const QPoint centre = button->rect().center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, button->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, button->mapToGlobal(centre),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button, &press);
    QApplication::sendEvent(button, &release);
    button->click();  // as a message from another program does it, past the input filter
    EXPECT_TRUE(PressThroughAccessibility(button)) << row.name;
    PumpUntil([] { return false; }, std::chrono::milliseconds(300));  // its click has come
    EXPECT_FALSE(button->isDown()) << row.name;
    PumpUntil([&] { return window.progressLabel()->text() == row.label; },
              std::chrono::milliseconds(100));
    EXPECT_EQ(window.progressLabel()->text().toStdString(), row.label) << row.name;
    EXPECT_TRUE(window.isVisible()) << row.name;
    EXPECT_FALSE(seen.seen) << row.name;
    EXPECT_EQ(window.buttonColour(), kColourYellow) << row.name;

    held.gate.Open();
    ASSERT_TRUE(PumpUntil([&] { return seen.seen; })) << row.name;
    EXPECT_EQ(seen.title, QString::fromUtf8(" Velmora")) << row.name;
    EXPECT_EQ(held.fs.copyCount, 4) << row.name;  // one run only
    // After the run the window takes input again and can be closed.
    PumpUntil([] { return QApplication::activeModalWidget() == nullptr; });
    window.close();
    EXPECT_FALSE(window.isVisible()) << row.name;
  }
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  velmora::RegisterWindowFontSubstitutes();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
