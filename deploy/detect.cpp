#include "deploy/detect.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "components/component.h"
#include "conditions/condition.h"
#include "conditions/version.h"
#include "config/command_line.h"
#include "config/cond_string.h"
#include "config/flag.h"
#include "config/run_settings.h"
#include "config/text_value.h"
#include "deploy/embedded_config.h"
#include "deploy/launch.h"
#include "deploy/workflow.h"
#include "log/log.h"
#include "system/file_system.h"
#include "system/module.h"
#include "system/registry.h"
#include "system/special_folders.h"

namespace Deploy {

namespace {

constexpr wchar_t kDetectName[] = L"Deploy::Detect";

// A JSON document written as it is built, two blanks of indent per level.
class JsonWriter {
 public:
  void Open(char bracket, const char* key = nullptr) {
    Begin(key);
    text_.push_back(bracket);
    ++depth_;
    first_ = true;
  }
  void Close(char bracket) {
    --depth_;
    if (!first_) NewLine();
    text_.push_back(bracket);
    first_ = false;
  }
  void String(const char* key, const std::optional<std::wstring>& value) {
    Begin(key);
    if (value) {
      AppendQuoted(*value);
    } else {
      text_ += "null";
    }
  }
  void String(const char* key, const wchar_t* value) {
    String(key, value ? std::optional<std::wstring>(value) : std::nullopt);
  }
  void Bool(const std::wstring& key, bool value) {
    Separate();
    AppendQuoted(key);
    text_ += ": ";
    text_ += value ? "true" : "false";
  }
  void Number(const char* key, unsigned long value) {
    Begin(key);
    text_ += std::to_string(value);
  }
  std::string Text() const { return text_ + "\n"; }

 private:
  void NewLine() {
    text_.push_back('\n');
    text_.append(static_cast<size_t>(depth_) * 2, ' ');
  }
  void Separate() {
    if (depth_ > 0) {
      if (!first_) text_.push_back(',');
      NewLine();
    }
    first_ = false;
  }
  void Begin(const char* key) {
    Separate();
    if (key) {
      text_.push_back('"');
      text_ += key;
      text_ += "\": ";
    }
  }
  // A JSON string: quotes and backslashes escaped, control characters as \u00XX.
  void AppendQuoted(std::wstring_view value) {
    text_.push_back('"');
    size_t start = 0;
    for (size_t i = 0; i <= value.size(); ++i) {
      const bool end = i == value.size();
      if (!end && value[i] >= 0x20 && value[i] != L'"' && value[i] != L'\\') continue;
      text_ += Parser::EncodeUtf8(value.substr(start, i - start));
      if (end) break;
      char escaped[8];
      if (value[i] == L'"' || value[i] == L'\\') {
        escaped[0] = '\\';
        escaped[1] = static_cast<char>(value[i]);
        escaped[2] = '\0';
      } else {
        _snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(value[i]));
        escaped[sizeof(escaped) - 1] = '\0';
      }
      text_ += escaped;
      start = i + 1;
    }
    text_.push_back('"');
  }
  std::string text_;
  int depth_ = 0;
  bool first_ = true;
};

// The installed client, as the decision's comparisons see it.
void WriteClient(JsonWriter& json, const std::wstring& key, Result upgradeable, Result newer, Result equal) {
  json.Open('{', "client");
  json.String("key", key);
  std::optional<std::wstring> folder, file, version;
  std::wstring found;
  if (!key.empty() && System::ReadRegistryText(key, found) == RESULT_PASSED) {
    folder = found;
    for (const wchar_t* program : Condition::kClientPrograms) {
      const std::wstring path = System::JoinPath(found, program);
      if (System::FileExists(path) != RESULT_PASSED) continue;
      file = path;
      version = Condition::FileProductVersion(path);
      break;
    }
  }
  json.String("folder", folder);
  json.String("file", file);
  json.String("version", version);
  json.String("minimum", Evaluated(Config::Settings().minVersion));
  json.String("upgradeable", ResultName(upgradeable));
  json.String("newer", ResultName(newer));
  json.String("equal", ResultName(equal));
  json.Close('}');
}

// Every condition in document order, each evaluated; true when one is in error.
bool WriteConditions(JsonWriter& json) {
  bool error = false;
  json.Open('[', "conditions");
  for (Condition::Record& condition : Condition::List()) {
    const Result result = Condition::Evaluate(condition);
    error = error || result == RESULT_ERROR;
    json.Open('{');
    json.String("name", condition.name);
    json.String("type", Condition::TypeName(condition.type));
    json.String("op", Condition::OpName(condition.op));
    json.String("path", condition.path);
    json.String("value", condition.value);
    if (!condition.children.empty()) {
      json.Open('[', "operands");
      for (const Condition::Record* operand : condition.children) json.String(nullptr, operand->name);
      json.Close(']');
    }
    json.String("result", ResultName(result));
    json.Close('}');
  }
  json.Close(']');
  return error;
}

void WriteStrings(JsonWriter& json) {
  json.Open('[', "strings");
  for (CondString::Record& string : CondString::List()) {
    json.Open('{');
    json.String("name", string.name);
    // Resolved as a setting that names it resolves it.
    json.String("text", CondString::Evaluate(L"$" + string.name));
    json.Close('}');
  }
  json.Close(']');
}

void WriteComponents(JsonWriter& json) {
  json.Open('[', "components");
  for (Component::Record& component : Component::List()) {
    json.Open('{');
    json.String("name", component.name);
    json.String("check", component.check ? ResultName(Condition::Evaluate(*component.check)) : nullptr);
    json.String("present", ResultName(Component::IsPresent(component)));
    json.Number("size", component.size);
    // What the download cache holds of it: "whole", the bytes of a part, or null.
    const std::optional<ULONGLONG> cached = Component::CachedBytes(component);
    if (!cached)
      json.String("cached", nullptr);
    else if (*cached == component.size)
      json.String("cached", L"whole");
    else
      json.Number("cached", static_cast<unsigned long>(*cached));
    if (component.locations.empty()) {
      json.String("location", nullptr);
    } else {
      const Component::Location& first = component.locations.front();
      json.Open('{', "location");
      json.String("type", Component::TransferTypeName(first.type));
      json.String("file", first.file);
      json.Close('}');
    }
    json.Close('}');
  }
  json.Close(']');
}

// What the run would do, as its decision and prerequisite stages decide it.
struct Decision {
  const wchar_t* name = L"nothing";
  std::optional<std::wstring> question;
  bool installs = false;  // the installer would run if the components arrive
};

Decision Decide(Result requirements, Result upgradeable, const std::wstring& packageVersion) {
  Decision decision;
  if (requirements == RESULT_ERROR) return decision;  // the run reports it and stops
  const bool fetch = requirements == RESULT_FAILED;
  const bool installed = Passes(L"QvInstalled");
  if (!installed && Config::Settings().packageVersion && !FlagIsSet(L"silent")) {
    if (upgradeable == RESULT_PASSED) {
      decision = {L"ask-upgrade", Message(208, packageVersion)};
    } else if (Passes(L"InstallContextDlgShow")) {
      decision = {L"ask-context", Message(209, packageVersion)};
    } else {
      decision = {L"ask-install", Message(210, packageVersion)};
    }
    decision.installs = fetch;  // after a Yes, the installer runs only for what must be fetched
  } else if (fetch) {
    decision = {!installed && upgradeable == RESULT_PASSED ? L"upgrade" : L"install", std::nullopt, true};
  } else {
    decision.name = FlagIsSet(L"skiplaunch") ? L"nothing" : L"launch";
  }
  return decision;
}

std::optional<std::wstring> InstallerCommandLine() {
  const std::wstring name = Evaluated(Config::Settings().installerName);
  const Component::Record* installer = name.empty() ? nullptr : Component::Find(name);
  if (!installer || !installer->dest || !installer->filename) return std::nullopt;
  return CommandLine(System::JoinPath(*installer->dest, *installer->filename), InstallerArguments());
}

std::optional<std::wstring> ClientCommandLine() {
  std::wstring program, arguments;
  if (FlagIsSet(L"skiplaunch") || FindClient(program, arguments) != RESULT_PASSED) return std::nullopt;
  return CommandLine(program, arguments);
}

std::optional<std::wstring> LauncherVersion() {
  wchar_t path[MAX_PATH] = L"";
  const DWORD length = GetModuleFileNameW(System::ModuleInstance(), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return Condition::FileProductVersion(path);
}

// Written beside its place and moved there, so that it is either whole or
// absent. False, logged, when it cannot be.
bool WriteReport(const std::wstring& reportPath, const std::string& report) {
  if (System::WriteWholeFile(reportPath, report)) return true;
  LogError(L"%s - cannot write %s, GetLastError %d", kDetectName, reportPath.c_str(),
           static_cast<int>(GetLastError()));
  return false;
}

// The caller's standard output, when it gave one: a console, a pipe or a file.
void WriteStandardOutput(const std::string& report) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!output || output == INVALID_HANDLE_VALUE || GetFileType(output) == FILE_TYPE_UNKNOWN) return;
  DWORD done = 0;
  WriteFile(output, report.data(), static_cast<DWORD>(report.size()), &done, nullptr);
}

}  // namespace

bool DetectRequested() {
  const std::optional<bool> given = Parser::CommandLineFlag(L"detect");
  return given ? *given : EmbeddedFlag("detect");
}

std::wstring DetectReportPath() {
  const std::wstring folder = System::UserTempFolder();
  return folder.empty() ? folder : folder + kDetectReportName;
}

int Detect(const std::wstring& reportPath) {
  LogInfo(L"%s - enter", kDetectName);
  // An earlier report must not pass for this run's.
  if (!reportPath.empty()) DeleteFileW(reportPath.c_str());
  const Config::RunSettings& settings = Config::Settings();
  if (reportPath.empty() || ParseConfig() != RESULT_PASSED) {
    LogError(L"%s - no report: the document cannot be read", kDetectName);
    return kDetectError;
  }
  Parser::ParseCommandLineFlags();
  ApplyQuietFlag();

  const std::wstring packageVersion = settings.packageVersion.value_or(L"");
  const std::wstring key = Evaluated(settings.launchRegKey);
  const Result upgradeable =
      Condition::CheckQvVersion(key, Evaluated(settings.minVersion), OP_GREATER_THAN_OR_EQUAL);
  const Result newer = Condition::CheckQvVersion(key, packageVersion, OP_GREATER_THAN);
  const Result equal = Condition::CheckQvVersion(key, packageVersion, OP_EQUAL);

  JsonWriter json;
  json.Open('{');
  json.String("launcher", LauncherVersion());
  json.Open('{', "document");
  json.String("format", settings.formatVersion);
  json.String("package", settings.packageVersion);
  json.Close('}');
  json.Open('{', "flags");
  for (const Flag::Record& flag : Flag::List()) json.Bool(flag.name, flag.value);
  json.Close('}');
  WriteClient(json, key, upgradeable, newer, equal);
  const bool conditionError = WriteConditions(json);
  WriteStrings(json);
  bool adminRequired = false;
  const Result requirements = Component::CheckRequirements(adminRequired);
  WriteComponents(json);

  const Decision decision = Decide(requirements, upgradeable, packageVersion);
  json.String("decision", decision.name);
  json.String("question", decision.question);
  json.String("installerCommandLine", decision.installs ? InstallerCommandLine() : std::nullopt);
  json.String("clientCommandLine",
              std::wstring_view(decision.name) == L"nothing" ? std::nullopt : ClientCommandLine());
  const int exitCode = conditionError || requirements == RESULT_ERROR ? kDetectError
                       : Passes(L"QvInstalled") && requirements == RESULT_PASSED ? kDetectCurrent
                                                                                   : kDetectWouldInstall;
  json.Number("exitCode", static_cast<unsigned long>(exitCode));
  json.Close('}');

  const std::string report = json.Text();
  Component::ClearComponents();
  Condition::ClearConditions();
  CondString::ClearCondStrings();
  Flag::ClearFlags();
  if (!WriteReport(reportPath, report)) return kDetectError;
  WriteStandardOutput(report);
  LogInfo(L"%s - %s, exit code %d", kDetectName, reportPath.c_str(), exitCode);
  return exitCode;
}

}  // namespace Deploy
