// VantorPack: the packager's tool.
//   VantorPack validate DOC.xml
//   VantorPack hash DOC.xml PAYLOAD_DIR -o OUT.xml
//   VantorPack stamp LAUNCHER.exe DOC.xml [CLIENT.xml] -o OUT.exe
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "pack/hash.h"
#include "pack/stamp.h"
#include "pack/validate.h"
#include "system/dll_search.h"

namespace {
int Usage() {
  fwprintf(stderr,
           L"usage: VantorPack validate DOC.xml\n"
           L"       VantorPack hash DOC.xml PAYLOAD_DIR -o OUT.xml\n"
           L"       VantorPack stamp LAUNCHER.exe DOC.xml [CLIENT.xml] -o OUT.exe\n");
  return Pack::kExitUnreadable;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  System::RestrictDllSearch();
  // A ".local" beside the tool could hand it DLLs of someone else's.
  const std::wstring redirection = System::LocalRedirection();
  if (!redirection.empty()) {
    fwprintf(stderr, L"VantorPack: %ls is beside the tool, and Windows could load DLLs from it: it does not run\n",
             redirection.c_str());
    return Pack::kExitRefused;
  }
  if (argc < 2) return Usage();
  const std::wstring command = argv[1];
  if (command == L"validate" && argc == 3) return Pack::Validate(argv[2]);
  if (command == L"hash" && argc == 6 && std::wstring(argv[4]) == L"-o") {
    std::wstring message;
    std::vector<std::wstring> signers;
    const int code = Pack::Hash(argv[2], argv[3], argv[5], message, &signers);
    if (code != Pack::kExitOk) {
      fwprintf(stderr, L"VantorPack hash: %ls\n", message.c_str());
    } else {
      for (const std::wstring& line : signers) wprintf(L"%ls\n", line.c_str());
    }
    return code;
  }
  if (command == L"stamp" && (argc == 6 || argc == 7) && std::wstring(argv[argc - 2]) == L"-o") {
    std::optional<std::wstring> client;
    if (argc == 7) client = argv[4];
    std::wstring message;
    const int code = Pack::Stamp(argv[2], argv[3], client, argv[argc - 1], message);
    if (code != Pack::kExitOk) fwprintf(stderr, L"VantorPack stamp: %ls\n", message.c_str());
    return code;
  }
  return Usage();
}
