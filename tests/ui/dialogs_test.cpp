#include "ui/dialogs.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "deploy/text.h"
#include "tests/ui/ui_test_support.h"

namespace {

using Testing::DialogDriver;

std::wstring TextOf(HWND window, int id) {
  wchar_t text[512] = L"";
  GetDlgItemTextW(window, id, text, 512);
  return text;
}

std::wstring Caption(HWND window) {
  wchar_t text[256] = L"";
  GetWindowTextW(window, text, 256);
  return text;
}

UI::DialogInputs Question() {
  UI::DialogInputs inputs;
  inputs.dlgText = L"Would you like to install?";
  inputs.dlgOkText = L"Yes";
  inputs.dlgCancelText = L"No";
  return inputs;
}

TEST(QuestionDialog, ShowsItsInputsAndEndsWithTheCommand) {
  const struct {
    UINT message;
    WPARAM wParam;
    INT_PTR expected;
  } cases[] = {
      {WM_COMMAND, 113, 113},
      {WM_COMMAND, 114, 114},
      {WM_COMMAND, IDOK, 1},
      {WM_CLOSE, 0, 0},
  };
  for (const auto& c : cases) {
    std::wstring caption, text, ok, cancel;
    INT_PTR result = -1;
    {
      DialogDriver driver([&](HWND dialog) {
        caption = Caption(dialog);
        text = TextOf(dialog, UI::kQuestionText);
        ok = TextOf(dialog, UI::kOkButton);
        cancel = TextOf(dialog, UI::kCancelButton);
        PostMessageW(dialog, c.message, c.wParam, 0);
      });
      result = UI::ShowQuestionDialog(Question());
    }
    EXPECT_EQ(c.expected, result) << c.message << " " << c.wParam;
    EXPECT_EQ(L"Tessel Launcher", caption);
    EXPECT_EQ(L"Would you like to install?", text);
    EXPECT_EQ(L"Yes", ok);
    EXPECT_EQ(L"No", cancel);
  }
}

TEST(QuestionDialog, EscapeDoesNotCloseIt) {
  bool stillOpen = false;
  INT_PTR result = -1;
  {
    DialogDriver driver([&](HWND dialog) {
      SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);  // what Escape sends
      Sleep(100);
      stillOpen = IsWindow(dialog) && IsWindowVisible(dialog);
      PostMessageW(dialog, WM_COMMAND, 113, 0);
    });
    result = UI::ShowQuestionDialog(Question());
  }
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(113, result);
}

TEST(QuestionDialog, TemplateTextsStayWithoutTheQuestionStyle) {
  UI::DialogInputs inputs = Question();
  inputs.dlgQuestionStyle = false;
  std::wstring text;
  {
    DialogDriver driver(
        [&](HWND dialog) {
          text = TextOf(dialog, UI::kQuestionText);
          PostMessageW(dialog, WM_CLOSE, 0, 0);
        },
        L"Question");
    UI::ShowQuestionDialog(inputs);
  }
  EXPECT_EQ(L"Question Text", text);
}

TEST(InstallContextDialog, PreselectsAndReturnsTheChoice) {
  const struct {
    int preselected;
    int click;  // radio to click first, or 0
    WPARAM command;
    INT_PTR expected;
    int choice;
  } cases[] = {
      {1, 0, 113, 113, 1},
      {2, 0, 113, 113, 2},
      {1, UI::kEveryoneRadio, 113, 113, 2},
      {2, UI::kJustMeRadio, IDOK, 1, 1},
      {1, UI::kEveryoneRadio, 114, 114, 1},  // Cancel leaves the choice as it was
  };
  for (const auto& c : cases) {
    UI::DialogInputs inputs;
    inputs.dlgText = L"This package will install Tessel v11.4.8.18902.";
    inputs.dlgOkText = L"OK";
    inputs.dlgCancelText = L"Cancel";
    inputs.installContextChoice = c.preselected;
    bool everyoneChecked = false, justMeChecked = false;
    std::wstring question, everyone, justMe, first;
    INT_PTR result = -1;
    {
      DialogDriver driver([&](HWND dialog) {
        everyoneChecked = IsDlgButtonChecked(dialog, UI::kEveryoneRadio) == BST_CHECKED;
        justMeChecked = IsDlgButtonChecked(dialog, UI::kJustMeRadio) == BST_CHECKED;
        first = TextOf(dialog, UI::kContextText);
        question = TextOf(dialog, UI::kContextQuestion);
        everyone = TextOf(dialog, UI::kEveryoneRadio);
        justMe = TextOf(dialog, UI::kJustMeRadio);
        if (c.click) SendMessageW(GetDlgItem(dialog, c.click), BM_CLICK, 0, 0);
        PostMessageW(dialog, WM_COMMAND, c.command, 0);
      });
      result = UI::ShowInstallContextDialog(inputs);
    }
    EXPECT_EQ(c.expected, result);
    EXPECT_EQ(c.choice, inputs.installContextChoice);
    EXPECT_EQ(c.preselected == 2, everyoneChecked);
    EXPECT_EQ(c.preselected == 1, justMeChecked);
    EXPECT_EQ(L"This package will install Tessel v11.4.8.18902.", first);
    EXPECT_EQ(LoadText(240), question);
    EXPECT_EQ(L"Everyone (requires Administrator privileges)", everyone);
    EXPECT_EQ(L"Just Me", justMe);
  }
}

// An error's box names the cause, shortened around its middle so that the
// reason at its end stays, and the log, with labels in the user's language.
TEST(ErrorText, AddsTheCauseAndTheLogBelowTheText) {
  const std::wstring text = L"Unable to retrieve required components.";
  const std::wstring log = L"C:\\Users\\John Smith\\AppData\\Local\\Temp\\VantorLauncher.log";
  const std::wstring cause = L"http://mirror/Setup.exe: HTTP status 404";
  const std::wstring longCause = L"http://mirror/" + std::wstring(150, L'a') + L"/Setup.exe: HTTP status 404";
  const struct {
    int offset;
    std::wstring cause;
    std::wstring expected;
  } cases[] = {
      {0, cause, text + L"\n\nDetails: " + cause + L"\nLog: " + log},
      {0, L"", text + L"\n\nLog: " + log},
      {100, cause, text + L"\n\nD\u00e9tails : " + cause + L"\nJournal : " + log},
      {100, L"", text + L"\n\nJournal : " + log},
      {0, longCause, text + L"\n\nDetails: " + longCause.substr(0, 40) + L"..." +
                         longCause.substr(longCause.size() - 77) + L"\nLog: " + log},
  };
  for (const auto& c : cases) {
    languageOffset = c.offset;
    EXPECT_EQ(c.expected, UI::ErrorText(text, c.cause, log));
    languageOffset = 0;
  }
}

TEST(InstallContextDialog, CloseBoxGivesZero) {
  UI::DialogInputs inputs;
  inputs.installContextChoice = 1;
  DialogDriver driver([](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); });
  EXPECT_EQ(0, UI::ShowInstallContextDialog(inputs));
  EXPECT_EQ(1, inputs.installContextChoice);
}

TEST(MessageBox, HasTheCaptionAndAWhiteBackground) {
  std::wstring caption;
  LRESULT brush = 0;
  int result = -1;
  {
    DialogDriver driver([&](HWND box) {
      caption = Caption(box);
      HDC context = GetDC(box);
      brush =
          SendMessageW(box, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(context), reinterpret_cast<LPARAM>(box));
      ReleaseDC(box, context);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    result = UI::ShowMsgBox(L"A notice.", MB_ICONEXCLAMATION | MB_OK);
  }
  EXPECT_EQ(IDOK, result);
  EXPECT_EQ(L"Tessel Launcher", caption);
  EXPECT_EQ(reinterpret_cast<LRESULT>(UI::DialogBrush()), brush);
}

// The cancel question of the main thread and a message box of the worker,
// open at the same time: each keeps its own inputs and hook.
TEST(MessageBox, TwoThreadsCanAskAtTheSameTime) {
  int workerResult = -1;
  std::thread worker([&] { workerResult = UI::ShowMsgBox(L"Worker's notice.", MB_OK); });
  HWND box = nullptr;
  for (int i = 0; i < 500 && !box; ++i) {
    box = FindWindowW(L"#32770", L"Tessel Launcher");
    Sleep(10);
  }
  ASSERT_NE(nullptr, box);
  std::wstring text;
  INT_PTR answer = -1;
  {
    DialogDriver driver([&](HWND) {
      // Two dialogs of that caption are open now; answer ours by its text.
      HWND question = nullptr;
      for (int i = 0; i < 500 && !question; ++i) {
        HWND candidate = nullptr;
        while ((candidate = FindWindowExW(nullptr, candidate, L"#32770", L"Tessel Launcher"))) {
          if (GetDlgItem(candidate, UI::kQuestionText)) question = candidate;
        }
        if (!question) Sleep(10);
      }
      text = TextOf(question, UI::kQuestionText);
      PostMessageW(question, WM_COMMAND, 113, 0);
    });
    answer = UI::ShowQuestionDialog(Question());
  }
  EXPECT_EQ(113, answer);
  EXPECT_EQ(L"Would you like to install?", text);
  HDC context = GetDC(box);
  EXPECT_EQ(
      reinterpret_cast<LRESULT>(UI::DialogBrush()),
      SendMessageW(box, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(context), reinterpret_cast<LPARAM>(box)));
  ReleaseDC(box, context);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  worker.join();
  EXPECT_EQ(IDOK, workerResult);
}

}  // namespace
