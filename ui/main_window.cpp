#include "ui/main_window.h"

#include <commctrl.h>

#include "deploy/text.h"
#include "log/log.h"
#include "resources/resource_ids.h"
#include "ui/dialogs.h"
#include "ui/window_frontend.h"

namespace MainWindow {

namespace {

constexpr int kWidth = 375;
constexpr int kCompactHeight = 104;
constexpr int kTallHeight = 169;
constexpr int kLine = 15;
constexpr int kBarHeight = 20;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kMargin = 10;
constexpr int kGap = 5;
// The longest the window waits for a run that checks for long without
// needing it. The window is shown minimized, so nobody sees the wait.
constexpr DWORD kHeadStartMs = 200;

HWND cancelButton = nullptr;
bool controlsFailed = false;  // already told the user; no second message

int Scale(int size, int axis) {
  HDC screen = GetDC(nullptr);
  const int scaled = MulDiv(size, GetDeviceCaps(screen, axis), 96);
  ReleaseDC(nullptr, screen);
  return scaled;
}

// The system's padded border and sizing frame, which the client area loses.
int Border() {
  return GetSystemMetrics(SM_CXPADDEDBORDER) + GetSystemMetrics(SM_CXFRAME);
}

void SetText(HWND control, const wchar_t* text) {
  SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : L""));
}

void SetHeight(int height) {
  SetWindowPos(Deploy::RunWindow().main, nullptr, 0, 0, ScaleX(kWidth), ScaleY(height),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void PlaceCancel(int top) {
  const int width = ScaleX(kButtonWidth);
  MoveWindow(cancelButton, ScaleX(kWidth) - 2 * Border() - width - ScaleX(kMargin), top, width,
             ScaleY(kButtonHeight), TRUE);
}

HFONT Font() {
  static HFONT font = CreateFontW(ScaleY(14), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, FF_SWISS, nullptr);  // kept
  return font;
}

bool CreateControls(HWND window) {
  const int line = ScaleY(kLine), gap = ScaleX(kGap), x = ScaleX(kMargin), y = ScaleY(kMargin);
  const int width = ScaleX(kWidth) - 2 * (Border() + x);
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  auto make = [&](const wchar_t* className, DWORD style, int id, int top, int w, int h, int left) {
    return CreateWindowExW(0, className, L"", style, left, top, w, h, window,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  };
  Deploy::Window& run = Deploy::RunWindow();
  run.main = window;
  run.status = make(L"STATIC", 0x5000C000, -1, y, width, line, x);
  run.component = make(L"STATIC", 0x50008000, -1, y + line + gap, width, line, x);
  const int barTop = y + 2 * (line + gap);
  run.progress = make(PROGRESS_CLASSW, 0x40000000, kProgressId, barTop, width, ScaleY(kBarHeight), x);
  run.size = make(L"STATIC", 0x50000000, -1, barTop + ScaleY(kBarHeight) + gap, width, line, x);
  cancelButton = make(L"BUTTON", 0x50000000, kCancelId, y + ScaleY(kBarHeight) + 3 * line + 4 * gap,
                      ScaleX(kButtonWidth), ScaleY(kButtonHeight), x + width - ScaleX(kButtonWidth));
  if (!run.status || !run.component || !run.progress || !run.size || !cancelButton) return false;
  SetWindowTextW(cancelButton, LoadText(204));
  for (HWND control : {run.status, run.size, cancelButton, run.component}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), TRUE);
  }
  return true;
}

LRESULT OnCreate(HWND window) {
  if (!CreateControls(window)) {
    controlsFailed = true;
    UI::ShowErrorMsgBox(LoadText(236));
    return -1;
  }
  LogLevel = LOG_LEVEL_INFO;
  RECT work{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return 0;
  // Centred for the tall layout, so that it stays on screen when it grows.
  SetWindowPos(window, nullptr, (work.right - ScaleX(kWidth)) / 2, (work.bottom - ScaleY(kTallHeight)) / 2, 0,
               0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return 0;
}

void OnClose(HWND window) {
  UI::DialogInputs inputs;
  inputs.dlgCancelText = LoadText(202);
  inputs.dlgOkText = LoadText(201);
  inputs.dlgText = LoadText(237);
  inputs.dlgQuestionStyle = true;
  ShowWindow(window, SW_RESTORE);
  if (UI::ShowQuestionDialog(inputs) != UI::kOkButton) return;
  ShowStatus(LoadText(238));
  EnableWindow(cancelButton, FALSE);
  Deploy::Quit();
}

}  // namespace

int ScaleX(int size) {
  return Scale(size, LOGPIXELSX);
}
int ScaleY(int size) {
  return Scale(size, LOGPIXELSY);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_DESTROY:
      LogLevel = 0;
      Deploy::RunWindow() = Deploy::Window{};
      UI::DialogOwner().window = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      OnClose(window);  // never destroys the window: the end of the run does
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kCancelId && HIWORD(wParam) == BN_CLICKED) PostMessageW(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_CTLCOLORSTATIC:
      SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 0));
      SetBkColor(reinterpret_cast<HDC>(wParam), RGB(0xFF, 0xFF, 0xFF));
      return reinterpret_cast<LRESULT>(UI::DialogBrush());
    case WM_DEPLOY_DONE: DestroyWindow(window); return 0;
    case WM_SHOW_STATUS:
      if (wParam) {
        ShowProgressStatus(reinterpret_cast<const wchar_t*>(lParam));
      } else {
        ShowStatus(reinterpret_cast<const wchar_t*>(lParam));
      }
      return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

HWND Create(HINSTANCE instance) {
  UI::Owner& owner = UI::DialogOwner();
  owner.largeIcon =
      static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_LAUNCHER), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  owner.smallIcon =
      static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_LAUNCHER), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = owner.largeIcon;
  windowClass.hIconSm = owner.smallIcon;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kClassName;
  HWND window = nullptr;
  if (RegisterClassExW(&windowClass) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
    window = CreateWindowExW(0, kClassName, kTitle, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                             CW_USEDEFAULT, ScaleX(kWidth), ScaleY(kCompactHeight), nullptr, nullptr,
                             instance, nullptr);
  }
  if (!window) {
    if (!controlsFailed) UI::ShowErrorMsgBox(LoadText(233));
    return nullptr;
  }
  owner.window = window;
  return window;
}

int Run(HINSTANCE instance, Deploy::WorkerFunction work) {
  // The run reads the document and checks the machine before the window is
  // made, and waits for it only to show what cannot wait. So its log starts
  // before the window exists, and the window, whose common controls load
  // the theme and the display driver, waits until the run needs it: for a
  // client that is current, that is when the client is started.
  LogLevel = LOG_LEVEL_INFO;
  Deploy::SetFrontend(&UI::TheWindowFrontend());
  const bool started = Deploy::StartBeforeWindow(work);
  if (started) Deploy::GiveHeadStart(kHeadStartMs);
  INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
  InitCommonControlsEx(&controls);
  HWND window = Create(instance);
  if (!window) {
    if (started) Deploy::WindowShown(false);  // stops the run and waits for its end
    return -1;
  }
  ShowWindow(window, SW_SHOWMINIMIZED);
  UpdateWindow(window);
  if (!started) {
    UI::ShowErrorMsgBox(LoadText(234));
    DestroyWindow(window);
    return -1;
  }
  UI::TheWindowFrontend().Open();
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return 0;
    if (got == -1) {
      Deploy::Quit();
      UI::ShowErrorMsgBox(LoadText(235));
      return -1;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void ShowStatus(const wchar_t* status) {
  const Deploy::Window& run = Deploy::RunWindow();
  SetHeight(kCompactHeight);
  SetText(run.status, status);
  PlaceCancel(ScaleY(kLine) + ScaleY(kGap) + ScaleX(kMargin));
  ShowWindow(run.progress, SW_HIDE);
  SetText(run.size, L"");
  SetText(run.component, L"");
}

void ShowProgressStatus(const wchar_t* status) {
  const Deploy::Window& run = Deploy::RunWindow();
  SetHeight(kTallHeight);
  SetText(run.status, status);
  if (Deploy::LastProgressPosition() != 0) {
    Deploy::LastProgressPosition() = 0;
    PostMessageW(run.progress, PBM_SETPOS, 0, 0);
  }
  ShowWindow(run.progress, SW_SHOW);
  PlaceCancel(ScaleY(kBarHeight) + 3 * ScaleY(kLine) + 4 * ScaleY(kGap) + ScaleX(kMargin));
}

}  // namespace MainWindow
