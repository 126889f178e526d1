#pragma once

#include <windows.h>

#include <string>

// How the run talks to the person at the screen: what it shows, and what it
// asks. The run never reaches a window or a dialog itself; the window-based
// front end lives in ui/, and one that shows nothing serves unattended runs.
// Every call comes from the worker thread.
namespace Deploy {

// The three lines of a transfer.
enum class TransferLine { Status, Component, Size };

class Frontend {
 public:
  virtual ~Frontend() = default;

  // The compact layout with a status line, for checking, copying and launching.
  virtual void ShowStatus(const std::wstring& status) = 0;
  // The tall layout with the progress bar, for retrieving components.
  virtual void ShowProgressStatus(const std::wstring& status) = 0;
  // One line of the transfer's texts.
  virtual void ShowTransferText(TransferLine line, const std::wstring& text) = 0;
  // The progress bar's position, 0 to 100.
  virtual void ShowProgress(int position) = 0;
  virtual void Restore() = 0;
  virtual void Minimize() = 0;

  // Question `id` with its text and the texts of its two buttons; true when
  // the first was chosen.
  virtual bool Ask(UINT id, const std::wstring& text, const std::wstring& okText,
                   const std::wstring& cancelText) = 0;
  // The install-context question: true when accepted, with the choice
  // (1 "Just Me", 2 "Everyone") in `choice`, which comes in preselected.
  virtual bool ChooseInstallContext(const std::wstring& text, const std::wstring& okText,
                                    const std::wstring& cancelText, int& choice) = 0;
  // Error `id`, with its text, and the same in English where it holds more
  // than the product's name (empty: the frontend makes it from `id`).
  virtual void ShowError(UINT id, const std::wstring& text, const std::wstring& english = {}) = 0;
  // Notice `id`, with its text.
  virtual void ShowNotice(UINT id, const std::wstring& text) = 0;

  // The window that owns a download's authentication prompt; null for none.
  virtual HWND PromptOwner() = 0;
};

// The front end of the run: the one set last, else the quiet one
// (deploy/quiet_frontend.h).
Frontend& CurrentFrontend();

// Sets the front end; null goes back to the quiet one. The
// caller keeps it alive for as long as it is set.
void SetFrontend(Frontend* frontend);

}  // namespace Deploy
