#pragma once

#include <windows.h>

#include "deploy/lifecycle.h"

// The program's one top-level window: a status line, a component line, a
// progress bar, a size line and a Cancel button. Sizes are in 96-dpi units,
// scaled to the screen.
namespace MainWindow {

inline constexpr wchar_t kClassName[] = L"QVDeployMainWindow";
inline constexpr wchar_t kTitle[] = L"Tessel Launcher";
inline constexpr int kCancelId = 101;
inline constexpr int kProgressId = 102;

// Sent by the worker to lay the window out with a status text in one call:
// wParam 0 for ShowStatus, 1 for ShowProgressStatus; lParam the text.
inline constexpr UINT WM_SHOW_STATUS = WM_APP + 2;

// Makes the window and its controls, shows it minimised, starts the worker
// on `work`, and pumps messages until the run has ended. Returns 0, or -1
// (after an error message) when the window, the worker or the message loop
// failed.
int Run(HINSTANCE instance, Deploy::WorkerFunction work);

// Registers the class and makes the window, without showing it; nullptr,
// after error 233, when it cannot be made. Run uses it; so do tests.
HWND Create(HINSTANCE instance);

// The compact layout, for checking, copying and launching.
void ShowStatus(const wchar_t* status);

// The tall layout with the progress bar, for retrieving components.
void ShowProgressStatus(const wchar_t* status);

// Scales a horizontal or vertical size from 96-dpi units to the screen.
int ScaleX(int size);
int ScaleY(int size);

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace MainWindow
