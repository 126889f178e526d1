#include "system/module.h"

namespace System {

namespace {
HINSTANCE moduleInstance = nullptr;
}

HINSTANCE ModuleInstance() noexcept {
  return moduleInstance ? moduleInstance : GetModuleHandleW(nullptr);
}

void SetModuleInstance(HINSTANCE instance) noexcept {
  moduleInstance = instance;
}

}  // namespace System
