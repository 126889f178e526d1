#include "components/file_download.h"

namespace System {

HRESULT STDMETHODCALLTYPE FileDownload::QueryInterface(REFIID id, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (IsEqualIID(id, IID_IUnknown)) {
    *object = static_cast<IBindStatusCallback*>(this);
  } else if (IsEqualIID(id, IID_IAuthenticate)) {
    *object = static_cast<IAuthenticate*>(this);
  } else if (IsEqualIID(id, IID_IBindStatusCallback)) {
    *object = static_cast<IBindStatusCallback*>(this);
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
  if (!progress_) return S_OK;
  aborted_ = progress_(progress, progressMax, statusCode, userData_) == 1;
  return aborted_ ? E_ABORT : S_OK;
}

HRESULT STDMETHODCALLTYPE FileDownload::Authenticate(HWND* window, LPWSTR*, LPWSTR*) {
  if (window) *window = window_;
  return S_OK;
}

}  // namespace System
