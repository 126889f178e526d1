#include "log/temp_folder.h"

namespace System {

namespace {

constexpr DWORD kPathBufferChars = 1024;

// Looked up at run time: older systems, and Wine 8, do not have it.
Detail::TempPathFunction LookUpTempPath2() {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? reinterpret_cast<Detail::TempPathFunction>(
                        reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTempPath2W")))
                  : nullptr;
}

Detail::TempPathFunction tempPath2 = LookUpTempPath2();

}  // namespace

std::wstring UserTempFolder() {
  wchar_t buffer[kPathBufferChars];
  const DWORD length = (tempPath2 ? tempPath2 : GetTempPathW)(kPathBufferChars, buffer);
  if (length == 0 || length >= kPathBufferChars) return {};
  return std::wstring(buffer, length);
}

bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  return GetFileInformationByHandle(file, &information) &&
         !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && information.nNumberOfLinks == 1;
}

namespace Detail {
void SetTempPath2Source(TempPathFunction source) {
  tempPath2 = source ? source : LookUpTempPath2();
}
}  // namespace Detail

}  // namespace System
