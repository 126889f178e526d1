#include "deploy/quiet_frontend.h"

#include "config/command_line.h"
#include "deploy/embedded_config.h"
#include "deploy/text.h"
#include "log/log.h"

namespace Deploy {

namespace {
constexpr wchar_t kRunName[] = L"Deploy::Run";

// The message as an English window would show it: the log is read by
// administrators, whatever the user's language.
std::wstring English(UINT id) {
  std::wstring text;
  FormatText(text, LoadEnglishText(id), kProductName, L"");
  return text;
}
}  // namespace

void QuietFrontend::ShowError(UINT id, const std::wstring&, const std::wstring& english) {
  LogError(L"%s - %d: %s", kRunName, static_cast<int>(id), (english.empty() ? English(id) : english).c_str());
}

void QuietFrontend::ShowNotice(UINT id, const std::wstring&) {
  LogWarning(L"%s - %d: %s", kRunName, static_cast<int>(id), English(id).c_str());
}

bool QuietRequested() {
  const std::optional<bool> given = Parser::CommandLineFlag(L"quiet");
  return given ? *given : EmbeddedFlag("quiet");
}

}  // namespace Deploy
