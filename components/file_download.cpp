#include "components/file_download.h"

#include <cstring>
#include <string_view>

namespace System {

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

}  // namespace

HRESULT STDMETHODCALLTYPE FileDownload::QueryInterface(REFIID id, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(id, IID_IUnknown)) {
    *object = static_cast<IBindStatusCallback*>(this);
  } else if (IsEqualIID(id, IID_IAuthenticate)) {
    *object = static_cast<IAuthenticate*>(this);
  } else if (IsEqualIID(id, IID_IBindStatusCallback)) {
    *object = static_cast<IBindStatusCallback*>(this);
  } else if (negotiating_ && IsEqualIID(id, IID_IHttpNegotiate)) {
    *object = static_cast<IHttpNegotiate*>(this);
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

HRESULT STDMETHODCALLTYPE FileDownload::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                                   LPCWSTR) {
  if (aborted_) return E_ABORT;
  if (exchange_.status >= 400) {
    aborted_ = true;
    return E_ABORT;
  }
  if (!progress_) return S_OK;
  if (exchange_.status == 206 && exchange_.rangeStart) {
    progress += *exchange_.rangeStart;
    if (progressMax != 0) progressMax += *exchange_.rangeStart;
  }
  aborted_ = progress_(progress, progressMax, statusCode, userData_) == 1;
  return aborted_ ? E_ABORT : S_OK;
}

HRESULT STDMETHODCALLTYPE FileDownload::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                             LPWSTR* additionalHeaders) {
  if (!additionalHeaders) return E_INVALIDARG;
  *additionalHeaders = nullptr;
  if (exchange_.rangeFrom == 0) return S_OK;
  wchar_t range[48];
  const int length = _snwprintf(range, 47, L"Range: bytes=%lu-\r\n", exchange_.rangeFrom);
  const size_t bytes = (static_cast<size_t>(length) + 1) * sizeof(wchar_t);
  // The moniker frees the lines it is given with CoTaskMemFree.
  auto* lines = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (!lines) return E_OUTOFMEMORY;
  memcpy(lines, range, bytes);
  *additionalHeaders = lines;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FileDownload::OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR,
                                                   LPWSTR* additionalHeaders) {
  if (additionalHeaders) *additionalHeaders = nullptr;
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
  return S_OK;
}

HRESULT STDMETHODCALLTYPE FileDownload::Authenticate(HWND* window, LPWSTR*, LPWSTR*) {
  if (window) *window = window_;
  return S_OK;
}

}  // namespace System
