#pragma once

#include "deploy/frontend.h"

// The run's front end on the progress window and its dialogs: texts are sent
// to the window's controls, positions are posted to its bar, and questions
// and messages are modal dialogs that the window owns.
namespace UI {

class WindowFrontend final : public Deploy::Frontend {
 public:
  void ShowStatus(const std::wstring& status) override;
  void ShowProgressStatus(const std::wstring& status) override;
  void ShowTransferText(Deploy::TransferLine line, const std::wstring& text) override;
  void ShowProgress(int position) override;
  void Restore() override;
  void Minimize() override;
  bool Ask(UINT id, const std::wstring& text, const std::wstring& okText,
           const std::wstring& cancelText) override;
  bool ChooseInstallContext(const std::wstring& text, const std::wstring& okText,
                            const std::wstring& cancelText, int& choice) override;
  void ShowError(UINT id, const std::wstring& text) override;
  void ShowNotice(UINT id, const std::wstring& text) override;
  HWND PromptOwner() override;
};

// The one window front end of the process.
WindowFrontend& TheWindowFrontend();

}  // namespace UI
