#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "system/result.h"

// File-system helpers. The three-valued answers follow the result codes:
// RESULT_ERROR (0, logged), RESULT_FAILED (1, absent or not of the kind asked
// for) and RESULT_PASSED (2, present or done). "Not found" is never an error.
// An absent path is passed as an empty one.
namespace System {

// RESULT_PASSED for a file; RESULT_FAILED for nothing there or a folder;
// RESULT_ERROR, logged, for an empty path or an attribute query that fails.
Result FileExists(std::wstring_view path);

// As FileExists, for folders: RESULT_PASSED for a folder.
Result DirectoryExists(std::wstring_view path);

// Creates the folder and its missing parents, from the top down; "/" and "\"
// may be mixed. Returns DirectoryExists of the path afterwards; logs a folder
// that cannot be created ("Unable to Create Directory").
Result CreateDir(std::wstring_view path);

// Gives a file normal attributes. RESULT_PASSED when done; RESULT_FAILED for
// nothing there or a folder; RESULT_ERROR, logged, when it cannot be done.
Result RemoveFileAttributes(std::wstring_view path);

// Called after each copied chunk with the bytes copied and the file size,
// each as low and high 32 bits. Returns 1 to cancel the copy.
using CopyProgressFunction = int (*)(DWORD copiedLow, DWORD copiedHigh, DWORD sizeLow, DWORD sizeHigh,
                                     void* userData);

// Copies source to target, overwriting an existing target, and reports
// progress through `progress` (which may be null). RESULT_PASSED when copied;
// RESULT_ERROR, logged, when the source is missing or the copy failed or was
// cancelled. Empty paths give RESULT_ERROR without a log line.
Result CopyFileTo(std::wstring_view source, std::wstring_view target, CopyProgressFunction progress,
                  void* userData);

// What the copy's progress routine is handed as its context.
struct CopyProgressContext {
  CopyProgressFunction progress;
  void* userData;
};

// The routine given to CopyFileExW: a finished chunk calls the progress
// function, and its answer of exactly 1 cancels the copy.
DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalBytesTransferred,
                                   LARGE_INTEGER streamSize, LARGE_INTEGER streamBytesTransferred,
                                   DWORD streamNumber, DWORD callbackReason, HANDLE sourceFile,
                                   HANDLE destinationFile, LPVOID context);

// Copies every byte of the open file `source`, from its start, to a new
// file `target` (replacing one that is there). RESULT_PASSED when done;
// RESULT_ERROR, logged "CopyOpenFile Failed", when it cannot be (`target`
// may then be left in part).
Result CopyOpenFile(HANDLE source, const std::wstring& target);

// The size of the file at `path`; nothing, unlogged, when there is no file
// or its size cannot be read.
std::optional<ULONGLONG> FileSize(std::wstring_view path);

// A new, empty, uniquely named file in the folder of `path`, for building an
// output before it takes its name. Empty when the folder cannot be written.
std::wstring TemporaryBeside(const std::wstring& path);

// Makes `temporary` the file `path`, replacing one that is there. False when
// it cannot; the temporary file is then deleted, and GetLastError still
// tells why the move failed.
bool CommitTemporary(const std::wstring& temporary, const std::wstring& path);

// Writes `bytes` to `path` through a temporary file beside it, flushed, so
// that a failure leaves no partial output and an existing file untouched.
// False when it cannot; GetLastError then tells why.
bool WriteWholeFile(const std::wstring& path, std::string_view bytes);

// Whether `path` names the file that `held` is open on (same volume and file
// index). False, not logged, when the path cannot be opened.
bool IsSameFile(HANDLE held, std::wstring_view path);

// The path by which the file that `file` is open on is reached now, every
// link and junction on the way resolved, as a plain "C:\..." or "\\server\..."
// path. Empty, not logged, when it cannot be found.
std::wstring FinalPath(HANDLE file);

// The path made full ("." and ".." resolved), then with its short names made
// long; as far as that gets, the path as given when not even full.
std::wstring LongFullPath(std::wstring_view path);

// Whether `path` is `folder` or lies inside it, both made LongFullPath and
// compared without regard to case.
bool IsInFolder(std::wstring_view path, std::wstring_view folder);

// Whether `path`, made full and with its short names made long, is `final`
// (a FinalPath), compared without regard to case. A link or junction on the
// way makes them differ.
bool IsFinalPath(std::wstring_view path, std::wstring_view final);

// Deletes the file, or the empty folder, at `path` through a handle on
// `path` itself: a link there is opened, not followed, and nothing is
// deleted unless `path` is that handle's final path, so that no link or
// junction on the way can lead the deletion elsewhere. RESULT_PASSED when
// deleted; RESULT_FAILED, not logged, when nothing is there or the folder is
// not empty; RESULT_ERROR, logged, when it leads elsewhere or cannot be
// deleted.
Result DeleteUnlinked(const std::wstring& path);

// Deletes the folder at `path` and everything in it, each entry through
// DeleteUnlinked: a link or junction inside is deleted itself, never entered
// and never followed. RESULT_PASSED when nothing is left at `path`;
// RESULT_ERROR when something stays (what DeleteUnlinked could not delete is
// logged by it; a folder that something still holds is not).
Result DeleteTree(const std::wstring& path);

// The folder that `path` is in: what comes before its last "\" or "/", with
// the backslash kept after a drive ("C:\"). Empty when there is none.
std::wstring ParentFolder(std::wstring_view path);

// The folder, one backslash unless it already ends in "\" or "/", then the
// name as given.
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

}  // namespace System
