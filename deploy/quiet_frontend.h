#pragma once

#include "deploy/frontend.h"

// The front end of an unattended run: it shows nothing and asks nothing.
// Each error or notice that a window would show becomes one log line,
// "Deploy::Run - <id>: <the English text>", errors at the error level and
// notices at the warning level; every question is answered with No.
namespace Deploy {

class QuietFrontend final : public Frontend {
 public:
  void ShowStatus(const std::wstring&) override {}
  void ShowProgressStatus(const std::wstring&) override {}
  void ShowTransferText(TransferLine, const std::wstring&) override {}
  void ShowProgress(int) override {}
  void Restore() override {}
  void Minimize() override {}
  bool Ask(UINT, const std::wstring&, const std::wstring&, const std::wstring&) override { return false; }
  bool ChooseInstallContext(const std::wstring&, const std::wstring&, const std::wstring&, int&) override {
    return false;
  }
  void ShowError(UINT id, const std::wstring& text, const std::wstring& english) override;
  void ShowNotice(UINT id, const std::wstring& text) override;
  HWND PromptOwner() override { return nullptr; }
};

// Whether this run is to be quiet: the command line's "/quiet" or
// "/quiet=value", else the "quiet" attribute of the embedded document's
// Flags, by the boolean text rule; false when neither gives it. Logs nothing.
bool QuietRequested();

}  // namespace Deploy
