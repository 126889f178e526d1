#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace Testing {

// The folder of the running test executable; helper programs sit beside it.
std::wstring ProgramFolder();

// A fresh, empty folder under the test run's temp folder, removed with
// everything in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Runs a helper program from ProgramFolder() with `arguments`, waits for it
// and returns its exit code (or a value above 0xFFFF0000 when it could not
// run). A non-empty `tempFolder` becomes its TMP and TEMP.
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments,
                 const std::wstring& tempFolder = {});

// A symbolic link of the host at `link`, to `target` (a file or a folder), as
// a junction or a link stands on Windows: Wine cannot make one itself, so
// the host's ln makes it, and its rm removes it again, before a folder's
// removal could walk through it.
class PlantedLink {
 public:
  PlantedLink(const std::wstring& target, const std::wstring& link);
  ~PlantedLink();
  PlantedLink(const PlantedLink&) = delete;
  PlantedLink& operator=(const PlantedLink&) = delete;
  // Whether the link is there.
  bool planted() const { return planted_; }

 private:
  std::wstring link_;
  bool planted_ = false;
};

// The whole file, or nothing when it does not exist.
bool ReadFileBytes(const std::wstring& path, std::string& bytes);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);

// The names of the files (not folders) in `folder`, sorted.
std::vector<std::wstring> FilesIn(const TempFolder& folder);
std::vector<std::wstring> FilesIn(const std::wstring& folder);

// Splits text at CR LF; a final line without its ending is kept.
std::vector<std::string> SplitLines(const std::string& text);

// Switches logging on while it lives and collects the lines written to the
// process's real log file since it was made.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::vector<std::string> Lines() const;

 private:
  int savedLevel_;
  size_t start_;
};

// The tests' own registry key, HKCU and HKLM "Software\TesselLauncherTests",
// cleared when made and removed when it goes. Paths for the code under test
// are "HKCU\Software\TesselLauncherTests\<subkey>\<name>".
class TestRegistryKey {
 public:
  static constexpr wchar_t kSubkey[] = L"Software\\TesselLauncherTests";
  static constexpr wchar_t kUserPath[] = L"HKCU\\Software\\TesselLauncherTests";
  TestRegistryKey();
  ~TestRegistryKey();
  TestRegistryKey(const TestRegistryKey&) = delete;
  TestRegistryKey& operator=(const TestRegistryKey&) = delete;
  // `subkey` is below the tests' key: "" for the key itself, or "\\Sub".
  static void SetRaw(HKEY root, const std::wstring& subkey, const wchar_t* name, DWORD type, const void* data,
                     DWORD bytes);
  static void SetText(HKEY root, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ);
  static void SetDword(const wchar_t* name, DWORD value);
  static void Remove();
};

// The process's log file: VantorLauncher.log in its temp folder.
std::wstring LogFilePath();

std::string Narrow(const std::wstring& text);
// ASCII text as wide text.
std::wstring Widen(const std::string& text);

// The lower-case MD5 of the bytes, through CryptoAPI.
std::wstring Md5Hex(const std::string& bytes);

}  // namespace Testing
