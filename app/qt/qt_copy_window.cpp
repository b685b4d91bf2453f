#include "app/qt/qt_copy_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "app/copy_window_layout.h"

namespace velmora {
namespace {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont WindowFont() {
  QFont font(QString::fromUtf8(window_texts::kFontFace));
  font.setPointSize(window_texts::kFontPoints);
  font.setWeight(QFont::Normal);
  return font;
}

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
      return true;
    default:
      return false;
  }
}

}  // namespace

void RegisterWindowFontSubstitutes() {
  QFont::insertSubstitutions(QString::fromUtf8(window_texts::kFontFace),
                             {QStringLiteral("IPAGothic"), QString::fromUtf8("IPAゴシック"),
                              QStringLiteral("Noto Sans CJK JP")});
}

QtCopyWindow::QtCopyWindow(CopyRunner& runner)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      controller_(*this, runner) {
  button_ = new QPushButton(QString::fromUtf8(window_texts::kExecute), this);
  button_->setFont(WindowFont());
  button_->setAutoDefault(false);
  instruction_ = new QLabel(this);
  instruction_->setFont(WindowFont());
  instruction_->setAlignment(Qt::AlignCenter);
  progress_ = new QLabel(this);
  progress_->setAlignment(Qt::AlignCenter);
  SetButtonColour(kColourButtonFace);
  connect(button_, &QPushButton::clicked, this, [this] { controller_.OnExecute(); });
  newsTimer_ = new QTimer(this);
  newsTimer_->setSingleShot(true);
  newsTimer_->setTimerType(Qt::PreciseTimer);
  connect(newsTimer_, &QTimer::timeout, this, [this] { controller_.OnRunNews(); });
  qApp->installEventFilter(this);
  LayOut();
  button_->setFocus();
}

QtCopyWindow::~QtCopyWindow() {
  controller_.Shutdown();  // while the window is whole: its worker then posts nothing more to it
  qApp->removeEventFilter(this);
}

void QtCopyWindow::LayOut() {
  setWindowTitle(QString::fromUtf8(window_texts::kCaption));
  instruction_->setText(QString::fromUtf8(window_texts::kInstruction));
  progress_->setText(QString());

  QScreen* screen = QGuiApplication::primaryScreen();
  const int dpi = static_cast<int>(screen->logicalDotsPerInch());
  setFixedSize(TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi));
  // What the toolkit reports now, before the window is first shown.
  const QRect frame = frameGeometry();
  const QRect screenArea = screen->geometry();

  LayoutInputs in;
  in.screenWidth = PixelsToTwips(screenArea.width(), dpi);
  in.screenHeight = PixelsToTwips(screenArea.height(), dpi);
  in.windowWidth = PixelsToTwips(frame.width(), dpi);
  in.windowHeight = PixelsToTwips(frame.height(), dpi);
  in.clientWidth = PixelsToTwips(width(), dpi);
  in.clientHeight = PixelsToTwips(height(), dpi);
  const CopyWindowLayout layout = ComputeCopyWindowLayout(in);

  const auto place = [dpi](QWidget* widget, const TwipsRect& r) {
    widget->setGeometry(TwipsToPixels(r.left, dpi), TwipsToPixels(r.top, dpi),
                        TwipsToPixels(r.width, dpi), TwipsToPixels(r.height, dpi));
  };
  place(button_, layout.button);
  place(instruction_, layout.instruction);
  place(progress_, layout.progress);
  move(screenArea.left() + TwipsToPixels(layout.windowLeft, dpi),
       screenArea.top() + TwipsToPixels(layout.windowTop, dpi));
}

void QtCopyWindow::SetWindowInputEnabled(bool enabled) { inputEnabled_ = enabled; }

void QtCopyWindow::SetButtonColour(uint32_t colour) {
  buttonColour_ = colour;
  QColor face;
  if ((colour & 0x80000000u) != 0) {
    face = palette().color(QPalette::Button);
  } else {
    face = QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
  }
  // A style-sheet background shows on a push button only together with a border.
  button_->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 1px solid "
                                        "#707070; border-radius: 2px; }"
                                        "QPushButton:focus { border: 1px solid #202020; }")
                             .arg(face.name()));
}

void QtCopyWindow::SetButtonEnabled(bool enabled) { button_->setEnabled(enabled); }

void QtCopyWindow::ShowMessageBox(std::string_view text, std::string_view title) {
  QMessageBox box(QMessageBox::NoIcon, ToQString(title), ToQString(text), QMessageBox::Ok, this);
  box.button(QMessageBox::Ok)->setIcon(QIcon());
  box.exec();
}

void QtCopyWindow::SetProgressText(std::string_view text) {
  progress_->setText(ToQString(text));
  // Painted now, not when the loop comes to it: the run's last word shows before its box.
  progress_->repaint();
}

void QtCopyWindow::PostRunNews() {
  // A queued call: posted to the window's thread, never waited for.
  QMetaObject::invokeMethod(
      this, [this] { controller_.OnRunNews(); }, Qt::QueuedConnection);
}

void QtCopyWindow::PostRunNewsAfter(std::chrono::milliseconds delay) { newsTimer_->start(delay); }

bool QtCopyWindow::eventFilter(QObject* watched, QEvent* event) {
  // While a run is under way, input meant for this window is dropped, not postponed.
  if (!inputEnabled_ && IsUserInput(event->type())) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && (widget == this || isAncestorOf(widget))) return true;
    if (watched == static_cast<QObject*>(windowHandle())) return true;
  }
  return QDialog::eventFilter(watched, event);
}

void QtCopyWindow::closeEvent(QCloseEvent* event) {
  if (!inputEnabled_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void QtCopyWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      // Escape does not close this window: only its close box does.
      event->ignore();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Enter on the focused button activates it, as Space does; the dialog's default-button
      // path is never taken, so Enter anywhere else starts nothing.
      if (button_->hasFocus() && button_->isEnabled() && !event->isAutoRepeat()) {
        button_->click();
      }
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

}  // namespace velmora
