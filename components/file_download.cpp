#include "components/file_download.h"

#include <wininet.h>

#include <cstring>
#include <string_view>

namespace System {

DWORD downloadStallSeconds = kStallSeconds;
WriteFunction downloadWrite = ::WriteFile;

namespace {

// The decimal number at the start of `text`, after blanks; nothing when
// there is none or it does not fit in 32 bits.
std::optional<DWORD> LeadingNumber(std::wstring_view text) {
  const size_t start = text.find_first_not_of(L" \t");
  if (start == std::wstring_view::npos) return std::nullopt;
  ULONGLONG number = 0;
  size_t at = start;
  for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
    number = number * 10 + static_cast<ULONGLONG>(text[at] - L'0');
    if (number > MAXDWORD) return std::nullopt;
  }
  if (at == start) return std::nullopt;
  return static_cast<DWORD>(number);
}

// The value of the first header line named `name` (letter case aside).
std::optional<std::wstring_view> HeaderValue(std::wstring_view headers, std::wstring_view name) {
  while (!headers.empty()) {
    const size_t end = headers.find(L'\n');
    std::wstring_view line = headers.substr(0, end);
    headers = end == std::wstring_view::npos ? std::wstring_view() : headers.substr(end + 1);
    if (line.size() > name.size() && line[name.size()] == L':' &&
        CompareStringOrdinal(line.data(), static_cast<int>(name.size()), name.data(),
                             static_cast<int>(name.size()), TRUE) == CSTR_EQUAL) {
      return line.substr(name.size() + 1);
    }
  }
  return std::nullopt;
}

// The text of a system or module message, without its closing line break
// and full stop; empty when there is none.
std::wstring MessageText(DWORD flags, HMODULE module, DWORD code) {
  for (const DWORD language : {DWORD{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}, DWORD{0}}) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        module, code, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0) continue;
    std::wstring text(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                             text.back() == L'.'))
      text.pop_back();
    if (!text.empty()) return text;
  }
  return {};
}

}  // namespace

std::wstring StallReason() {
  wchar_t text[32];
  _snwprintf(text, 32, L"no data for %lu s", downloadStallSeconds);
  return text;
}

std::wstring DownloadErrorText(HRESULT result) {
  // urlmon's codes have no message in any module.
  static constexpr struct {
    HRESULT code;
    const wchar_t* text;
  } kUrlmonCodes[] = {
      {INET_E_INVALID_URL, L"invalid URL"},
      {INET_E_NO_SESSION, L"no Internet session"},
      {INET_E_CANNOT_CONNECT, L"cannot connect"},
      {INET_E_RESOURCE_NOT_FOUND, L"server or proxy not found"},
      {INET_E_OBJECT_NOT_FOUND, L"object not found"},
      {INET_E_DATA_NOT_AVAILABLE, L"no data available"},
      {INET_E_DOWNLOAD_FAILURE, L"download failed"},
      {INET_E_AUTHENTICATION_REQUIRED, L"authentication required"},
      {INET_E_NO_VALID_MEDIA, L"no valid media"},
      {INET_E_CONNECTION_TIMEOUT, L"connection timed out"},
      {INET_E_INVALID_REQUEST, L"invalid request"},
      {INET_E_UNKNOWN_PROTOCOL, L"unknown protocol"},
      {INET_E_SECURITY_PROBLEM, L"security problem"},
      {INET_E_CANNOT_LOAD_DATA, L"cannot load data"},
      {INET_E_REDIRECT_FAILED, L"redirect failed"},
      {INET_E_REDIRECT_TO_DIR, L"redirected to a folder"},
      {INET_E_INVALID_CERTIFICATE, L"invalid certificate"},
  };
  std::wstring text;
  for (const auto& known : kUrlmonCodes)
    if (known.code == result) text = known.text;
  const DWORD code = HRESULT_CODE(result);
  if (text.empty() && HRESULT_FACILITY(result) == FACILITY_WIN32 && code >= INTERNET_ERROR_BASE &&
      code <= INTERNET_ERROR_LAST) {
    if (HMODULE wininet = GetModuleHandleW(L"wininet.dll"))
      text = MessageText(FORMAT_MESSAGE_FROM_HMODULE, wininet, code);
  }
  if (text.empty()) text = MessageText(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(result));
  if (text.empty()) text = L"unknown error";
  wchar_t number[16];
  _snwprintf(number, 16, L"0x%08lX ", static_cast<unsigned long>(result));
  return number + text;
}

HRESULT STDMETHODCALLTYPE FileDownload::QueryInterface(REFIID id, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(id, IID_IUnknown)) {
    *object = static_cast<IBindStatusCallback*>(this);
  } else if (IsEqualIID(id, IID_IAuthenticate)) {
    *object = static_cast<IAuthenticate*>(this);
  } else if (IsEqualIID(id, IID_IBindStatusCallback)) {
    *object = static_cast<IBindStatusCallback*>(this);
  } else if (IsEqualIID(id, IID_IHttpNegotiate)) {
    *object = static_cast<IHttpNegotiate*>(this);
  } else if (IsEqualIID(id, IID_IServiceProvider)) {
    *object = static_cast<IServiceProvider*>(this);
  } else if (window_ && IsEqualIID(id, IID_IWindowForBindingUI)) {
    *object = static_cast<IWindowForBindingUI*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE FileDownload::AddRef() {
  return static_cast<ULONG>(++references_);
}

ULONG STDMETHODCALLTYPE FileDownload::Release() {
  const LONG left = --references_;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE FileDownload::OnStartBinding(DWORD, IBinding* binding) {
  binding_ = binding;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FileDownload::OnStopBinding(HRESULT result, LPCWSTR) {
  // An abort calls this from inside IBinding::Abort: the binding is kept
  // alive by the caller until that returns.
  binding_.Reset();
  stopped_ = true;
  stopResult_ = result;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FileDownload::GetBindInfo(DWORD* flags, BINDINFO* info) {
  if (!flags || !info || info->cbSize < sizeof(DWORD)) return E_INVALIDARG;
  *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE;
  const ULONG size = info->cbSize;
  memset(info, 0, size);
  info->cbSize = size;
  info->dwBindVerb = BINDVERB_GET;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FileDownload::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) {
  if (aborted_ || exchange_.status >= 400) {
    aborted_ = true;
    return E_ABORT;
  }
  if (!medium || medium->tymed != TYMED_ISTREAM || !medium->pstm) return S_OK;
  // After a range, only the tail that was asked for joins the bytes before
  // it, and a whole answer starts the file again: any other body is read
  // and dropped.
  const bool keep = exchange_.rangeFrom == 0 || exchange_.status == 200 ||
                    (exchange_.status == 206 && exchange_.rangeStart == exchange_.rangeFrom);
  lastData_ = GetTickCount64();
  char buffer[16384];
  for (;;) {
    ULONG read = 0;
    const HRESULT result = medium->pstm->Read(buffer, sizeof(buffer), &read);
    if (read > 0 && keep) {
      DWORD wrote = 0;
      if (!downloadWrite(file_, buffer, read, &wrote, nullptr) || wrote != read) {
        writeError_ = wrote != read && GetLastError() == ERROR_SUCCESS ? ERROR_WRITE_FAULT : GetLastError();
        aborted_ = true;
        return E_ABORT;
      }
    }
    // E_PENDING: the rest comes with a later notification; S_FALSE: the end.
    if (result != S_OK || read == 0) return S_OK;
  }
}

HRESULT STDMETHODCALLTYPE FileDownload::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                                   LPCWSTR) {
  if (aborted_) return E_ABORT;
  if (progress > highestProgress_) {
    highestProgress_ = progress;
    lastData_ = GetTickCount64();
  }
  if (exchange_.status >= 400) {
    aborted_ = true;
    return E_ABORT;
  }
  if (!progress_) return S_OK;
  if (exchange_.status == 206 && exchange_.rangeStart) {
    progress += *exchange_.rangeStart;
    if (progressMax != 0) progressMax += *exchange_.rangeStart;
  }
  aborted_ = Ask(progress, progressMax, statusCode) == 1;
  return aborted_ ? E_ABORT : S_OK;
}

int FileDownload::Ask(ULONG progress, ULONG progressMax, ULONG statusCode) {
  lastProgress_ = progress;
  asking_ = true;
  const int answer = progress_(progress, progressMax, statusCode, userData_);
  asking_ = false;
  return answer;
}

void FileDownload::Abort() {
  aborted_ = true;
  // Called on the binding's own thread; the download then ends with E_ABORT.
  // OnStopBinding may come from inside Abort, and drop the binding.
  const Microsoft::WRL::ComPtr<IBinding> binding = binding_;
  if (binding) {
    abortSent_ = true;
    binding->Abort();
  }
}

void FileDownload::Tick() noexcept {
  if (asking_) return;
  if (aborted_) {
    // Some monikers ignore E_ABORT from a notification: the binding is told.
    if (!abortSent_) Abort();
    return;
  }
  if (GetTickCount64() - lastData_ >= ULONGLONG{downloadStallSeconds} * 1000) {
    stalled_ = true;
    Abort();
  } else if (progress_ && Ask(lastProgress_, 0, 0) == 1) {
    // A maximum of 0 is never compared with the size: only the cancel can answer 1 here.
    Abort();
  }
}

HRESULT STDMETHODCALLTYPE FileDownload::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                             LPWSTR* additionalHeaders) {
  if (!additionalHeaders) return E_INVALIDARG;
  *additionalHeaders = nullptr;
  if (!negotiating_ || exchange_.rangeFrom == 0) return S_OK;
  wchar_t range[48];
  _snwprintf(range, 47, L"Range: bytes=%lu-\r\n", exchange_.rangeFrom);
  range[47] = L'\0';
  std::wstring text = range;
  if (!exchange_.ifRange.empty()) text += L"If-Range: " + exchange_.ifRange + L"\r\n";
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  // The moniker frees the lines it is given with CoTaskMemFree.
  auto* lines = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (!lines) return E_OUTOFMEMORY;
  memcpy(lines, text.c_str(), bytes);
  *additionalHeaders = lines;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FileDownload::OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR,
                                                   LPWSTR* additionalHeaders) {
  if (additionalHeaders) *additionalHeaders = nullptr;
  lastData_ = GetTickCount64();
  exchange_.status = status;
  const std::wstring_view headers = responseHeaders ? responseHeaders : L"";
  const std::optional<std::wstring_view> retryAfter = HeaderValue(headers, L"Retry-After");
  exchange_.retryAfter = retryAfter ? LeadingNumber(*retryAfter) : std::nullopt;
  // "bytes FIRST-LAST/LENGTH"
  std::optional<std::wstring_view> range = HeaderValue(headers, L"Content-Range");
  if (range) {
    const size_t unit = range->find(L"bytes");
    range = unit == std::wstring_view::npos ? std::nullopt : std::optional(range->substr(unit + 5));
  }
  exchange_.rangeStart = range ? LeadingNumber(*range) : std::nullopt;
  std::optional<std::wstring_view> validator = HeaderValue(headers, L"ETag");
  if (!validator) validator = HeaderValue(headers, L"Last-Modified");
  exchange_.validator.clear();
  if (validator) {
    const size_t first = validator->find_first_not_of(L" \t");
    const size_t last = validator->find_last_not_of(L" \t\r");
    if (first != std::wstring_view::npos) exchange_.validator = validator->substr(first, last - first + 1);
  }
  // A whole answer to a range starts the file again.
  if (status == 200 && exchange_.rangeFrom > 0 && file_ != INVALID_HANDLE_VALUE) {
    LARGE_INTEGER start{};
    SetFilePointerEx(file_, start, nullptr, FILE_BEGIN);
    SetEndOfFile(file_);
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FileDownload::Authenticate(HWND* window, LPWSTR*, LPWSTR*) {
  if (window) *window = window_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FileDownload::QueryService(REFGUID service, REFIID id, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (IsEqualGUID(service, IID_IAuthenticate) || IsEqualGUID(service, IID_IWindowForBindingUI) ||
      IsEqualGUID(service, IID_IHttpNegotiate))
    return QueryInterface(id, object);
  return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FileDownload::GetWindow(REFGUID reason, HWND* window) {
  if (!window) return E_INVALIDARG;
  *window = nullptr;
  // A prompt for credentials only: a certificate problem (IID_IHttpSecurity)
  // gets no window, so that nobody can wave it through.
  if (!IsEqualGUID(reason, IID_IAuthenticate)) return E_NOTIMPL;
  *window = window_;
  return S_OK;
}

}  // namespace System
