#pragma once

#include <string>

// A detect run explains the machine instead of changing it: it reads the
// document and the command line, evaluates every condition, makes the
// version comparisons of the decision, checks every component, and reports
// what a run would do. It asks nothing, fetches nothing, writes no client
// configuration, runs nothing and shows no window.
namespace Deploy {

// The report's name in the user's temporary folder.
inline constexpr wchar_t kDetectReportName[] = L"VantorLauncher-detect.json";

// The exit codes of a detect run: the client is installed and current, with
// no component missing; a run would install or upgrade; the document cannot
// be read, a condition or a component check is in error, or the report
// cannot be written.
inline constexpr int kDetectCurrent = 0;
inline constexpr int kDetectWouldInstall = 1;
inline constexpr int kDetectError = 1603;

// Whether this run is a detect run: the command line's "/detect", else the
// "detect" attribute of the embedded document's Flags. Logs nothing.
bool DetectRequested();

// The detect run, on the calling thread. Removes an earlier report first,
// then writes the new one, UTF-8, to `reportPath` (written beside it and
// moved into place, so that it is whole or absent), and to the standard
// output when the process has one. Returns one of the codes above; a
// document that cannot be read or a report that cannot be written leaves
// no report, logged "Deploy::Detect - ...".
int Detect(const std::wstring& reportPath);

// %TEMP%\VantorLauncher-detect.json; empty when the folder cannot be found.
std::wstring DetectReportPath();

}  // namespace Deploy
