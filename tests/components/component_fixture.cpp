#include "tests/components/component_fixture.h"

#include <cwctype>

#include "config/flag.h"
#include "deploy/lifecycle.h"
#include "system/cache_folder.h"

namespace Testing {

namespace {
Result gatherResult = RESULT_ERROR;
void GatherWork() {
  gatherResult = Deploy::GatherComponents();
}

Condition::Record* FlagCondition(const wchar_t* name, const wchar_t* flag) {
  Condition::Record* condition = Condition::Condition(name, TYPE_FLAG);
  condition->value = flag;
  return condition;
}
}  // namespace

void ComponentTest::SetUp() {
  // Each test starts without a download cache; one that needs it makes its own.
  System::Detail::SetCacheRoot(L"");
  window_ = std::make_unique<ProgressWindow>();
  Reset();
}

void ComponentTest::TearDown() {
  Reset();
  window_.reset();
  System::Detail::SetCacheRoot(std::nullopt);
}

void ComponentTest::Reset() {
  Component::List().Clear();
  Condition::List().Clear();
  Flag::List().Clear();
  Flag::Flag(L"installed")->value = true;
  Flag::Flag(L"missing")->value = false;
  Component::transferAborted = false;
}

Condition::Record* ComponentTest::Installed() {
  return FlagCondition(L"Installed", L"installed");
}
Condition::Record* ComponentTest::Missing() {
  return FlagCondition(L"Missing", L"missing");
}
Condition::Record* ComponentTest::Broken() {
  return FlagCondition(L"Broken", L"nosuchflag");
}

Component::Record* ComponentTest::MakeComponent(const std::wstring& name, const std::string& content) {
  Component::Record* component = Component::Component(name, L"Display of " + name);
  component->dest = folder_.File(L"dest-" + std::to_wstring(++files_));
  component->filename = name + L".bin";
  component->size = static_cast<DWORD>(content.size());
  std::wstring md5 = Md5Hex(content);
  for (wchar_t& c : md5) c = static_cast<wchar_t>(towupper(c));
  component->md5 = md5;
  component->check = Missing();
  return component;
}

std::wstring ComponentTest::AddCopySource(Component::Record& component, const std::string& content) {
  System::CreateDir(folder_.File(L"sources"));
  const std::wstring path = folder_.File(L"sources\\source-" + std::to_wstring(++files_) + L".bin");
  WriteFileBytes(path, content);
  component.AddLocation(TRANSFER_COPY, path);
  return path;
}

void ComponentTest::PlaceAtDestination(const Component::Record& component, const std::string& content) {
  System::CreateDir(*component.dest);
  SetFileAttributesW(DestinationOf(component).c_str(), FILE_ATTRIBUTE_NORMAL);
  WriteFileBytes(DestinationOf(component), content);
}

std::wstring ComponentTest::DestinationOf(const Component::Record& component) {
  return System::JoinPath(component.dest.value_or(L""), component.filename.value_or(L""));
}

std::string ComponentTest::Read(const std::wstring& path) {
  std::string bytes;
  ReadFileBytes(path, bytes);
  return bytes;
}

Result ComponentTest::GatherInWorker(const std::function<void()>& onIdle, DWORD timeoutMs) {
  gatherResult = RESULT_ERROR;
  window_.reset();  // before the next one, which becomes the run's window
  window_ = std::make_unique<ProgressWindow>();
  if (!Deploy::Start(GatherWork)) {
    ADD_FAILURE() << "the worker did not start";
    return RESULT_ERROR;
  }
  if (!window_->PumpUntilDone(timeoutMs, onIdle)) {
    ADD_FAILURE() << "the gathering did not end in time";
    Deploy::Quit();
    window_->PumpUntilDone(30000);
  }
  return gatherResult;
}

}  // namespace Testing
