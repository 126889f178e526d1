#pragma once

#include <windows.h>
#include <urlmon.h>

#include <optional>

namespace System {

// One HTTP request of a download that negotiates: what it asks for, and what
// the server answered.
struct HttpExchange {
  DWORD rangeFrom = 0;              // above 0: asks only for the bytes from here on
  DWORD status = 0;                 // 0 when no status line came
  std::optional<DWORD> retryAfter;  // Retry-After, when given in seconds
  std::optional<DWORD> rangeStart;  // the first byte that a Content-Range names
};

// The status callback of one URL download. It forwards every progress
// notification to a plain function, whose answer of exactly 1 aborts the
// download (E_ABORT), and gives a login prompt the window as its owner.
// Every other notification is declined with E_NOTIMPL. It logs nothing.
//
// When it negotiates (Negotiate), it is an IHttpNegotiate as well: it asks
// for a range and records the answer. An answer of 400 or more then aborts at
// the next progress notification, so that no error page is saved as the
// file, and the progress of a partial answer (206) is passed on counted from
// the start of the whole file.
//
// Once it has aborted, it answers every later notification with E_ABORT
// without asking again: some URL monikers go on notifying, or even finish
// the download, after an abort, and one decision must stand.
//
// The reference count starts at 0: the creator takes the first reference,
// and the Release that brings it back to 0 destroys the object. The count is
// plain, not atomic: every call comes on the downloading thread.
class FileDownload final : public IBindStatusCallback, public IAuthenticate, public IHttpNegotiate {
 public:
  using ProgressFunction = int (*)(ULONG progress, ULONG progressMax, ULONG statusCode, void* userData);

  FileDownload(ProgressFunction progress, void* userData, HWND window) noexcept
      : progress_(progress), userData_(userData), window_(window) {}
  FileDownload(const FileDownload&) = delete;
  FileDownload& operator=(const FileDownload&) = delete;

  // Makes the download negotiate, asking for the bytes from `rangeFrom` on
  // when that is above 0. Called before the download starts.
  void Negotiate(DWORD rangeFrom) noexcept {
    negotiating_ = true;
    exchange_.rangeFrom = rangeFrom;
  }

  // IUnknown, shared by every view.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IBindStatusCallback
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

  // IAuthenticate: supplies the window, never credentials.
  HRESULT STDMETHODCALLTYPE Authenticate(HWND* window, LPWSTR* userName, LPWSTR* password) override;

  // IHttpNegotiate, reached only when negotiating. BeginningTransaction adds
  // the Range line; OnResponse records the status, Retry-After and
  // Content-Range. Both answer S_OK.
  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                                 LPWSTR* additionalHeaders) override;
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                                       LPWSTR* additionalHeaders) override;

  LONG ReferenceCount() const noexcept { return references_; }
  // Whether it has answered a notification with E_ABORT.
  bool Aborted() const noexcept { return aborted_; }
  // What was asked and answered; all zero unless negotiating.
  const HttpExchange& Exchange() const noexcept { return exchange_; }

 private:
  ~FileDownload() = default;  // only Release destroys it

  ProgressFunction progress_;
  void* userData_;
  LONG references_ = 0;
  HWND window_;
  bool aborted_ = false;
  bool negotiating_ = false;
  HttpExchange exchange_;
};

}  // namespace System
