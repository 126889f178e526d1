#include "config/run_settings.h"

namespace Config {

RunSettings& Settings() {
  static RunSettings settings;
  return settings;
}

void ClearSettings() {
  Settings() = RunSettings{};
}

}  // namespace Config
