#pragma once

#include <optional>
#include <string>

// The process-wide settings that the parser takes from the deployment
// configuration. Absent means the configuration did not give it; a value that
// begins with "$" names a conditional string, resolved where it is used.
namespace Config {

struct RunSettings {
  std::optional<std::wstring> formatVersion;   // of the document itself
  std::optional<std::wstring> packageVersion;  // never resolved through a conditional string
  std::optional<std::wstring> installerName;
  std::optional<std::wstring> installerArgs;
  std::optional<std::wstring> launchRegKey;
  std::optional<std::wstring> launchArgs;
  std::optional<std::wstring> configPath;
  std::optional<std::wstring> minVersion;
  std::optional<std::wstring> altUrl;
};

RunSettings& Settings();

// Sets every setting back to absent.
void ClearSettings();

}  // namespace Config
