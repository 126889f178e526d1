#pragma once

#include <optional>
#include <string>

// The packager's "stamp" command: a copy of a prebuilt launcher that embeds
// other documents, with no compiler.
namespace Pack {

// Validates the deployment document and, when it has no errors, writes a copy
// of `launcherPath` to `outputPath` whose deployment document (resource 102)
// is the file at `documentPath` and, when given, whose client configuration
// (resource 103) is the file at `clientPath`. Every other byte of the
// resources stays as it was, and the input launcher is never changed; the
// output appears whole or not at all. The findings of the validation are
// printed first. Returns 0 when stamped; 1 with `message` for a launcher that
// is not a launcher, is signed, or an output that cannot be written, and for
// a document with errors; 2 when a document cannot be read or is not XML.
int Stamp(const std::wstring& launcherPath, const std::wstring& documentPath,
          const std::optional<std::wstring>& clientPath, const std::wstring& outputPath,
          std::wstring& message);

// The bytes of an embedded document (XML_FILE resource `id`) of the program at
// `path`, which is read as data and never run. False when it has none.
bool ReadEmbeddedDocument(const std::wstring& path, int id, std::string& bytes);

}  // namespace Pack
