#pragma once

#include <windows.h>
#include <urlmon.h>

#include <wrl/client.h>

#include <optional>
#include <string>

namespace System {

// How long a download may go without receiving a byte, counted from the
// request and then from each byte, before it is given up as stalled.
inline constexpr DWORD kStallSeconds = 60;
// kStallSeconds, except where a test shortens it.
extern DWORD downloadStallSeconds;

// How a download writes what came to its file: WriteFile, unless a test puts
// a disk that fills here.
using WriteFunction = BOOL(WINAPI*)(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED);
extern WriteFunction downloadWrite;

// Whether a write failed for want of space, which no other location mends.
inline bool IsDiskFull(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

// One HTTP request of a download that negotiates: what it asks for, and what
// the server answered.
struct HttpExchange {
  DWORD rangeFrom = 0;              // above 0: asks only for the bytes from here on
  std::wstring ifRange;             // with a range: the validator that the bytes before it came with
  std::wstring validator;           // the answer's ETag, or else its Last-Modified
  bool append = false;              // with a range: the file holds the bytes before it, and the tail joins them
  DWORD status = 0;                 // 0 when no status line came
  std::optional<DWORD> retryAfter;  // Retry-After, when given in seconds
  std::optional<DWORD> rangeStart;  // the first byte that a Content-Range names
  bool stalled = false;             // ended after no byte came for downloadStallSeconds
};

// "no data for N s", N being downloadStallSeconds.
std::wstring StallReason();

// A failing download's HRESULT as "0x%08X <short text>": urlmon's own codes
// by name, WinINet's and the system's by their message, in English where the
// system has it; "unknown error" for a code that none of them knows.
std::wstring DownloadErrorText(HRESULT result);

// The status callback of one URL download, bound asynchronously with the
// data pulled as it comes: each piece is written to the file given at once,
// so that what has arrived is on the disk whatever happens to the process
// later, and no copy is written to the URL cache. It forwards every progress
// notification to a plain function, whose answer of exactly 1 aborts the
// download (E_ABORT), and gives a login prompt the window as its owner.
// Every other notification is declined with E_NOTIMPL. It logs nothing.
//
// It keeps the binding that it is given at the start, so that Tick, called
// on the downloading thread while the download waits, can abort it: when no
// byte has come for downloadStallSeconds (Stalled), or when the function
// answers 1 to a repeat of the last progress, so that a cancel is seen even
// while no byte moves.
//
// It records the HTTP status of every download (IHttpNegotiate), and an
// answer of 400 or more aborts at the next progress notification, so that no
// error page (a proxy's 407 page has no length to refuse it by) is saved as
// the file. When it negotiates (Negotiate), it also asks for a range, and the
// progress of a partial answer (206) is passed on counted from the start of
// the whole file; with a validator, the range is asked for only if the file
// is still the one that the validator names (If-Range).
//
// With a window, it offers it for the platform's own credential prompt
// (IWindowForBindingUI, also through IServiceProvider); without one it
// offers none, so that nothing can ask anybody anything. It never answers
// IHttpSecurity: a certificate problem is never accepted.
//
// Once it has aborted, it answers every later notification with E_ABORT
// without asking again: some URL monikers go on notifying, or even finish
// the download, after an abort, and one decision must stand.
//
// The reference count starts at 0: the creator takes the first reference,
// and the Release that brings it back to 0 destroys the object. The count is
// plain, not atomic: every call comes on the downloading thread.
class FileDownload final : public IBindStatusCallback,
                           public IAuthenticate,
                           public IHttpNegotiate,
                           public IServiceProvider,
                           public IWindowForBindingUI {
 public:
  using ProgressFunction = int (*)(ULONG progress, ULONG progressMax, ULONG statusCode, void* userData);

  // `file`, open for writing, receives the body; an error status writes
  // nothing to it.
  FileDownload(ProgressFunction progress, void* userData, HWND window, HANDLE file = INVALID_HANDLE_VALUE) noexcept
      : progress_(progress), userData_(userData), window_(window), file_(file), lastData_(GetTickCount64()) {}
  FileDownload(const FileDownload&) = delete;
  FileDownload& operator=(const FileDownload&) = delete;

  // Makes the download negotiate, asking for the bytes from `rangeFrom` on
  // when that is above 0. Called before the download starts.
  void Negotiate(DWORD rangeFrom, const std::wstring& ifRange = {}) {
    negotiating_ = true;
    exchange_.rangeFrom = rangeFrom;
    exchange_.ifRange = rangeFrom > 0 ? ifRange : std::wstring();
  }

  // IUnknown, shared by every view.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IBindStatusCallback
  // Keeps the binding for Tick, until OnStopBinding, which records how the
  // download ended.
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                       LPCWSTR statusText) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR) override;
  // An asynchronous GET whose data is pulled as it comes and never cached.
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
  // Reads what has come and writes it to the file; E_ABORT once aborted, for
  // an error status, or when the file cannot be written (WriteError).
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

  // IAuthenticate: supplies the window, never credentials.
  HRESULT STDMETHODCALLTYPE Authenticate(HWND* window, LPWSTR* userName, LPWSTR* password) override;

  // IHttpNegotiate. BeginningTransaction adds the Range line when
  // negotiating; OnResponse records the status, Retry-After and
  // Content-Range. Both answer S_OK.
  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                                 LPWSTR* additionalHeaders) override;
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                                       LPWSTR* additionalHeaders) override;

  // IServiceProvider: the prompt's services, as QueryInterface gives them.
  HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID id, void** object) override;
  // IWindowForBindingUI, reached only with a window: gives that window for
  // a credential prompt (reason IID_IAuthenticate), and none for any other
  // reason, a certificate problem above all, which then simply fails.
  HRESULT STDMETHODCALLTYPE GetWindow(REFGUID reason, HWND* window) override;

  // Called on the downloading thread while the download waits: aborts it
  // when it has stalled or the progress function asks to cancel, and tells
  // the binding of an abort that a notification answered. Does nothing while
  // the progress function is being asked.
  void Tick() noexcept;

  // Whether OnStopBinding has come, and the result it brought.
  bool Stopped() const noexcept { return stopped_; }
  HRESULT StopResult() const noexcept { return stopResult_; }
  // The error of a write to the file that failed; 0 when none did.
  DWORD WriteError() const noexcept { return writeError_; }

  LONG ReferenceCount() const noexcept { return references_; }
  // Whether it has answered a notification with E_ABORT.
  bool Aborted() const noexcept { return aborted_; }
  // Whether Tick aborted it for want of data.
  bool Stalled() const noexcept { return stalled_; }
  // What was asked and answered; all zero unless negotiating.
  const HttpExchange& Exchange() const noexcept { return exchange_; }

 private:
  ~FileDownload() = default;  // only Release destroys it
  int Ask(ULONG progress, ULONG progressMax, ULONG statusCode);
  void Abort();

  ProgressFunction progress_;
  void* userData_;
  LONG references_ = 0;
  HWND window_;
  HANDLE file_;
  bool aborted_ = false;
  bool abortSent_ = false;  // the binding has been told to abort
  bool stopped_ = false;
  HRESULT stopResult_ = S_OK;
  DWORD writeError_ = 0;
  bool stalled_ = false;
  bool asking_ = false;  // inside the progress function, which a tick must not re-enter
  bool negotiating_ = false;
  HttpExchange exchange_;
  Microsoft::WRL::ComPtr<IBinding> binding_;
  ULONGLONG lastData_;         // when the request began or the last byte came
  ULONG lastProgress_ = 0;     // the last progress passed to the function
  ULONG highestProgress_ = 0;  // as the download counts it, to see new bytes
};

}  // namespace System
