#pragma once

#include <string>
#include <vector>

// The packager's "validate" command: reads a deployment document exactly as
// the launcher does and reports what the launcher would refuse, ignore or get
// wrong. An error is something the launcher refuses or does differently from
// what the document says; a warning is something it ignores that may be
// intended.
namespace Pack {

enum class Severity { Error, Warning };

struct Finding {
  int line;  // 1-based; 0 for the document as a whole
  Severity severity;
  std::wstring text;
};

struct Validation {
  bool readable = false;  // false: not XML, and `unreadable` says why
  std::wstring unreadable;
  std::vector<Finding> findings;  // in line order
  [[nodiscard]] int Count(Severity severity) const;
};

// Validates the bytes of a deployment document. Leaves the launcher's
// configuration lists filled as the launcher's own parse left them.
Validation ValidateDocument(const std::string& document);

// 0 without errors, 1 with errors, 2 when the document is not readable.
int ExitCode(const Validation& validation);

// One finding as the command prints it: "<path>:<line>: error: <text>", or
// "<path>: warning: <text>" for the document as a whole.
std::wstring FormatFinding(const std::wstring& path, const Finding& finding);

// The command: prints the findings and a summary line ("2 errors, 1
// warning") to standard output, or why the document cannot be read to
// standard error. Returns the exit code.
int Validate(const std::wstring& documentPath);

}  // namespace Pack
