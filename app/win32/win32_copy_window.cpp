#include "app/win32/win32_copy_window.h"

#include <mmsystem.h>
#include <uxtheme.h>
#include <vssym32.h>

#include <algorithm>

#include "app/copy_window_layout.h"
#include "app/exit_codes.h"
#include "platform/win32/win32_text.h"

namespace velmora {
namespace {

constexpr wchar_t kClassName[] = L"VelmoraCopyWindow";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;  // fixed single, close box only
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;                    // no icon in the title bar

COLORREF ToColorRef(uint32_t colour) {
  if ((colour & 0x80000000u) != 0) return GetSysColor(static_cast<int>(colour & 0xFF));
  return static_cast<COLORREF>(colour & 0xFFFFFF);  // red in the low byte, as COLORREF has it
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

HWND CreateChild(HWND parent, const wchar_t* className, DWORD style, int id) {
  return CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

// The visual style's push-button edge, where the system has visual styles and they are on (XP
// and later); the functions are looked up at run time, so the program loads where they are absent.
class ButtonTheme {
 public:
  explicit ButtonTheme(HWND button) {
    const Functions& f = Load();
    if (f.openThemeData != nullptr && f.isAppThemed()) theme_ = f.openThemeData(button, L"BUTTON");
  }
  ~ButtonTheme() {
    if (theme_ != nullptr) Load().closeThemeData(theme_);
  }
  ButtonTheme(const ButtonTheme&) = delete;
  ButtonTheme& operator=(const ButtonTheme&) = delete;

  // Draws the themed edge over `face` and narrows `face` to the part inside it; false, with
  // nothing drawn, when there is no theme.
  bool DrawEdge(HDC dc, int state, RECT& face) const {
    if (theme_ == nullptr) return false;
    const Functions& f = Load();
    f.drawThemeBackground(theme_, dc, BP_PUSHBUTTON, state, &face, nullptr);
    RECT content = face;
    f.getThemeBackgroundContentRect(theme_, dc, BP_PUSHBUTTON, state, &face, &content);
    face = content;
    return true;
  }

 private:
  struct Functions {
    BOOL(WINAPI* isAppThemed)() = nullptr;
    HTHEME(WINAPI* openThemeData)(HWND, LPCWSTR) = nullptr;
    HRESULT(WINAPI* closeThemeData)(HTHEME) = nullptr;
    HRESULT(WINAPI* drawThemeBackground)(HTHEME, HDC, int, int, const RECT*, const RECT*) = nullptr;
    HRESULT(WINAPI* getThemeBackgroundContentRect)
    (HTHEME, HDC, int, int, const RECT*, RECT*) = nullptr;
  };
  template <typename T>
  static void Find(HMODULE library, const char* name, T& function) {
    // Through the generic function type, which every function pointer converts to and from.
    function = reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
  }
  static const Functions& Load() {
    static const Functions functions = [] {
      Functions f;
      HMODULE library = LoadLibraryW(L"uxtheme.dll");
      if (library == nullptr) return f;
      Find(library, "IsAppThemed", f.isAppThemed);
      Find(library, "OpenThemeData", f.openThemeData);
      Find(library, "CloseThemeData", f.closeThemeData);
      Find(library, "DrawThemeBackground", f.drawThemeBackground);
      Find(library, "GetThemeBackgroundContentRect", f.getThemeBackgroundContentRect);
      if (f.isAppThemed == nullptr || f.closeThemeData == nullptr ||
          f.drawThemeBackground == nullptr || f.getThemeBackgroundContentRect == nullptr) {
        f.openThemeData = nullptr;  // all or nothing
      }
      return f;
    }();
    return functions;
  }

  HTHEME theme_ = nullptr;
};

// Posted by the run's worker when it has something to say.
constexpr UINT kRunNewsMessage = WM_APP + 1;
constexpr UINT_PTR kRunNewsTimer = 1;

void Place(HWND control, const TwipsRect& r, int dpi) {
  MoveWindow(control, TwipsToPixels(r.left, dpi), TwipsToPixels(r.top, dpi),
             TwipsToPixels(r.width, dpi), TwipsToPixels(r.height, dpi), TRUE);
}

}  // namespace

Win32CopyWindow::Win32CopyWindow(CopyRunner& runner) : controller_(*this, runner) {}

Win32CopyWindow::~Win32CopyWindow() {
  controller_.Shutdown();  // before the window goes, so the worker never posts to a destroyed one
  if (window_ != nullptr) DestroyWindow(window_);
  if (namedFont_ != nullptr) DeleteObject(namedFont_);
  if (defaultFont_ != nullptr) DeleteObject(defaultFont_);
}

bool Win32CopyWindow::Create() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Win32CopyWindow::WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);  // fails harmlessly when already registered

  window_ = CreateWindowExW(kExStyle, kClassName, L"", kStyle, CW_USEDEFAULT, CW_USEDEFAULT, 100,
                            100, nullptr, nullptr, instance, this);
  if (window_ == nullptr) return false;

  button_ = CreateChild(window_, L"BUTTON", BS_OWNERDRAW | WS_TABSTOP, kExecuteButtonId);
  SetWindowLongPtrW(button_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  buttonClassProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(button_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ButtonProc)));
  instruction_ = CreateChild(window_, L"STATIC", SS_CENTER, 2);
  progress_ = CreateChild(window_, L"STATIC", SS_CENTER, 3);

  dpi_ = ScreenDpi();
  namedFont_ = CreateFontW(-MulDiv(window_texts::kFontPoints, dpi_, 72), 0, 0, 0, FW_NORMAL, FALSE,
                           FALSE, FALSE, window_texts::kFontCharset, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                           Utf8ToWide(window_texts::kFontFace).c_str());
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    defaultFont_ = CreateFontIndirectW(&metrics.lfMessageFont);
  }
  SendMessageW(button_, WM_SETFONT, reinterpret_cast<WPARAM>(namedFont_), FALSE);
  SendMessageW(instruction_, WM_SETFONT, reinterpret_cast<WPARAM>(namedFont_), FALSE);
  SendMessageW(progress_, WM_SETFONT,
               reinterpret_cast<WPARAM>(defaultFont_ != nullptr ? defaultFont_
                                                                : GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);
  SetWindowTextW(button_, Utf8ToWide(window_texts::kExecute).c_str());
  LayOut();
  return true;
}

void Win32CopyWindow::LayOut() {
  SetWindowTextW(window_, Utf8ToWide(window_texts::kCaption).c_str());
  SetWindowTextW(instruction_, Utf8ToWide(window_texts::kInstruction).c_str());
  SetWindowTextW(progress_, L"");

  const int dpi = dpi_;
  RECT outer{0, 0, TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi)};
  AdjustWindowRectEx(&outer, kStyle, FALSE, kExStyle);
  const int outerWidth = outer.right - outer.left;
  const int outerHeight = outer.bottom - outer.top;
  SetWindowPos(window_, nullptr, 0, 0, outerWidth, outerHeight, SWP_NOMOVE | SWP_NOZORDER);
  RECT client{};
  GetClientRect(window_, &client);

  LayoutInputs in;
  in.screenWidth = PixelsToTwips(GetSystemMetrics(SM_CXSCREEN), dpi);
  in.screenHeight = PixelsToTwips(GetSystemMetrics(SM_CYSCREEN), dpi);
  in.windowWidth = PixelsToTwips(outerWidth, dpi);
  in.windowHeight = PixelsToTwips(outerHeight, dpi);
  in.clientWidth = PixelsToTwips(client.right, dpi);
  in.clientHeight = PixelsToTwips(client.bottom, dpi);
  const CopyWindowLayout layout = ComputeCopyWindowLayout(in);

  SetWindowPos(window_, nullptr, TwipsToPixels(layout.windowLeft, dpi),
               TwipsToPixels(layout.windowTop, dpi), 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Place(button_, layout.button, dpi);
  Place(instruction_, layout.instruction, dpi);
  Place(progress_, layout.progress, dpi);
}

void Win32CopyWindow::ShowModal() {
  if (window_ == nullptr && !Create()) return;
  ShowWindow(window_, SW_SHOW);
  SetFocus(button_);
  // No dialog manager: its Enter and Escape would reach the window as IDOK and IDCANCEL clicks.
  // The one control needs no Tab navigation, and the button takes Space and Enter itself.
  MSG message;
  while (window_ != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void Win32CopyWindow::SetWindowInputEnabled(bool enabled) {
  running_ = !enabled;
  EnableWindow(window_, enabled ? TRUE : FALSE);
  if (enabled && GetActiveWindow() == window_) FocusButton();
}

void Win32CopyWindow::FocusButton() {
  if (IsWindowEnabled(button_)) SetFocus(button_);
}

void Win32CopyWindow::SetButtonColour(uint32_t colour) {
  buttonColour_ = colour;
  if (button_ != nullptr) InvalidateRect(button_, nullptr, TRUE);
}

void Win32CopyWindow::SetButtonEnabled(bool enabled) {
  EnableWindow(button_, enabled ? TRUE : FALSE);
}

void Win32CopyWindow::ShowMessageBox(std::string_view text, std::string_view title) {
  MessageBoxW(window_, Utf8ToWide(text).c_str(), Utf8ToWide(title).c_str(), MB_OK);
}

void Win32CopyWindow::SetProgressText(std::string_view text) {
  SetWindowTextW(progress_, Utf8ToWide(text).c_str());
  // Painted now, not when the queue comes to it: the run's last word shows before its box.
  UpdateWindow(progress_);
}

void Win32CopyWindow::PostRunNews() {
  // Posted, never sent: the run never waits on this thread.
  PostMessageW(window_, kRunNewsMessage, 0, 0);
}

void Win32CopyWindow::PostRunNewsAfter(std::chrono::milliseconds delay) {
  SetTimer(window_, kRunNewsTimer, static_cast<UINT>(std::max<int64_t>(delay.count(), 1)), nullptr);
}

void Win32CopyWindow::SetRunUnderWay(bool underWay) {
  // The system's timer ticks every 15.6 ms unless asked for more: the label's timer, due within
  // 16 ms of a change, would slip to the next tick but one. Asked for 1 ms while a run is shown.
  if (underWay) {
    timeBeginPeriod(1);
  } else {
    timeEndPeriod(1);
  }
  // Vista and later show the reason when the user ends the session during a run; XP has no
  // such call, and the answer to WM_QUERYENDSESSION alone holds the session there.
  if (underWay && sessionEnd_.createBlockReason) {
    blockingSessionEnd_ = sessionEnd_.createBlockReason(
        window_, Utf8ToWide(window_texts::kCopyUnderWayReason).c_str());
  } else if (!underWay && blockingSessionEnd_) {
    sessionEnd_.destroyBlockReason(window_);
    blockingSessionEnd_ = false;
  }
}

void Win32CopyWindow::EndSession() {
  // The session ends although a run is under way: the run stops at its next chunk, its partial
  // copy goes, its record stays for the next run to complete it, and the program ends in time.
  if (!controller_.runUnderWay()) return;
  // The code of the run's outcome: stopped, or what it came to if it ended before the stop.
  const bool ended = controller_.StopRunAndWait(kSessionEndWait);
  if (!ended) controller_.GiveUpRun();
  sessionEnd_.endProgram(ended ? ExitCodeFor(controller_.lastOutcome()) : kExitStopped);
}

void Win32CopyWindow::DrawButton(const DRAWITEMSTRUCT& item) const {
  HDC dc = item.hDC;
  RECT face = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  // The face is drawn in the button's colour inside the system's own edge.
  const ButtonTheme theme(item.hwndItem);
  const int state = disabled ? PBS_DISABLED : pressed ? PBS_PRESSED : PBS_NORMAL;
  const bool themed = theme.DrawEdge(dc, state, face);
  HBRUSH brush = CreateSolidBrush(ToColorRef(buttonColour_));
  FillRect(dc, &face, brush);
  DeleteObject(brush);
  if (!themed) DrawEdge(dc, &face, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);

  wchar_t caption[32] = {};
  GetWindowTextW(item.hwndItem, caption, 32);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  RECT text = item.rcItem;
  if (pressed) OffsetRect(&text, 1, 1);
  DrawTextW(dc, caption, -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT focus = item.rcItem;
    const int inset = MulDiv(4, dpi_, 96);
    InflateRect(&focus, -inset, -inset);
    DrawFocusRect(dc, &focus);
  }
}

LRESULT CALLBACK Win32CopyWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* creating = static_cast<Win32CopyWindow*>(create->lpCreateParams);
    creating->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creating));
  }
  auto* self = reinterpret_cast<Win32CopyWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT CALLBACK Win32CopyWindow::ButtonProc(HWND button, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  auto* self = reinterpret_cast<Win32CopyWindow*>(GetWindowLongPtrW(button, GWLP_USERDATA));
  // Enter on the focused button activates it, as Space does; a held key does not repeat it.
  const bool firstPress = (lParam & (1L << 30)) == 0;
  if (message == WM_KEYDOWN && wParam == VK_RETURN && firstPress && IsWindowEnabled(button)) {
    SendMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(kExecuteButtonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    return 0;
  }
  return CallWindowProcW(self->buttonClassProc_, button, message, wParam, lParam);
}

LRESULT Win32CopyWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      // Only a click of the enabled button, from the button itself, starts a run.
      if (LOWORD(wParam) == kExecuteButtonId && HIWORD(wParam) == BN_CLICKED &&
          reinterpret_cast<HWND>(lParam) == button_ && IsWindowEnabled(button_) && !running_) {
        controller_.OnExecute();
      }
      return 0;
    case WM_ACTIVATE:
      // The button holds the keyboard focus whenever the window is active.
      if (LOWORD(wParam) != WA_INACTIVE) {
        FocusButton();
        return 0;
      }
      break;
    case WM_SETFOCUS:
      FocusButton();
      return 0;
    case WM_DRAWITEM:
      if (wParam == kExecuteButtonId) {
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
      }
      break;
    case kRunNewsMessage:
      controller_.OnRunNews();
      return 0;
    case WM_TIMER:
      if (wParam == kRunNewsTimer) {
        KillTimer(window_, kRunNewsTimer);
        controller_.OnRunNews();
        return 0;
      }
      break;
    case WM_QUERYENDSESSION:
      return controller_.runUnderWay() ? FALSE : TRUE;
    case WM_ENDSESSION:
      if (wParam != FALSE) EndSession();
      return 0;
    case WM_CLOSE:
      // Other programs can still send a disabled window WM_CLOSE: not while a run is under way.
      if (!running_) DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      window_ = nullptr;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace velmora
