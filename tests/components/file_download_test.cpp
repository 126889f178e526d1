#include "components/file_download.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Call {
  ULONG progress, maximum, status;
  void* data;
};
std::vector<Call> calls;
int answer = 0;
int Record(ULONG progress, ULONG maximum, ULONG status, void* data) {
  calls.push_back({progress, maximum, status, data});
  return answer;
}

TEST(FileDownload, ReferencesThroughBothViews) {
  auto* download = new System::FileDownload(Record, nullptr, nullptr);
  EXPECT_EQ(0, download->ReferenceCount());
  EXPECT_EQ(1u, download->AddRef());

  IAuthenticate* authenticate = nullptr;
  ASSERT_EQ(S_OK, download->QueryInterface(IID_IAuthenticate, reinterpret_cast<void**>(&authenticate)));
  ASSERT_NE(nullptr, authenticate);
  EXPECT_EQ(2, download->ReferenceCount());
  EXPECT_EQ(static_cast<IAuthenticate*>(download), authenticate);
  EXPECT_EQ(1u, authenticate->Release());  // the object lives on while the creator holds it

  IUnknown* unknown = nullptr;
  ASSERT_EQ(S_OK, authenticate->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
  EXPECT_EQ(static_cast<IUnknown*>(static_cast<IBindStatusCallback*>(download)), unknown);
  IBindStatusCallback* callback = nullptr;
  ASSERT_EQ(S_OK, unknown->QueryInterface(IID_IBindStatusCallback, reinterpret_cast<void**>(&callback)));
  EXPECT_EQ(static_cast<IBindStatusCallback*>(download), callback);
  EXPECT_EQ(3, download->ReferenceCount());
  callback->Release();
  unknown->Release();

  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, download->QueryInterface(IID_IStream, &other));
  EXPECT_EQ(nullptr, other);
  EXPECT_EQ(1, download->ReferenceCount());
  EXPECT_EQ(0u, download->Release());  // destroys it
}

TEST(FileDownload, OnProgressForwardsAndAbortsOnOne) {
  int data = 0;
  auto* download = new System::FileDownload(Record, &data, nullptr);
  download->AddRef();
  calls.clear();
  const struct {
    int answer;
    HRESULT expected;
  } cases[] = {{0, S_OK}, {2, S_OK}, {-1, S_OK}, {1, E_ABORT}};
  for (const auto& c : cases) {
    answer = c.answer;
    EXPECT_EQ(c.expected, download->OnProgress(10, 20, BINDSTATUS_DOWNLOADINGDATA, L"text")) << c.answer;
  }
  ASSERT_EQ(4u, calls.size());
  EXPECT_TRUE(download->Aborted());
  // After an abort the decision stands, and the callback is not asked again.
  answer = 0;
  EXPECT_EQ(E_ABORT, download->OnProgress(15, 20, BINDSTATUS_DOWNLOADINGDATA, L"text"));
  EXPECT_EQ(4u, calls.size());
  EXPECT_EQ(10u, calls[0].progress);
  EXPECT_EQ(20u, calls[0].maximum);
  EXPECT_EQ(static_cast<ULONG>(BINDSTATUS_DOWNLOADINGDATA), calls[0].status);
  EXPECT_EQ(&data, calls[0].data);
  download->Release();

  auto* silent = new System::FileDownload(nullptr, nullptr, nullptr);
  silent->AddRef();
  EXPECT_EQ(S_OK, silent->OnProgress(1, 2, 3, nullptr));
  silent->Release();
}

// Without a window (a quiet run) no prompt is offered one: nobody is asked.
TEST(FileDownload, AuthenticateGivesTheWindowAndNoCredentials) {
  for (HWND window : {reinterpret_cast<HWND>(0x1234), static_cast<HWND>(nullptr)}) {
    auto* download = new System::FileDownload(nullptr, nullptr, window);
    download->AddRef();
    HWND given = reinterpret_cast<HWND>(0x9999);
    LPWSTR user = const_cast<LPWSTR>(L"untouched"), password = user;
    EXPECT_EQ(S_OK, download->Authenticate(&given, &user, &password));
    EXPECT_EQ(window, given);
    EXPECT_STREQ(L"untouched", user);
    EXPECT_STREQ(L"untouched", password);

    const HRESULT expected = window ? S_OK : E_NOINTERFACE;
    void* binding = nullptr;
    EXPECT_EQ(expected, download->QueryService(IID_IWindowForBindingUI, IID_IWindowForBindingUI, &binding));
    if (binding) {
      HWND owner = nullptr;
      EXPECT_EQ(S_OK, static_cast<IWindowForBindingUI*>(binding)->GetWindow(IID_IAuthenticate, &owner));
      EXPECT_EQ(window, owner);
      // Nobody is asked to accept a certificate problem.
      EXPECT_EQ(E_NOTIMPL, static_cast<IWindowForBindingUI*>(binding)->GetWindow(IID_IHttpSecurity, &owner));
      EXPECT_EQ(nullptr, owner);
      static_cast<IWindowForBindingUI*>(binding)->Release();
    }
    EXPECT_EQ(1, download->ReferenceCount());
    download->Release();
  }
}

// A tick aborts a download that has had no byte for the stall limit, or
// whose callback asks to cancel when the last progress is asked again.
TEST(FileDownload, TickAbortsAStallOrACancel) {
  const DWORD saved = System::downloadStallSeconds;
  const struct {
    DWORD stallSeconds;
    int answer;
    bool aborted, stalled;
    size_t calls;
  } cases[] = {{60, 0, false, false, 2}, {60, 1, true, false, 2}, {0, 0, true, true, 1}};
  for (const auto& c : cases) {
    System::downloadStallSeconds = c.stallSeconds;
    auto* download = new System::FileDownload(Record, nullptr, nullptr);
    download->AddRef();
    calls.clear();
    answer = 0;
    EXPECT_EQ(S_OK, download->OnProgress(700, 900, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    answer = c.answer;
    download->Tick();
    EXPECT_EQ(c.aborted, download->Aborted()) << c.stallSeconds << c.answer;
    EXPECT_EQ(c.stalled, download->Stalled()) << c.stallSeconds << c.answer;
    ASSERT_EQ(c.calls, calls.size()) << c.stallSeconds << c.answer;
    EXPECT_EQ(700u, calls.back().progress);
    EXPECT_EQ(c.calls == 2 ? 0u : 900u, calls.back().maximum);
    download->Release();
  }
  System::downloadStallSeconds = saved;
}

TEST(FileDownload, ErrorTextNamesTheCode) {
  const struct {
    HRESULT result;
    const wchar_t* text;
  } cases[] = {
      {INET_E_DOWNLOAD_FAILURE, L"0x800C0008 download failed"},
      {INET_E_INVALID_CERTIFICATE, L"0x800C0019 invalid certificate"},
      {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), L"0x80070005 Access denied"},
      {static_cast<HRESULT>(0x8FFF1234), L"0x8FFF1234 unknown error"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, System::DownloadErrorText(c.result));
}

TEST(FileDownload, EveryOtherNotificationIsDeclined) {
  auto* download = new System::FileDownload(nullptr, nullptr, nullptr);
  download->AddRef();
  LONG priority = 0;
  DWORD flags = 0;
  EXPECT_EQ(S_OK, download->OnStartBinding(0, nullptr));  // the binding is kept, to abort it
  EXPECT_EQ(E_NOTIMPL, download->GetPriority(&priority));
  EXPECT_EQ(E_NOTIMPL, download->OnLowResource(0));
  EXPECT_EQ(S_OK, download->OnStopBinding(S_OK, nullptr));
  // Asynchronous, pulled as it comes, and never written to the URL cache.
  BINDINFO info{};
  info.cbSize = sizeof(info);
  EXPECT_EQ(S_OK, download->GetBindInfo(&flags, &info));
  EXPECT_EQ(static_cast<DWORD>(BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_GETNEWESTVERSION |
                               BINDF_NOWRITECACHE),
            flags);
  EXPECT_EQ(E_NOTIMPL, download->OnObjectAvailable(IID_IUnknown, nullptr));
  download->Release();
}

// Every download records its status, and an error status ends it before its
// page can be saved as the file.
TEST(FileDownload, RecordsTheStatusAndAbortsOnAnErrorStatus) {
  auto* download = new System::FileDownload(Record, nullptr, nullptr);
  download->AddRef();
  void* negotiate = nullptr;
  ASSERT_EQ(S_OK, download->QueryInterface(IID_IHttpNegotiate, &negotiate));
  static_cast<IHttpNegotiate*>(negotiate)->Release();
  calls.clear();
  EXPECT_EQ(S_OK,
            download->OnResponse(503, L"HTTP/1.1 503 x\r\nretry-after: Fri, 31 Dec 1999 23:59:59 GMT\r\n",
                                 nullptr, nullptr));
  EXPECT_EQ(503u, download->Exchange().status);
  EXPECT_EQ(std::nullopt, download->Exchange().retryAfter);  // a date is not seconds
  EXPECT_EQ(E_ABORT, download->OnProgress(0, 0, BINDSTATUS_MIMETYPEAVAILABLE, nullptr));
  EXPECT_TRUE(calls.empty());
  download->Release();
}

}  // namespace
