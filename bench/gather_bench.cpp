// Measures one component's whole retrieval (download, rename, size and MD5
// check) by Component::GatherComponents on a worker thread, against a bare
// URLDownloadToFileW of the same URL followed by the same checks done plainly:
// the file's size, and a CryptoAPI MD5 pass in 64 KiB reads, both compared
// with the expected ones. Either side that ends without the right file fails
// its run. Prints ok, seconds, peak memory and the window messages that the
// transfer caused. bench/gather.sh runs it against nginx.
//   gather_bench gather|bare URL SIZE MD5 FOLDER
#include <windows.h>
#include <psapi.h>
#include <wincrypt.h>
#include <urlmon.h>
#include <wininet.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "components/component.h"
#include "config/flag.h"
#include "deploy/lifecycle.h"
#include "system/unique_handle.h"
#include "tests/support/progress_window.h"

namespace {

Result gatherResult = RESULT_ERROR;
void GatherWork() {
  gatherResult = Deploy::GatherComponents();
}

double Seconds(const LARGE_INTEGER& start) {
  LARGE_INTEGER now{}, frequency{};
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

double PeakMegabytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PeakWorkingSetSize / 1e6;
}

// The file's size and MD5 against the expected ones.
bool BareCheck(const std::wstring& path, DWORD expectedSize, const std::wstring& expectedMd5) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) || data.nFileSizeHigh != 0 ||
      data.nFileSizeLow != expectedSize) {
    return false;
  }
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  UniqueCryptProv provider;
  UniqueCryptHash hash;
  if (!file || !CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
      !CryptCreateHash(provider.get(), CALG_MD5, 0, 0, hash.put())) {
    return false;
  }
  static BYTE block[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), block, sizeof(block), &read, nullptr) && read > 0) {
    if (!CryptHashData(hash.get(), block, read, 0)) return false;
  }
  BYTE digest[16];
  DWORD size = sizeof(digest);
  if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0)) return false;
  wchar_t text[33];
  for (int i = 0; i < 16; ++i) swprintf(text + 2 * i, 3, L"%02x", digest[i]);
  return _wcsicmp(text, expectedMd5.c_str()) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 6) {
    fwprintf(stderr, L"usage: gather_bench gather|bare URL SIZE MD5 FOLDER\n");
    return 2;
  }
  const std::wstring mode = argv[1], url = argv[2], md5 = argv[4], folder = argv[5];
  const DWORD size = wcstoul(argv[3], nullptr, 10);
  const std::wstring path = folder + L"\\payload.bin";
  DeleteFileW(path.c_str());
  DeleteUrlCacheEntryW(url.c_str());

  LARGE_INTEGER start{};
  QueryPerformanceCounter(&start);
  bool ok = false;
  size_t messages = 0;
  if (mode == L"bare") {
    ok = SUCCEEDED(URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, nullptr)) &&
         BareCheck(path, size, md5);
  } else {
    Testing::ProgressWindow window;
    Component::Record* component = Component::Component(L"Payload", L"Payload");
    component->dest = folder;
    component->filename = L"payload.bin";
    component->size = size;
    component->md5 = md5;
    component->AddLocation(TRANSFER_DOWNLOAD, url);
    ok = Deploy::Start(GatherWork) && window.PumpUntilDone(600000) && gatherResult == RESULT_PASSED;
    // As after a verified installation, which leaves nothing in the download cache.
    Component::ForgetCachedFiles();
    messages = window.Status().texts.size() + window.Component().texts.size() + window.Size().texts.size() +
               window.Progress().positions.size();
  }
  const double seconds = Seconds(start);
  DeleteUrlCacheEntryW(url.c_str());
  DeleteFileW(path.c_str());
  wprintf(L"%ls %d %.3f %.1f %zu\n", mode.c_str(), ok ? 1 : 0, seconds, PeakMegabytes(), messages);
  return ok ? 0 : 1;
}
