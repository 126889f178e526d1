#pragma once

#include <optional>
#include <string>

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
  void ShowError(UINT id, const std::wstring& text, const std::wstring& english) override;
  void ShowNotice(UINT id, const std::wstring& text) override;
  HWND PromptOwner() override;

  // Main thread, once the window of a run that started before it is shown:
  // shows the last status that the run reported meanwhile, then lets the
  // run go on.
  void Open();

 private:
  // Keeps the status for Open while the run waits for its window; true
  // when it was kept.
  bool Keep(const std::wstring& status, bool progressLayout);

  SRWLOCK lock_ = SRWLOCK_INIT;
  std::optional<std::wstring> pendingStatus_;
  bool pendingProgressLayout_ = false;
};

// The one window front end of the process.
WindowFrontend& TheWindowFrontend();

}  // namespace UI
