// Every text of every language fits where it is shown, measured with the
// font of the dialog or window that shows it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "deploy/text.h"
#include "tests/support/test_support.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace {

const struct {
  const char* name;
  int offset;
} kLanguages[] = {{"en", 0},   {"fr", 100}, {"zh", 200}, {"es", 300},    {"ja", 400},  {"de", 500},
                  {"ko", 600}, {"ru", 700}, {"pt", 800}, {"pt_BR", 900}, {"sv", 1000}, {"it", 1100}};

std::wstring Formatted(int offset, UINT id) {
  languageOffset = offset;
  std::wstring text;
  FormatText(text, LoadText(id), L"Tessel", L"11.4.8.18902");
  languageOffset = 0;
  return text;
}

// The height that the text takes, wrapped to `width`, in the window's font;
// `lines` is set to the number of lines.
SIZE Measure(HWND window, const std::wstring& text, int width, bool wrap) {
  HDC context = GetDC(window);
  HGDIOBJ old = SelectObject(context, reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)));
  RECT rect{0, 0, width, 0};
  DrawTextW(context, text.c_str(), -1, &rect,
            DT_CALCRECT | (wrap ? DT_WORDBREAK : DT_SINGLELINE) | DT_NOPREFIX);
  SelectObject(context, old);
  ReleaseDC(window, context);
  return {rect.right, rect.bottom};
}

SIZE ControlSize(HWND dialog, int id) {
  RECT rect{};
  GetClientRect(GetDlgItem(dialog, id), &rect);
  return {rect.right, rect.bottom};
}

INT_PTR CALLBACK Plain(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

struct Target {
  UINT id;
  int control;
  bool wrap;
  int reserve;  // pixels the control keeps for itself: a check box, a button's edge
};

void ExpectFits(HWND dialog, const Target& target) {
  const SIZE room = ControlSize(dialog, target.control);
  for (const auto& language : kLanguages) {
    const std::wstring text = Formatted(language.offset, target.id);
    const SIZE needed =
        Measure(GetDlgItem(dialog, target.control), text, room.cx - target.reserve, target.wrap);
    EXPECT_LE(needed.cx, room.cx - target.reserve)
        << language.name << " text " << language.offset + target.id;
    EXPECT_LE(needed.cy, room.cy) << language.name << " text " << language.offset + target.id << " wraps to "
                                  << needed.cy << " pixels, the control has " << room.cy;
  }
}

TEST(TextFit, QuestionDialog) {
  HWND dialog =
      CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(UI::kQuestionDialog), nullptr, Plain, 0);
  ASSERT_NE(nullptr, dialog);
  for (const Target& target :
       {Target{208, UI::kQuestionText, true, 0}, Target{210, UI::kQuestionText, true, 0},
        Target{216, UI::kQuestionText, true, 0}, Target{237, UI::kQuestionText, true, 0},
        Target{201, UI::kOkButton, false, 6}, Target{202, UI::kCancelButton, false, 6}}) {
    ExpectFits(dialog, target);
  }
  DestroyWindow(dialog);
}

TEST(TextFit, InstallContextDialog) {
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(UI::kInstallContextDialog),
                                   nullptr, Plain, 0);
  ASSERT_NE(nullptr, dialog);
  for (const Target& target :
       {Target{209, UI::kContextText, false, 0}, Target{240, UI::kContextQuestion, true, 0},
        Target{241, UI::kEveryoneRadio, false, 16}, Target{242, UI::kJustMeRadio, false, 16},
        Target{203, UI::kOkButton, false, 6}, Target{204, UI::kCancelButton, false, 6}}) {
    ExpectFits(dialog, target);
  }
  DestroyWindow(dialog);
}

TEST(TextFit, MainWindowStatusLines) {
  HWND window = MainWindow::Create(GetModuleHandleW(nullptr));
  ASSERT_NE(nullptr, window);
  HWND status = FindWindowExW(window, nullptr, L"STATIC", nullptr);
  RECT rect{};
  GetClientRect(status, &rect);
  for (UINT id : {205u, 211u, 214u, 220u, 222u, 224u, 228u, 238u}) {
    for (const auto& language : kLanguages) {
      const SIZE needed = Measure(status, Formatted(language.offset, id), rect.right, false);
      EXPECT_LE(needed.cx, rect.right) << language.name << " text " << language.offset + id;
    }
  }
  for (UINT id : {230u, 231u}) {
    for (const auto& language : kLanguages) {
      languageOffset = language.offset;
      std::wstring text;
      FormatTextN(text, 256, LoadText(id), 10u, 10u);
      languageOffset = 0;
      EXPECT_LE(Measure(status, text, rect.right, false).cx, rect.right)
          << language.name << " text " << language.offset + id;
    }
  }
  HWND cancel = GetDlgItem(window, MainWindow::kCancelId);
  RECT button{};
  GetClientRect(cancel, &button);
  for (const auto& language : kLanguages) {
    EXPECT_LE(Measure(cancel, Formatted(language.offset, 204), button.right, false).cx, button.right - 6)
        << language.name;
  }
  DestroyWindow(window);
}

}  // namespace
