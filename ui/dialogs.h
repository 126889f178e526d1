#pragma once

#include <windows.h>

#include <string>

// The two modal dialogs and the message boxes. All are owned by the main
// window, carry the caption "Tessel Launcher" and the program's icons, and
// draw black text on white.
namespace UI {

// What a dialog shows, and for the install-context dialog what the user
// chose. Each dialog keeps its own copy for as long as it is open, so the
// main thread's cancel question and a dialog of the worker never meet.
struct DialogInputs {
  std::wstring dlgText;          // the question, or the first line of the context dialog
  std::wstring dlgOkText;        // button 113
  std::wstring dlgCancelText;    // button 114
  bool dlgQuestionStyle = true;  // the question dialog fills its texts only when set
  int installContextChoice = 2;  // in: preselected; out: 1 "Just Me", 2 "Everyone"
};

// The control ids of the dialogs.
inline constexpr int kQuestionDialog = 112;
inline constexpr int kInstallContextDialog = 116;
inline constexpr int kOkButton = 113;
inline constexpr int kCancelButton = 114;
inline constexpr int kQuestionText = 115;
inline constexpr int kJustMeRadio = 1001;
inline constexpr int kEveryoneRadio = 1002;
inline constexpr int kContextText = 1003;
inline constexpr int kContextQuestion = 116;

// The owner of every dialog and message box, and the icons they show.
struct Owner {
  HWND window = nullptr;
  HICON largeIcon = nullptr;
  HICON smallIcon = nullptr;
};
Owner& DialogOwner();

// Runs the "Question Dialog" modally. Returns 113 (button 113 or Enter), 114
// (button 114), 1 (a command IDOK), or 0 (the close box); Escape does nothing.
INT_PTR ShowQuestionDialog(const DialogInputs& inputs);

// Runs the "Install Context Dialog" modally, with the same results. On 113 or
// 1 it has stored the choice in `inputs.installContextChoice`.
INT_PTR ShowInstallContextDialog(DialogInputs& inputs);

INT_PTR CALLBACK QuestionDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK InstallContextDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows a message box with the caller's style; returns its result.
int ShowMsgBox(const wchar_t* text, UINT style);

// Restores the main window, then shows the text with the error icon.
void ShowErrorMsgBox(const wchar_t* text);

// An error's text followed, after a blank line, by "Details: <cause>" and
// "Log: <log path>", the labels in the user's language; each only when
// given. A cause longer than kCauseChars keeps its start and its end, which
// says why, around "...".
std::wstring ErrorText(const std::wstring& text, const std::wstring& cause, const std::wstring& logPath);
inline constexpr size_t kCauseChars = 120;

// The hook and the subclass that give message boxes their icons and colours.
// The hook's state belongs to the calling thread, so both threads can show a
// message box at the same time.
LRESULT CALLBACK MsgBoxHookProc(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK MsgBoxSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The white brush of dialogs and message boxes, made on first use.
HBRUSH DialogBrush();

}  // namespace UI
