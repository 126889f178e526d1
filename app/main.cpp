#include <windows.h>

#include "app/program.h"

// The narrow entry, so that the C runtime fills `__argv`, which the flag
// parser reads; everything else uses the wide API.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return App::Main(instance);
}
