#pragma once

#include <string>

// The packager's "hash" command: fills in the real size and MD5 of every
// component's file in a deployment document, and changes nothing else.
namespace Pack {

// Exit codes of the packager's commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFindings = 1;    // the command could not do its work (the message says why)
inline constexpr int kExitUnreadable = 2;  // the document cannot be read

// Rewrites `document` (the bytes of a deployment document) with each
// component's `size` and lower-case `md5` taken from the file named by its
// `filename` in `payloadFolder`. Attributes that exist get their values
// replaced where they stand; missing ones are added at the end of the start
// tag. Every other byte stays as it was. Returns kExitOk, or an exit code
// with `message` saying what stopped it (a missing file, one of 4 GiB or
// more, a document that is not XML).
int HashDocument(const std::string& document, const std::wstring& payloadFolder, std::string& hashed,
                 std::wstring& message);

// The command: reads DOC, writes OUT through a temporary file, so that a
// failure leaves no partial output. Returns the exit code; `message` says
// what went wrong.
int Hash(const std::wstring& documentPath, const std::wstring& payloadFolder, const std::wstring& outputPath,
         std::wstring& message);

}  // namespace Pack
