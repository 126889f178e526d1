#include "deploy/embedded_config.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "system/module.h"
#include "components/component.h"
#include "conditions/condition.h"
#include "config/cond_string.h"
#include "config/flag.h"
#include "config/parser.h"
#include "config/run_settings.h"
#include "config/text_value.h"
#include "log/log.h"
#include "resources/resource_ids.h"
#include "system/file_system.h"
#include "system/unique_handle.h"
#include "tinyxml.h"

namespace Deploy {

namespace {

constexpr wchar_t kParseName[] = L"Deploy::ParseConfig";

// A zero-terminated copy of an embedded document, or nothing when it is
// missing, cannot be loaded, or is empty.
bool LoadDocument(int id, std::vector<char>& copy) {
  HMODULE module = System::ModuleInstance();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"XML_FILE");
  if (!found) return false;
  const DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded || size == 0 || size == static_cast<DWORD>(-1)) return false;
  const void* bytes = LockResource(loaded);
  if (!bytes) return false;
  copy.assign(static_cast<const char*>(bytes), static_cast<const char*>(bytes) + size);
  copy.push_back('\0');
  return true;
}

Result LogReturn(Result result) {
  LogInfo(L"%s - return: %s", kParseName, ResultName(result));
  return result;
}

Result ClearAndParse(const char* text) {
  Condition::ClearConditions();
  Component::ClearComponents();
  CondString::ClearCondStrings();
  Flag::ClearFlags();
  Config::ClearSettings();

  // Too deep a document would exhaust the stack inside TinyXML, so it counts
  // as malformed.
  const bool tooDeep = Parser::FindTooDeep(text) != std::string_view::npos;
  TiXmlDocument document;
  if (!tooDeep) document.Parse(text);
  if (tooDeep || document.Error()) {
    LogError(L"%s - Error loading xml string", L"Parser::Parse");
    return RESULT_ERROR;
  }
  return Parser::Parse(document);
}

}  // namespace

Result ParseConfig() {
  LogInfo(L"%s - enter", kParseName);
  std::vector<char> text;
  if (!LoadDocument(IDR_DEPLOY_CONFIG, text)) return LogReturn(RESULT_ERROR);
  return LogReturn(ClearAndParse(text.data()));
}

Result ParseConfigText(const char* text) {
  return LogReturn(ClearAndParse(text ? text : ""));
}

bool EmbeddedFlag(const char* name) {
  // Asked at every start, once for each flag that changes how the run is
  // made: the document is parsed for them once.
  using Attributes = std::vector<std::pair<std::string, std::string>>;
  static const Attributes flags = [] {
    Attributes found;
    std::vector<char> text;
    if (!LoadDocument(IDR_DEPLOY_CONFIG, text) || Parser::FindTooDeep(text.data()) != std::string_view::npos)
      return found;
    TiXmlDocument document;
    document.Parse(text.data());
    const TiXmlElement* root = document.Error() ? nullptr : document.FirstChildElement("QvDeploy");
    const TiXmlElement* element = root ? root->FirstChildElement("Flags") : nullptr;
    for (const TiXmlAttribute* attribute = element ? element->FirstAttribute() : nullptr; attribute;
         attribute = attribute->Next()) {
      found.emplace_back(attribute->Name(), attribute->Value());
    }
    return found;
  }();
  for (const auto& [flag, value] : flags) {
    if (flag == name) return Parser::BooleanValue(Parser::WidenBytes(value));
  }
  return false;
}

Result WriteAppConfig() {
  const std::optional<std::wstring> path = CondString::Evaluate(Config::Settings().configPath);
  if (!path || path->empty()) return RESULT_FAILED;
  return WriteAppConfigTo(*path);
}

Result WriteAppConfigTo(const std::wstring& path) {
  std::vector<char> document;
  if (!LoadDocument(IDR_CLIENT_CONFIG, document)) return RESULT_ERROR;

  // Whichever separator comes last ends the folder part.
  const size_t separator = path.find_last_of(L"\\/");
  // A folder that cannot be made, or a run folder someone else made, takes no configuration.
  if (separator != std::wstring::npos && separator > 0 &&
      System::CreateDir(path.substr(0, separator)) == RESULT_ERROR)
    return RESULT_ERROR;

  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return RESULT_ERROR;
  const DWORD length = static_cast<DWORD>(strlen(document.data()));  // up to the first zero byte
  DWORD written = 0;
  if (!WriteFile(file.get(), document.data(), length, &written, nullptr) || written != length)
    return RESULT_ERROR;
  return FlushFileBuffers(file.get()) ? RESULT_PASSED : RESULT_ERROR;
}

}  // namespace Deploy
