#pragma once

#include <windows.h>
#include <urlmon.h>

namespace System {

// The status callback of one URL download. It forwards every progress
// notification to a plain function, whose answer of exactly 1 aborts the
// download (E_ABORT), and gives a login prompt the window as its owner.
// Every other notification is declined with E_NOTIMPL. It logs nothing.
//
// Once it has aborted, it answers every later notification with E_ABORT
// without asking again: some URL monikers go on notifying, or even finish
// the download, after an abort, and one decision must stand.
//
// The reference count starts at 0: the creator takes the first reference,
// and the Release that brings it back to 0 destroys the object. The count is
// plain, not atomic: every call comes on the downloading thread.
class FileDownload final : public IBindStatusCallback, public IAuthenticate {
 public:
  using ProgressFunction = int (*)(ULONG progress, ULONG progressMax, ULONG statusCode, void* userData);

  FileDownload(ProgressFunction progress, void* userData, HWND window) noexcept
      : progress_(progress), userData_(userData), window_(window) {}
  FileDownload(const FileDownload&) = delete;
  FileDownload& operator=(const FileDownload&) = delete;

  // IUnknown, shared by both views.
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

  LONG ReferenceCount() const noexcept { return references_; }
  // Whether it has answered a notification with E_ABORT.
  bool Aborted() const noexcept { return aborted_; }

 private:
  ~FileDownload() = default;  // only Release destroys it

  ProgressFunction progress_;
  void* userData_;
  LONG references_ = 0;
  HWND window_;
  bool aborted_ = false;
};

}  // namespace System
