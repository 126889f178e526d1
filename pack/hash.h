#pragma once

#include <string>
#include <vector>

// The packager's "hash" command: fills in the real size and digests of every
// component's file in a deployment document, and changes nothing else; and
// tells who signed each file, for a packager who pins the signer.
namespace Pack {

// Exit codes of the packager's commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFindings = 1;    // the command could not do its work (the message says why)
inline constexpr int kExitUnreadable = 2;  // the document cannot be read
inline constexpr int kExitRefused = 3;     // "VantorPack.exe.local" is beside the tool: it does not run

// Rewrites `document` (the bytes of a deployment document) with each
// component's `size` and lower-case `md5` and `sha256` taken from the file
// named by its `filename` in `payloadFolder`. Attributes that exist get their
// values replaced where they stand; missing ones are added at the end of the
// start tag. Every other byte stays as it was. Returns kExitOk, or an exit
// code with `message` saying what stopped it (a missing file, one of 4 GiB or
// more, a document that is not XML). `signers`, when given, receives a line
// for each component: 'component "NAME": signer="SUBJECT"' for a file whose
// signature the launcher would trust (System::ReadSignature), else
// 'component "NAME": no trusted signer: <what failed> (0x<code>)'. The
// signer is not written: pinning it is the packager's decision.
int HashDocument(const std::string& document, const std::wstring& payloadFolder, std::string& hashed,
                 std::wstring& message, std::vector<std::wstring>* signers = nullptr);

// The command: reads DOC, writes OUT through a temporary file, so that a
// failure leaves no partial output. Returns the exit code; `message` says
// what went wrong; `signers` as for HashDocument.
int Hash(const std::wstring& documentPath, const std::wstring& payloadFolder, const std::wstring& outputPath,
         std::wstring& message, std::vector<std::wstring>* signers = nullptr);

}  // namespace Pack
