// Downloads from real servers on 127.0.0.1: nginx for well-behaved ones, the
// project's own misbehaving server, over TLS too, and proxies. The test
// runner (scripts/test-servers.sh) starts them all and names them in
// TESSEL_* variables.
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "components/download_retry.h"
#include "components/file_download.h"
#include "deploy/lifecycle.h"
#include "system/cache_folder.h"
#include "system/file_system.h"
#include "system/unique_handle.h"
#include "tests/components/component_fixture.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Testing::Narrow;

std::wstring Environment(const wchar_t* name) {
  wchar_t value[1024] = L"";
  GetEnvironmentVariableW(name, value, 1024);
  return value;
}

// Where Wine shows a Unix path: on drive Z:.
std::wstring WinePath(std::wstring unixPath) {
  for (wchar_t& c : unixPath) c = c == L'/' ? L'\\' : c;
  return L"Z:" + unixPath;
}

// The fault server's bodies: byte i of seed s is (i * 31 + s) & 0xFF.
std::string Pattern(size_t size, int seed = 0) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + seed) & 0xFF);
  return bytes;
}

class DownloadTest : public Testing::ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    httpPort_ = Environment(L"TESSEL_HTTP_PORT");
    faultPort_ = Environment(L"TESSEL_FAULT_PORT");
    const std::wstring root = Environment(L"TESSEL_WWW_ROOT");
    ASSERT_FALSE(httpPort_.empty() || faultPort_.empty() || root.empty())
        << "run the tests through scripts/test.sh, which starts the servers";
    wwwRoot_ = WinePath(root);
  }
  void TearDown() override {
    // Every urlmon download leaves a copy in the cache.
    for (const std::wstring& url : urls_) DeleteUrlCacheEntryW(url.c_str());
    for (const std::wstring& file : served_) DeleteFileW(file.c_str());
    ComponentTest::TearDown();
  }

  // A unique URL, so that no cached copy of an earlier run can answer.
  std::wstring Unique(const std::wstring& url) {
    static unsigned counter = 0;
    std::wstring unique = url + (url.find(L'?') == std::wstring::npos ? L"?" : L"&") + L"u=" +
                          std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    urls_.push_back(unique);
    return unique;
  }
  // Puts a file where nginx serves it; `where` is "" or a throttled folder such as "slow/".
  std::wstring Serve(const std::string& content, const std::wstring& where = L"") {
    const std::wstring name = L"file-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(served_.size() + 1) + L".bin";
    served_.push_back(wwwRoot_ + L"\\" + name);
    Testing::WriteFileBytes(served_.back(), content);
    return Unique(L"http://127.0.0.1:" + httpPort_ + L"/" + where + name);
  }
  std::wstring Fault(const std::wstring& path) { return Unique(L"http://127.0.0.1:" + faultPort_ + path); }

  std::wstring httpPort_, faultPort_, wwwRoot_;
  std::vector<std::wstring> urls_, served_;
};

// One launcher at a time writes an entry of the download cache: another, as
// from a second session, fetches its own copy. An entry that no run has used
// for 30 days goes at the next run that fetches, unless a run has claimed it.
TEST_F(DownloadTest, CacheEntriesAreClaimedOneAtATimeAndGoAfter30Days) {
  Testing::TempFolder root;
  System::Detail::SetCacheRoot(root.path());
  const std::string content = Pattern(4000, 7);
  Component::Record* component = MakeComponent(L"Client", content);
  std::optional<Component::CacheEntry> first = Component::ClaimCacheEntry(*component);
  ASSERT_TRUE(first.has_value());
  {
    Testing::LogCapture log;
    EXPECT_FALSE(Component::ClaimCacheEntry(*component).has_value());
    EXPECT_EQ(Lines{"Component::ClaimCacheEntry - " + Narrow(first->file) +
                    " is being fetched by another launcher: this run fetches its own copy"},
              log.Lines());
  }
  Testing::WriteFileBytes(first->file, content.substr(0, 1000));
  const auto age = [](const std::wstring& file, int days) {
    const UniqueFile handle(CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 3600 * 10000000;
    const FILETIME then{time.LowPart, time.HighPart};
    SetFileTime(handle.get(), nullptr, nullptr, &then);
  };
  const std::wstring old = System::ParentFolder(first->file) + L"\\4000-0123-.bin";
  const std::wstring recent = System::ParentFolder(first->file) + L"\\4000-4567-.bin";
  Testing::WriteFileBytes(old, "old");
  Testing::WriteFileBytes(recent, "recent");
  age(first->file, 31);
  age(old, 31);
  age(recent, 29);
  Testing::LogCapture log;
  Component::PruneCache();
  EXPECT_EQ(Lines{"Component::PruneCache - deleted " + Narrow(old) + ", unused for 30 days"}, log.Lines());
  EXPECT_EQ(1000u, System::FileSize(first->file).value_or(0)) << "a claimed entry is in use";
  EXPECT_TRUE(System::FileSize(recent).has_value());
  // A second name that a killed run left in its run folder: the kept bytes
  // are taken, as a file of one name again.
  const std::wstring file = first->file, left = root.File(L"left-in-a-run-folder.bin");
  first.reset();
  ASSERT_TRUE(CreateHardLinkW(left.c_str(), file.c_str(), nullptr));
  EXPECT_TRUE(Component::ClaimCacheEntry(*component).has_value()) << "the claim goes with its run";
  const UniqueFile kept(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  ASSERT_TRUE(GetFileInformationByHandle(kept.get(), &information));
  EXPECT_EQ(1u, information.nNumberOfLinks);
  EXPECT_EQ(1000u, System::FileSize(file).value_or(0));
  EXPECT_EQ(1000u, System::FileSize(left).value_or(0));
}

TEST_F(DownloadTest, DownloadsThroughATemporaryFileAndReportsProgress) {
  const std::string content = Pattern(300000, 3);
  Component::Record* component = MakeComponent(L"Client", content);
  component->AddLocation(TRANSFER_DOWNLOAD, Serve(content));
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_EQ(content, Read(DestinationOf(*component)));
  EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component) + L".tmp"));
  ASSERT_FALSE(window().Status().texts.empty());
  EXPECT_EQ(L"Downloading component (1 of 1)...", window().Status().texts.front());
  EXPECT_EQ(L"Display of Client", window().Component().texts.front());
  EXPECT_EQ(L"300.0 of 300.0 KB", window().Size().texts.back());
  EXPECT_EQ(100, window().BarPosition());
  EXPECT_EQ(300000u, Component::transferDone);
}

TEST_F(DownloadTest, IndexCountsOnlyTheComponentsBeingFetched) {
  for (int i = 1; i <= 5; ++i) {
    const std::string content = Pattern(1000 * i, i);
    Component::Record* component = MakeComponent(L"C" + std::to_wstring(i), content);
    if (i == 2 || i == 4) {
      component->AddLocation(TRANSFER_DOWNLOAD, Serve(content));
    } else {
      component->check = Installed();
    }
  }
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_EQ(
      (std::vector<std::wstring>{L"Downloading component (1 of 2)...", L"Downloading component (2 of 2)..."}),
      window().Status().texts);
  EXPECT_EQ((std::vector<std::wstring>{L"Display of C2", L"Display of C4"}), window().Component().texts);
  EXPECT_EQ(6000u, Component::transferTotal);
}

// The first location fails in one way, the second serves the file.
TEST_F(DownloadTest, EachFailureAtTheFirstLocationLeadsToTheSecond) {
  const size_t size = 50000;
  const std::string content = Pattern(size);
  const struct {
    const wchar_t* path;
    const char* what;
  } faults[] = {
      {L"/bytes/50010", "announces another length"},
      {L"/status/404", "not found"},
      {L"/status/500", "server error"},
      {L"/drop/50000/20000", "drops the connection"},
      {L"/bytes/50000?seed=9", "right size, wrong digest"},
  };
  for (const auto& fault : faults) {
    Reset();
    Component::Record* component = MakeComponent(L"Client", content);
    Component::Location* first = component->AddLocation(TRANSFER_DOWNLOAD, Fault(fault.path));
    component->AddLocation(TRANSFER_DOWNLOAD, Serve(content));
    EXPECT_EQ(RESULT_PASSED, GatherInWorker()) << fault.what;
    EXPECT_EQ(content, Read(DestinationOf(*component))) << fault.what;
    EXPECT_FALSE(first->aborted) << fault.what;
    EXPECT_FALSE(Component::transferAborted) << fault.what;
  }
}

// Wine's URL moniker reports success for an HTTP error and for a dropped
// connection; the status, and the size and MD5 checks, are what keep an
// error page or a partial body from being taken for the component.
TEST_F(DownloadTest, FailuresAloneAreReportedAndNeverTakenForTheFile) {
  const std::string content = Pattern(50000);
  const wchar_t* const faults[] = {L"/bytes/50010", L"/status/404", L"/status/500", L"/drop/50000/20000",
                                   L"/bytes/50000?seed=9"};
  for (const wchar_t* fault : faults) {
    Reset();
    Component::Record* component = MakeComponent(L"Client", content);
    component->AddLocation(TRANSFER_DOWNLOAD, Fault(fault));
    EXPECT_NE(RESULT_PASSED, GatherInWorker()) << Narrow(fault);
    EXPECT_NE(RESULT_PASSED, Component::IsPresent(*component)) << Narrow(fault);
    EXPECT_FALSE(Component::transferAborted) << Narrow(fault);
  }
}

TEST_F(DownloadTest, AnnouncedLengthOtherThanTheSizeAbortsWithoutACancel) {
  const std::string content = Pattern(50000);
  Component::Record* component = MakeComponent(L"Client", content);
  const std::wstring url = Fault(L"/bytes/50010");
  Component::Location* location = component->AddLocation(TRANSFER_DOWNLOAD, url);
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_FAILED, GatherInWorker());
  EXPECT_FALSE(location->aborted);
  EXPECT_EQ((Lines{"Component::Location::DownloadProgress - Download Aborted " + Narrow(url) +
                       ", Size does not match",
                   "System::DownloadFileTo - URLDownloadToFile Aborted (url: " + Narrow(url) + ")",
                   "Component::GatherComponents (291) - Problem Retrieving Component: Client"}),
            log.Lines());
}

// Whether bytes flow or none come at all, a cancel ends the download: with
// no bytes, the ticks in the download's wait are what see it.
TEST_F(DownloadTest, UserCancelStopsTheComponentAndKeepsNothingUnderItsName) {
  const size_t size = 2000000;
  const std::string content = Pattern(size, 5);
  for (const wchar_t* fault : {L"/trickle/2000000/20", L"/hang"}) {
    Reset();
    Component::Record* component = MakeComponent(L"Client", content);
    const std::wstring url = Fault(fault);
    Component::Location* first = component->AddLocation(TRANSFER_DOWNLOAD, url);
    const std::wstring second = Serve(content);
    component->AddLocation(TRANSFER_DOWNLOAD, second);

    Testing::LogCapture log;
    bool cancelled = false;
    const Result result = GatherInWorker([&] {
      if (!cancelled && !window().Status().texts.empty()) {
        cancelled = true;
        Deploy::Quit();  // as a confirmed cancel does
      }
    });
    const std::string what = Narrow(fault);
    EXPECT_TRUE(cancelled) << what;
    EXPECT_EQ(RESULT_FAILED, result) << what;
    EXPECT_TRUE(first->aborted) << what;
    EXPECT_TRUE(Component::transferAborted) << what;
    for (const wchar_t* suffix : {L"", L".tmp"})
      EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component) + suffix)) << what;
    const Lines lines = log.Lines();
    bool abortedLine = false;
    for (const std::string& line : lines) {
      EXPECT_EQ(std::string::npos, line.find(Narrow(second))) << "the second location was tried: " << line;
      abortedLine =
          abortedLine || line == "Component::Location::DownloadProgress - Download Aborted " + Narrow(url);
    }
    EXPECT_TRUE(abortedLine) << what;
    EXPECT_EQ("Component::GatherComponents (291) - Problem Retrieving Component: Client", lines.back()) << what;
  }
}

// Before the first byte, each volume must have room for what is still to
// come and the margin; the cache's kept bytes count as come. A volume that
// is short ends the gathering with nothing requested.
ULONGLONG freeBytes = 0;
bool StandInFreeSpace(const std::wstring&, ULONGLONG& free) {
  free = freeBytes;
  return true;
}

TEST_F(DownloadTest, FreeSpaceIsCheckedBeforeTheFirstByte) {
  const Component::FreeSpaceFunction saved = std::exchange(Component::freeSpace, StandInFreeSpace);
  Testing::TempFolder cache;
  const std::string content = Pattern(3000000, 11);
  const ULONGLONG margin = Component::kSpaceMargin;
  const struct {
    bool cached;     // the download cache is there, and holds a third of the file
    ULONGLONG free;  // on the one volume of the run folder and the cache
    bool fetched;
  } cases[] = {
      {false, 3000000 + margin, true},
      {false, 3000000 + margin - 1, false},
      {true, 2000000 + margin, true},  // the cache and the run folder share a volume: one copy counts
      {true, 2000000 + margin - 1, false},
  };
  for (const auto& c : cases) {
    Reset();
    freeBytes = c.free;
    System::Detail::SetCacheRoot(c.cached ? cache.path() : L"");
    Component::Record* component = MakeComponent(L"Client", content);
    const std::wstring url = Serve(content);
    component->AddLocation(TRANSFER_DOWNLOAD, url);
    if (c.cached) Testing::WriteFileBytes(*Component::CacheFileOf(*component), content.substr(0, 1000000));
    Testing::LogCapture log;
    const std::string what = std::to_string(c.cached) + " " + std::to_string(c.free);
    EXPECT_EQ(c.fetched ? RESULT_PASSED : RESULT_FAILED, GatherInWorker()) << what;
    EXPECT_EQ(!c.fetched, Component::transferShortage.has_value()) << what;
    bool requested = false;
    for (const std::string& line : log.Lines()) requested = requested || line.find(Narrow(url)) != std::string::npos;
    EXPECT_EQ(c.fetched && c.cached, requested) << what;  // only a resume logs its address
    if (!c.fetched) {
      const std::wstring folder = c.cached ? cache.path() + L"\\TesselCache" : component->dest.value_or(L"");
      EXPECT_EQ(Lines{"Component::GatherComponents - not enough free space for " + Narrow(folder) + ": " +
                      std::to_string(c.cached ? 12 : 13) + " MB needed, " +
                      std::to_string(c.free / 1000000) + " MB free"},
                log.Lines())
          << what;
      EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component))) << what;
    }
  }
  Component::freeSpace = saved;
}

// A disk that fills during a download: the attempt names the Windows error,
// leaves nothing, and no other location is tried, with retries or without,
// with the download cache or without.
DWORD room = 0;  // what the disk that fills still takes
BOOL WINAPI WriteUntilFull(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) {
  if (size > room) {
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  room -= size;
  return WriteFile(file, data, size, written, nullptr);
}

TEST_F(DownloadTest, ADiskThatFillsEndsTheComponentAndLeavesNothing) {
  const System::WriteFunction saved = std::exchange(System::downloadWrite, WriteUntilFull);
  Testing::TempFolder cache;
  const std::string content = Pattern(200000, 9);
  for (const bool cached : {false, true}) {
    for (const int retries : {0, 2}) {
      Reset();
      room = 20000;
      System::Detail::SetCacheRoot(cached ? cache.path() : L"");
      Component::Record* component = MakeComponent(L"Client", content);
      const std::wstring url = Serve(content);
      component->AddLocation(TRANSFER_DOWNLOAD, url)->retries = retries;
      const std::wstring second = Serve(content);
      component->AddLocation(TRANSFER_DOWNLOAD, second);
      Testing::LogCapture log;
      EXPECT_EQ(RESULT_ERROR, GatherInWorker()) << cached << retries;
      const Lines lines = log.Lines();
      // The system's text for it: "Disk full" under Wine.
      const std::string reason = Narrow(System::DownloadErrorText(HRESULT_FROM_WIN32(ERROR_DISK_FULL)));
      EXPECT_TRUE(reason.starts_with("0x80070070 ") && reason.size() > 11) << reason;
      EXPECT_NE(lines.end(),
                std::find(lines.begin(), lines.end(), "System::DownloadFileTo - " + Narrow(url) + ": " + reason))
          << cached << retries << testing::PrintToString(lines);
      for (const std::string& line : lines)
        EXPECT_EQ(std::string::npos, line.find(Narrow(second))) << "the second location was tried: " << line;
      for (const wchar_t* suffix : {L"", L".tmp"})
        EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component) + suffix)) << cached << retries;
      EXPECT_TRUE(Testing::FilesIn(cache).empty()) << cached << retries;
    }
  }
  System::downloadWrite = saved;
}

// The seam that keeps the stall tests from waiting a minute each.
class ShortStall {
 public:
  ShortStall() : saved_(std::exchange(System::downloadStallSeconds, 1)) {}
  ~ShortStall() { System::downloadStallSeconds = saved_; }

 private:
  DWORD saved_;
};

// A failed attempt ends with one line that says why, and leaves nothing
// behind; the next location then serves the file. A success says nothing.
// A file that came short says so.
TEST_F(DownloadTest, EveryFailedAttemptSaysWhy) {
  const ShortStall stall;
  const std::string content = Pattern(50000);
  const std::wstring refused = L"http://127.0.0.1:1/nothing";
  const struct {
    std::wstring url;
    Lines lines;  // of System::DownloadFileTo, the URL written "URL"
  } cases[] = {
      {Fault(L"/bytes/50000"), {}},
      {Fault(L"/status/404"), {"URLDownloadToFile Failed (url: URL)", "URL: HTTP status 404"}},
      {Fault(L"/stall/50000/1000"), {"URLDownloadToFile Failed (url: URL)", "URL: no data for 1 s"}},
      {Fault(L"/hang"), {"URLDownloadToFile Failed (url: URL)", "URL: no data for 1 s"}},
      {refused, {"URLDownloadToFile Failed (url: URL)", "URL: 0x800C0008 download failed"}},
      // A body cut short, which the moniker reports as complete.
      {Fault(L"/drop/50000/2500"), {"FILE: 2500 bytes, expected 50000"}},
  };
  for (const auto& c : cases) {
    Reset();
    Component::Record* component = MakeComponent(L"Client", content);
    component->AddLocation(TRANSFER_DOWNLOAD, c.url);
    component->AddLocation(TRANSFER_DOWNLOAD, Serve(content));
    Testing::LogCapture log;
    const std::string what = Narrow(c.url);
    EXPECT_EQ(RESULT_PASSED, GatherInWorker()) << what;
    EXPECT_EQ(content, Read(DestinationOf(*component))) << what;
    EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component) + L".tmp")) << what;
    constexpr std::string_view kPrefix = "System::DownloadFileTo - ", kSizePrefix = "System::VerifyFilesize - ";
    const std::string file = Narrow(DestinationOf(*component));
    Lines lines;
    for (std::string line : log.Lines()) {
      if (line.starts_with(kSizePrefix) && line.starts_with(std::string(kSizePrefix) + file + ":")) {
        lines.push_back("FILE" + line.substr(kSizePrefix.size() + file.size()));
        continue;
      }
      if (!line.starts_with(kPrefix) || line.find(what) == std::string::npos) continue;
      for (size_t at; (at = line.find(what)) != std::string::npos;) line.replace(at, what.size(), "URL");
      lines.push_back(line.substr(kPrefix.size()));
    }
    EXPECT_EQ(c.lines, lines) << what;
  }
}

TEST_F(DownloadTest, ThrottledDownloadReportsManyStepsAndFinishes) {
  const std::string content = Pattern(600000, 1);
  Component::Record* component = MakeComponent(L"Client", content);
  component->AddLocation(TRANSFER_DOWNLOAD, Serve(content, L"slow/"));
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_EQ(content, Read(DestinationOf(*component)));
  EXPECT_GE(window().Size().texts.size(), 3u);
  EXPECT_EQ(L"600.0 of 600.0 KB", window().Size().texts.back());
}

// The retries' waits, on the test's own clock: no time passes.
DWORD waited = 0;
bool quitInWait = false;
void TestSleep(DWORD milliseconds) {
  waited += milliseconds;
  if (quitInWait) Deploy::Quit();  // as a confirmed cancel does
}

class RetryTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    saved_ = std::exchange(Component::retrySleep, TestSleep);
    // The longest wait of each spread, so that the waits are known.
    savedRandom_ = std::exchange(Component::retryRandom, [](DWORD bound) { return bound; });
  }
  void TearDown() override {
    Component::retrySleep = saved_;
    Component::retryRandom = savedRandom_;
    quitInWait = false;
    DownloadTest::TearDown();
  }
  // A component whose first location runs `script` on the fault server with
  // `retries`, and whose second serves the file.
  Component::Record* Scripted(const std::string& content, const std::wstring& script, int retries) {
    waited = 0;
    Reset();
    Component::Record* component = MakeComponent(L"Client", content);
    url_ = Fault(L"/script/" + std::to_wstring(content.size()) + L"/" + script);
    component->AddLocation(TRANSFER_DOWNLOAD, url_)->retries = retries;
    component->AddLocation(TRANSFER_DOWNLOAD, Serve(content));
    return component;
  }
  // The Range header of each request for the script, "-" for none.
  Lines Requests() {
    const std::wstring record = folder().File(L"requests.txt");
    const std::wstring key = url_.substr(url_.rfind(L"u=") + 2);
    URLDownloadToFileW(nullptr, Fault(L"/requests?of=" + key).c_str(), record.c_str(), 0, nullptr);
    return Testing::SplitLines(Read(record));
  }
  // The lines of "Component::Location::" after that prefix, the URL written "URL".
  Lines LocationLines(const Testing::LogCapture& log) {
    constexpr std::string_view kPrefix = "Component::Location::";
    Lines lines;
    for (std::string line : log.Lines()) {
      if (!line.starts_with(kPrefix)) continue;
      if (const size_t at = line.find(Narrow(url_)); at != std::string::npos)
        line.replace(at, url_.size(), "URL");
      lines.push_back(line.substr(kPrefix.size()));
    }
    return lines;
  }

  Component::SleepFunction saved_ = nullptr;
  Component::RandomFunction savedRandom_ = nullptr;
  std::wstring url_;
};

TEST(Retry, TransientStatusesAndWaits) {
  for (DWORD status : {408u, 429u, 500u, 599u}) EXPECT_TRUE(Component::IsTransientStatus(status)) << status;
  for (DWORD status : {0u, 400u, 404u, 416u, 600u})
    EXPECT_FALSE(Component::IsTransientStatus(status)) << status;
  const struct {
    int number;
    std::optional<DWORD> retryAfter;
    DWORD seconds;
  } waits[] = {{1, {}, 1}, {3, {}, 4}, {5, {}, 16}, {6, {}, 30}, {10, {}, 30}, {4, 0, 0}, {1, 120, 60}};
  for (const auto& wait : waits)
    EXPECT_EQ(wait.seconds, Component::RetryDelay(wait.number, wait.retryAfter)) << wait.number;

  // A backoff is spread from half of it to all of it; a server's Retry-After is not.
  const Component::RandomFunction saved = Component::retryRandom;
  const struct {
    Component::RandomFunction random;
    DWORD seconds;
    bool fromServer;
    DWORD milliseconds;
  } spreads[] = {
      {[](DWORD) { return DWORD{0}; }, 4, false, 2000},
      {[](DWORD bound) { return bound; }, 4, false, 4000},
      {[](DWORD bound) { return bound / 2; }, 1, false, 750},
      {[](DWORD) { return DWORD{MAXDWORD}; }, 30, false, 30000},
      {[](DWORD) { return DWORD{0}; }, 4, true, 4000},
  };
  for (const auto& spread : spreads) {
    Component::retryRandom = spread.random;
    EXPECT_EQ(spread.milliseconds, Component::SpreadDelay(spread.seconds, spread.fromServer)) << spread.seconds;
  }
  Component::retryRandom = saved;
}

// Every case ends with the file in place, from the first location or the
// second, every byte counted once and the bar never going back.
TEST_F(RetryTest, TransientFailuresAreRetriedAndCutBodiesResumed) {
  const ShortStall stall;
  const std::string content = Pattern(100000);
  const struct {
    const wchar_t* script;
    int retries;
    Lines requests, lines;
    DWORD waitedMs;
  } cases[] = {
      {L"404", 3, {"-"}, {"GetFile - Download Failed URL (404)"}, 0},
      {L"500/503-after-1/ok",
       3,
       {"-", "-", "-"},
       {"GetFile - retry 1 of 3 in 1.0 s (500)", "GetFile - retry 2 of 3 in 1.0 s (503)"},
       2000},
      {L"reset/ok", 1, {"-", "-"}, {"GetFile - retry 1 of 1 in 1.0 s (connection failed)"}, 1000},
      {L"cut-50000/range", 1, {"-", "bytes=50000-"}, {"GetFile - retry 1 of 1 in 1.0 s (short body)"}, 1000},
      {L"cut-50000/ok", 1, {"-", "bytes=50000-"}, {"GetFile - retry 1 of 1 in 1.0 s (short body)"}, 1000},
      {L"stall-50000/range", 1, {"-", "bytes=50000-"}, {"GetFile - retry 1 of 1 in 1.0 s (no data for 1 s)"}, 1000},
      {L"hang/ok", 1, {"-", "-"}, {"GetFile - retry 1 of 1 in 1.0 s (no data for 1 s)"}, 1000},
      {L"cut-50000/badrange/ok",
       1,
       {"-", "bytes=50000-", "-"},
       {"GetFile - retry 1 of 1 in 1.0 s (short body)",
        "GetFile - resumed download of URL failed its checks, one full download more"},
       1000},
      {L"500",
       2,
       {"-", "-", "-"},
       {"GetFile - retry 1 of 2 in 1.0 s (500)", "GetFile - retry 2 of 2 in 2.0 s (500)",
        "GetFile - Download Failed URL (500)"},
       3000},
  };
  for (const auto& c : cases) {
    const std::string what = Narrow(c.script);
    Component::Record* component = Scripted(content, c.script, c.retries);
    Testing::LogCapture log;
    EXPECT_EQ(RESULT_PASSED, GatherInWorker()) << what;
    EXPECT_EQ(content, Read(DestinationOf(*component))) << what;
    EXPECT_EQ(c.requests, Requests()) << what;
    EXPECT_EQ(c.lines, LocationLines(log)) << what;
    EXPECT_EQ(c.waitedMs, waited) << what;
    EXPECT_EQ(100000u, Component::transferDone) << what;
    const std::vector<int>& bar = window().Progress().positions;
    EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end())) << what;
    EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component) + L".part")) << what;
  }
}

TEST_F(RetryTest, CancelEndsAWaitOrABodyAndLeavesNoFile) {
  for (const bool inWait : {true, false}) {
    Component::Record* component = Scripted(Pattern(2000000), inWait ? L"500" : L"slow-20", 3);
    quitInWait = inWait;
    Testing::LogCapture log;
    bool cancelled = false;
    const Result result = GatherInWorker([&] {
      if (inWait || cancelled || window().Status().texts.empty()) return;
      cancelled = true;
      Deploy::Quit();
    });
    EXPECT_EQ(RESULT_FAILED, result) << inWait;
    EXPECT_TRUE(Component::transferAborted) << inWait;
    EXPECT_EQ(Lines{"-"}, Requests()) << inWait;
    Lines lines{"DownloadProgress - Download Aborted URL"};
    if (inWait) lines.insert(lines.begin(), "GetFile - retry 1 of 3 in 1.0 s (500)");
    EXPECT_EQ(lines, LocationLines(log)) << inWait;
    for (const wchar_t* suffix : {L"", L".tmp", L".part"})
      EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component) + suffix)) << inWait;
  }
}

// A visible top-level window of this process other than the run's own, such
// as a login prompt or a certificate warning; null when there is none.
BOOL CALLBACK FindPrompt(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window) || window == Deploy::RunWindow().main)
    return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The lines of "System::DownloadFileTo - URL: REASON" for `url`: one per
// failed attempt.
Lines AttemptLines(const Testing::LogCapture& log, const std::wstring& url) {
  const std::string prefix = "System::DownloadFileTo - " + Narrow(url) + ": ";
  Lines lines;
  for (const std::string& line : log.Lines())
    if (line.starts_with(prefix)) lines.push_back(line);
  return lines;
}

class NetworkTest : public DownloadTest {
 protected:
  // Gathers as GatherInWorker does, and fails if any window asks the person
  // something meanwhile: the run's window is a real prompt owner here, and a
  // question on a download's behalf would block the run or, for a
  // certificate, let a Yes accept it. Such a window is closed, so that the
  // test ends.
  Result GatherWithoutPrompts() {
    bool prompted = false;
    const Result result = GatherInWorker([&] {
      HWND prompt = nullptr;
      EnumWindows(FindPrompt, reinterpret_cast<LPARAM>(&prompt));
      if (!prompt) return;
      prompted = true;
      PostMessageW(prompt, WM_CLOSE, 0, 0);
    });
    EXPECT_FALSE(prompted) << "a window asked something during the download";
    return result;
  }
  // Neither the temporary file nor the tail of a resumed download is left.
  void ExpectNoPieces(const Component::Record& component, const std::string& what) {
    for (const wchar_t* suffix : {L".tmp", L".part"})
      EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(component) + suffix))
          << what << Narrow(suffix);
  }
};

// wininet checks the server's certificate through crypt32, against the test
// CA that the test run made the prefix trust. A refused certificate ends the
// download before any request is sent.
TEST_F(NetworkTest, OnlyATrustedCertificateForTheHostIsAccepted) {
  const std::string content = Pattern(50000, 4);
  const std::string refused = "0x800C0019 invalid certificate";
  const struct {
    const wchar_t* portVariable;
    const char* what;
    bool accepted;
  } servers[] = {
      {L"TESSEL_TLS_PORT", "from the trusted CA", true},
      {L"TESSEL_TLS_SELF_PORT", "self-signed", false},
      {L"TESSEL_TLS_OTHER_PORT", "for another name", false},
  };
  for (const auto& server : servers) {
    Reset();
    Component::Record* component = MakeComponent(L"Client", content);
    const std::wstring url =
        Unique(L"https://localhost:" + Environment(server.portVariable) + L"/bytes/50000?seed=4");
    component->AddLocation(TRANSFER_DOWNLOAD, url);
    Testing::LogCapture log;
    const Result result = GatherWithoutPrompts();
    ExpectNoPieces(*component, server.what);
    if (server.accepted) {
      EXPECT_EQ(RESULT_PASSED, result) << server.what;
      EXPECT_EQ(content, Read(DestinationOf(*component))) << server.what;
      EXPECT_EQ(Lines{}, AttemptLines(log, url)) << server.what;
    } else {
      EXPECT_NE(RESULT_PASSED, result) << server.what;
      EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component))) << server.what;
      EXPECT_EQ(Lines{"System::DownloadFileTo - " + Narrow(url) + ": " + refused}, AttemptLines(log, url))
          << server.what;
    }
  }
}

// The user's proxy, HKCU Internet Settings' ProxyEnable and ProxyServer.
// urlmon reads it once per process, at its first download, and keeps it: so
// each ProxyTest runs alone in a process of its own (tests/CMakeLists.txt),
// and is skipped beside other tests.
class ProxyTest : public NetworkTest {
 protected:
  static constexpr wchar_t kSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

  void SetUp() override {
    if (testing::UnitTest::GetInstance()->test_to_run_count() != 1)
      GTEST_SKIP() << "urlmon keeps the proxy of its first download: run this test alone";
    NetworkTest::SetUp();
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, settings_.put(), nullptr));
  }
  // The prefix is the tests' own and has no proxy (the test run clears it at
  // its start), so none is left behind.
  void TearDown() override {
    for (const wchar_t* name : {L"ProxyEnable", L"ProxyServer"})
      if (settings_) RegDeleteValueW(settings_.get(), name);
    NetworkTest::TearDown();
  }
  // Sends this process's downloads through the proxy on 127.0.0.1 whose port
  // the variable names; before the first download only.
  void UseProxy(const wchar_t* portVariable) {
    const DWORD enable = 1;
    const std::wstring server = L"127.0.0.1:" + Environment(portVariable);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(settings_.get(), L"ProxyEnable", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&enable), sizeof(enable)));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(settings_.get(), L"ProxyServer", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(server.c_str()),
                                            static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t))));
  }

 private:
  UniqueHKey settings_;
};

TEST_F(ProxyTest, OpenProxyCarriesTheDownload) {
  UseProxy(L"TESSEL_PROXY_PORT");
  const std::string content = Pattern(50000, 6);
  Component::Record* component = MakeComponent(L"Client", content);
  const std::wstring url = Serve(content);
  component->AddLocation(TRANSFER_DOWNLOAD, url);
  EXPECT_EQ(RESULT_PASSED, GatherWithoutPrompts());
  EXPECT_EQ(content, Read(DestinationOf(*component)));
  // tinyproxy logs "... Request (file descriptor N): GET URL HTTP/1.1", LF-ended.
  const std::string proxyLog = Read(WinePath(Environment(L"TESSEL_PROXY_LOG")));
  const std::string request = "): GET " + Narrow(url) + " HTTP/1.1\n";
  size_t requests = 0;
  for (size_t at = proxyLog.find(request); at != std::string::npos; at = proxyLog.find(request, at + 1))
    ++requests;
  EXPECT_EQ(1u, requests);
}

// The proxy answers 407 and a login would be needed; the run has no
// credentials to give and asks nobody for them.
TEST_F(ProxyTest, LoginProxyEndsTheDownloadWithItsStatus) {
  UseProxy(L"TESSEL_AUTH_PROXY_PORT");
  const std::string content = Pattern(50000, 7);
  Component::Record* component = MakeComponent(L"Client", content);
  const std::wstring url = Serve(content);
  component->AddLocation(TRANSFER_DOWNLOAD, url);
  Testing::LogCapture log;
  EXPECT_NE(RESULT_PASSED, GatherWithoutPrompts());
  // The proxy's page is never saved under the component's name.
  EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component)));
  ExpectNoPieces(*component, "");
  EXPECT_EQ(Lines{"System::DownloadFileTo - " + Narrow(url) + ": HTTP status 407"}, AttemptLines(log, url));
}

}  // namespace
