#include "ui/dialogs.h"

#include "system/module.h"
#include "deploy/text.h"
#include "system/scope_exit.h"

namespace UI {

namespace {

constexpr wchar_t kCaption[] = L"Tessel Launcher";
constexpr wchar_t kSavedProcProperty[] = L"TesselMsgBoxProc";
constexpr UINT kDialogClassAtom = 32770;

struct HookState {
  HHOOK hook = nullptr;
  HWND box = nullptr;
  bool subclassed = false;
};
HookState& ThreadHook() {
  thread_local HookState state;
  return state;
}

HINSTANCE Module() {
  return System::ModuleInstance();
}

void SetIcons(HWND window) {
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(DialogOwner().largeIcon));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(DialogOwner().smallIcon));
}

INT_PTR Colour(HDC context) {
  SetTextColor(context, RGB(0, 0, 0));
  SetBkColor(context, RGB(0xFF, 0xFF, 0xFF));
  return reinterpret_cast<INT_PTR>(DialogBrush());
}

}  // namespace

Owner& DialogOwner() {
  static Owner owner;
  return owner;
}

HBRUSH DialogBrush() {
  static HBRUSH brush = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));  // kept until the process ends
  return brush;
}

INT_PTR CALLBACK QuestionDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetIcons(dialog);
      const auto* inputs = reinterpret_cast<const DialogInputs*>(lParam);
      if (inputs && inputs->dlgQuestionStyle) {
        SetWindowTextW(dialog, kCaption);
        SetDlgItemTextW(dialog, kQuestionText, inputs->dlgText.c_str());
        SetDlgItemTextW(dialog, kOkButton, inputs->dlgOkText.c_str());
        SetDlgItemTextW(dialog, kCancelButton, inputs->dlgCancelText.c_str());
      }
      return FALSE;  // no initial focus; Enter still presses the default button
    }
    case WM_COMMAND:
      // Escape (IDCANCEL) is not among them, so it does not close the dialog.
      if (wParam == IDOK || wParam == kOkButton || wParam == kCancelButton) {
        EndDialog(dialog, static_cast<INT_PTR>(wParam));
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE: EndDialog(dialog, 0); return TRUE;
    case WM_CTLCOLORSTATIC: return Colour(reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORDLG: return reinterpret_cast<INT_PTR>(DialogBrush());
    default: return FALSE;
  }
}

INT_PTR CALLBACK InstallContextDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* inputs = reinterpret_cast<DialogInputs*>(lParam);
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    SetIcons(dialog);
    SetWindowTextW(dialog, kCaption);
    SetDlgItemTextW(dialog, kContextText, inputs->dlgText.c_str());
    SetDlgItemTextW(dialog, kContextQuestion, LoadText(240));
    SetDlgItemTextW(dialog, kEveryoneRadio, LoadText(241));
    SetDlgItemTextW(dialog, kJustMeRadio, LoadText(242));
    SetDlgItemTextW(dialog, kOkButton, inputs->dlgOkText.c_str());
    SetDlgItemTextW(dialog, kCancelButton, inputs->dlgCancelText.c_str());
    CheckRadioButton(dialog, kJustMeRadio, kEveryoneRadio,
                     inputs->installContextChoice == 2 ? kEveryoneRadio : kJustMeRadio);
    return FALSE;
  }
  if (message == WM_COMMAND && (wParam == IDOK || wParam == kOkButton)) {
    auto* inputs = reinterpret_cast<DialogInputs*>(GetWindowLongPtrW(dialog, DWLP_USER));
    inputs->installContextChoice = IsDlgButtonChecked(dialog, kEveryoneRadio) == BST_CHECKED ? 2 : 1;
    EndDialog(dialog, static_cast<INT_PTR>(wParam));
    return TRUE;
  }
  if (message == WM_COMMAND && wParam == kCancelButton) {
    EndDialog(dialog, kCancelButton);
    return TRUE;
  }
  return QuestionDlgProc(dialog, message, wParam, lParam);
}

INT_PTR ShowQuestionDialog(const DialogInputs& inputs) {
  return DialogBoxParamW(Module(), MAKEINTRESOURCEW(kQuestionDialog), DialogOwner().window, QuestionDlgProc,
                         reinterpret_cast<LPARAM>(&inputs));
}

INT_PTR ShowInstallContextDialog(DialogInputs& inputs) {
  return DialogBoxParamW(Module(), MAKEINTRESOURCEW(kInstallContextDialog), DialogOwner().window,
                         InstallContextDlgProc, reinterpret_cast<LPARAM>(&inputs));
}

LRESULT CALLBACK MsgBoxHookProc(int code, WPARAM wParam, LPARAM lParam) {
  HookState& state = ThreadHook();
  if (code < 0) return CallNextHookEx(state.hook, code, wParam, lParam);
  if (code == HCBT_CREATEWND) {
    const auto* create = reinterpret_cast<const CBT_CREATEWNDW*>(lParam);
    const auto window = reinterpret_cast<HWND>(wParam);
    if (create->lpcs->lpszClass == MAKEINTATOM(kDialogClassAtom)) {
      state.box = window;
    } else if (!state.subclassed && state.box) {
      // The first control: the box exists and has not had WM_INITDIALOG yet.
      const auto previous =
          SetWindowLongPtrW(state.box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MsgBoxSubclassProc));
      SetPropW(state.box, kSavedProcProperty, reinterpret_cast<HANDLE>(previous));
      state.subclassed = true;
    }
  } else if (code == HCBT_DESTROYWND && reinterpret_cast<HWND>(wParam) == state.box && state.subclassed) {
    SetWindowLongPtrW(state.box, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(GetPropW(state.box, kSavedProcProperty)));
    RemovePropW(state.box, kSavedProcProperty);
  }
  return 0;
}

LRESULT CALLBACK MsgBoxSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto previous = reinterpret_cast<WNDPROC>(GetPropW(window, kSavedProcProperty));
  switch (message) {
    case WM_INITDIALOG: SetIcons(window); break;
    case WM_CTLCOLORSTATIC: return Colour(reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORDLG: return reinterpret_cast<LRESULT>(DialogBrush());
  }
  return previous ? CallWindowProcW(previous, window, message, wParam, lParam)
                  : DefWindowProcW(window, message, wParam, lParam);
}

int ShowMsgBox(const wchar_t* text, UINT style) {
  HookState& state = ThreadHook();
  const HookState outer = state;  // a message box shown from inside another one keeps the outer's state
  state = HookState{};
  state.hook = SetWindowsHookExW(WH_CBT, MsgBoxHookProc, Module(), GetCurrentThreadId());
  ScopeExit unhook([&] {
    if (state.hook) UnhookWindowsHookEx(state.hook);
    state = outer;
  });
  return MessageBoxW(DialogOwner().window, text, kCaption, style);
}

std::wstring ErrorText(const std::wstring& text, const std::wstring& cause, const std::wstring& logPath) {
  constexpr UINT kDetailsLabel = 243, kLogLabel = 244;
  constexpr size_t kCauseStart = 40;
  if (cause.empty() && logPath.empty()) return text;
  std::wstring whole = text + L"\n";
  if (!cause.empty()) {
    ((whole += L"\n") += LoadText(kDetailsLabel)) += L' ';
    if (cause.size() <= kCauseChars) {
      whole += cause;
    } else {
      ((whole += cause.substr(0, kCauseStart)) += L"...") += cause.substr(cause.size() - (kCauseChars - kCauseStart - 3));
    }
  }
  if (!logPath.empty()) (((whole += L"\n") += LoadText(kLogLabel)) += L' ') += logPath;
  return whole;
}

void ShowErrorMsgBox(const wchar_t* text) {
  if (DialogOwner().window) ShowWindow(DialogOwner().window, SW_RESTORE);
  ShowMsgBox(text, MB_ICONERROR | MB_OK);
}

}  // namespace UI
