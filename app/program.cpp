#include "app/program.h"

namespace App {

namespace {
HINSTANCE moduleInstance = nullptr;
}

HINSTANCE Instance() noexcept {
  return moduleInstance;
}

int Main(HINSTANCE instance) {
  moduleInstance = instance;
  // Nothing runs yet: there is no main window, so nothing is logged either.
  return 0;
}

}  // namespace App
