#include "deploy/frontend.h"

namespace Deploy {

namespace {

class NoFrontend final : public Frontend {
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
  void ShowError(UINT, const std::wstring&) override {}
  void ShowNotice(UINT, const std::wstring&) override {}
  HWND PromptOwner() override { return nullptr; }
};

NoFrontend noFrontend;
Frontend* currentFrontend = &noFrontend;

}  // namespace

Frontend& CurrentFrontend() {
  return *currentFrontend;
}

void SetFrontend(Frontend* frontend) {
  currentFrontend = frontend ? frontend : &noFrontend;
}

}  // namespace Deploy
