#pragma once

#include <string>

// File work shared by the packager's commands: whole-file reads, and writes
// that leave either the complete new file or nothing.
namespace Pack {

// Reads the whole file into `bytes`. False, with `message` naming the file,
// when it cannot be opened or read to its end.
bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::wstring& message);

// A new, empty, uniquely named file in the folder of `path`, for building an
// output before it takes its name. Empty, with `message` set, when the folder
// cannot be written.
std::wstring TemporaryBeside(const std::wstring& path, std::wstring& message);

// Makes `temporary` the file `path`, replacing one that is there. On failure
// the temporary file is deleted and `message` says which output could not be
// written.
bool CommitTemporary(const std::wstring& temporary, const std::wstring& path, std::wstring& message);

// Writes `bytes` to `path` through a temporary file beside it, so that a
// failure leaves no partial output and an existing file untouched.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes, std::wstring& message);

// Whether two paths name one existing file (same volume and file index).
bool SameFile(const std::wstring& a, const std::wstring& b);

// Why a document must not be given to TinyXML, which would run out of stack
// on it: "elements are nested more than 1000 deep (line N)"; empty when it
// nests no deeper than the launcher reads.
std::wstring NestedTooDeep(const std::string& text);

// Conversions for the documents' UTF-8 bytes.
std::wstring FromUtf8(const std::string& text);
std::string ToUtf8(const std::wstring& text);

}  // namespace Pack
