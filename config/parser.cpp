// The deployment document, read in this fixed order whatever the order of
// its elements (only the first element of each name counts):
//
//   QvDeploy version="N"                      root; N must be at most "2"
//     PackageVersion value="11.4.8.18902"
//     Flags name="bool" ...                    each attribute is a flag
//     Conditions
//       Condition name type op path value      type: reg file prod qv or and not
//                                              admin context flag; and/or/not
//                                              name their operands in value,
//                                              split at blanks and commas
//     Components
//       Component name display check dest filename size md5 sha256
//                 signer requiresadmin
//         Location type="copy|download" file retries
//     Strings
//       String name check passstring failstring
//     Installer name args
//     LaunchQV reg args config min
//     Error altUrl
//
// Names are case-sensitive; the keywords of type, op and Location type are
// not. Values arrive as bytes and widen byte for byte (signer alone is
// decoded from UTF-8, to match a certificate's name), cut at 255 characters;
// an empty value counts as absent. "[TempFolder]" and the other special
// folders are resolved in file conditions' paths, dest, Location file and
// LaunchQV config. A value beginning with "$" names a conditional string and
// is resolved where it is used, not here.
#include "config/parser.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/component.h"
#include "conditions/condition.h"
#include "conditions/version.h"
#include "config/cond_string.h"
#include "config/flag.h"
#include "config/run_settings.h"
#include "config/text_value.h"
#include "log/log.h"
#include "system/special_folders.h"
#include "tinyxml.h"

namespace Parser {

namespace {

constexpr wchar_t kName[] = L"Parser::Parse";

std::optional<std::wstring> Attribute(const TiXmlElement& element, const char* name) {
  const char* value = element.Attribute(name);
  if (!value) return std::nullopt;
  return WidenBytes(value);
}

// A present but empty value is stored as absent.
std::optional<std::wstring> NonEmpty(std::optional<std::wstring> value) {
  if (value && value->empty()) return std::nullopt;
  return value;
}

bool SameKeyword(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

template <size_t N>
int Keyword(const std::optional<std::wstring>& text, const wchar_t* const (&keywords)[N]) {
  if (!text) return 0;
  for (size_t i = 0; i < N; ++i) {
    if (SameKeyword(*text, keywords[i])) return static_cast<int>(i) + 1;
  }
  return 0;
}

// Unsigned decimal digits up to the first other character.
DWORD ReadSize(const char* text) {
  DWORD size = 0;
  for (; text && *text >= '0' && *text <= '9'; ++text) size = size * 10 + static_cast<DWORD>(*text - '0');
  return size;
}

// Sets a run setting from an attribute: nothing happens when the attribute
// is absent; otherwise the setting takes the value (absent when empty),
// resolved by `transform` when given, and the line is logged.
void StoreSetting(const TiXmlElement& element, const char* attribute, std::optional<std::wstring>& setting,
                  const wchar_t* format, std::wstring (*transform)(std::wstring_view) = nullptr) {
  std::optional<std::wstring> value = Attribute(element, attribute);
  if (!value) return;
  setting = NonEmpty(std::move(value));
  if (setting && transform) setting = NonEmpty(transform(*setting));
  LogInfo(format, kName, setting ? setting->c_str() : nullptr);
}

std::wstring ReplaceSpecials(std::wstring_view text) {
  return System::ReplaceSpecials(text);
}

void ParseFlags(const TiXmlElement& flags) {
  for (const TiXmlAttribute* attribute = flags.FirstAttribute(); attribute; attribute = attribute->Next()) {
    if (Flag::Record* flag = Flag::Flag(WidenBytes(attribute->Name()))) {
      flag->value = BooleanValue(WidenBytes(attribute->Value()));
    }
  }
}

void ParseConditions(const TiXmlElement& conditions) {
  std::vector<const TiXmlElement*> combinations;
  for (const TiXmlElement* element = conditions.FirstChildElement("Condition"); element;
       element = element->NextSiblingElement("Condition")) {
    const int type = ConditionType(Attribute(*element, "type"));
    Condition::Record* condition = Condition::Condition(Attribute(*element, "name").value_or(L""), type);
    if (!condition) continue;
    if (type == TYPE_OR || type == TYPE_AND || type == TYPE_NOT) {
      combinations.push_back(element);
      continue;
    }
    if (std::optional<std::wstring> path = NonEmpty(Attribute(*element, "path"))) {
      condition->path = NonEmpty(type == TYPE_FILE ? System::ReplaceSpecials(*path) : *path);
    }
    condition->value = NonEmpty(Attribute(*element, "value"));
    condition->op = ConditionOp(Attribute(*element, "op"));
  }

  // Operands are resolved once every condition exists, so a combination may
  // name conditions that come later in the document.
  for (const TiXmlElement* element : combinations) {
    Condition::Record* combination = Condition::Find(Attribute(*element, "name").value_or(L""));
    const char* operands = element->Attribute("value");
    if (!combination || !operands) continue;
    const std::wstring list = WidenBytes(operands);  // at most its first 255 bytes count
    for (const std::wstring_view name : SplitOperands(list)) {
      if (Condition::Record* operand = Condition::Find(name)) combination->children.push_back(operand);
    }
  }
}

void ParseComponents(const TiXmlElement& components) {
  for (const TiXmlElement* element = components.FirstChildElement("Component"); element;
       element = element->NextSiblingElement("Component")) {
    Component::Record* component = Component::Component(Attribute(*element, "name").value_or(L""),
                                                        Attribute(*element, "display").value_or(L""));
    if (!component) continue;
    component->filename = NonEmpty(Attribute(*element, "filename"));
    component->check = Condition::Find(Attribute(*element, "check").value_or(L""));
    if (std::optional<std::wstring> dest = NonEmpty(Attribute(*element, "dest"))) {
      component->dest = NonEmpty(System::ReplaceSpecials(*dest));
    }
    component->md5 = NonEmpty(Attribute(*element, "md5"));
    component->sha256 = NonEmpty(Attribute(*element, "sha256"));
    if (const char* signer = element->Attribute("signer")) component->signer = NonEmpty(DecodeUtf8(signer));
    component->size = ReadSize(element->Attribute("size"));
    if (std::optional<std::wstring> requiresAdmin = Attribute(*element, "requiresadmin")) {
      component->requiresadmin = BooleanValue(*requiresAdmin);
    }
    for (const TiXmlElement* location = element->FirstChildElement("Location"); location;
         location = location->NextSiblingElement("Location")) {
      Component::Location* added = component->AddLocation(TransferType(Attribute(*location, "type")),
                                                          Attribute(*location, "file").value_or(L""));
      // Read as a size is; more than the most is the most.
      if (added) {
        added->retries = static_cast<int>(
            std::min<DWORD>(ReadSize(location->Attribute("retries")), Component::Location::kMaxRetries));
      }
    }
  }
}

void ParseStrings(const TiXmlElement& strings) {
  for (const TiXmlElement* element = strings.FirstChildElement("String"); element;
       element = element->NextSiblingElement("String")) {
    CondString::Record* string = CondString::CondString(Attribute(*element, "name").value_or(L""));
    if (!string) continue;
    string->pass = NonEmpty(Attribute(*element, "passstring"));
    string->fail = NonEmpty(Attribute(*element, "failstring"));
    string->check = Condition::Find(Attribute(*element, "check").value_or(L""));
  }
}

}  // namespace

size_t FindTooDeep(std::string_view text) {
  int depth = 0;
  size_t at = 0;
  const auto skipPast = [&](std::string_view end) {
    at = text.find(end, at);
    at = at == std::string_view::npos ? text.size() : at + end.size();
  };
  while ((at = text.find('<', at)) != std::string_view::npos) {
    const std::string_view markup = text.substr(at);
    const unsigned char next = markup.size() > 1 ? static_cast<unsigned char>(markup[1]) : 0;
    if (markup.starts_with("<!--")) {
      at += 4;
      skipPast("-->");
    } else if (markup.starts_with("<![CDATA[")) {
      at += 9;
      skipPast("]]>");
    } else if (markup.starts_with("</")) {
      depth = std::max(0, depth - 1);
      skipPast(">");
    } else if (next == '_' || next >= 127 || isalpha(next)) {
      // A start tag, which TinyXML parses by recursion unless it ends in
      // "/>"; a quoted value may hold '>'.
      const size_t start = at;
      char quote = 0;
      bool empty = false;
      for (++at; at < text.size(); ++at) {
        const char c = text[at];
        if (quote) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          empty = text[at - 1] == '/';
          ++at;
          break;
        }
      }
      if (!empty && ++depth > kMaxNesting) return start;
    } else {
      // Declarations, DOCTYPE and anything else TinyXML does not know end
      // at the first '>'.
      skipPast(">");
    }
  }
  return std::string_view::npos;
}

std::vector<std::wstring_view> SplitOperands(std::wstring_view list) {
  std::vector<std::wstring_view> names;
  size_t position = 0;
  while (position < list.size()) {
    const size_t start = list.find_first_not_of(L" ,", position);
    if (start == std::wstring_view::npos) break;
    const size_t end = std::min(list.find_first_of(L" ,", start), list.size());
    names.push_back(list.substr(start, end - start));
    position = end;
  }
  return names;
}

int ConditionType(const std::optional<std::wstring>& text) {
  static const wchar_t* const kTypes[] = {L"reg", L"file", L"prod",  L"qv",      L"or",
                                          L"and", L"not",  L"admin", L"context", L"flag"};
  return Keyword(text, kTypes);
}

int ConditionOp(const std::optional<std::wstring>& text) {
  static const wchar_t* const kOps[] = {L"gt", L"lt", L"eq", L"gteq", L"lteq", L"str", L"exists"};
  return Keyword(text, kOps);
}

int TransferType(const std::optional<std::wstring>& text) {
  static const wchar_t* const kTypes[] = {L"copy", L"download"};
  return Keyword(text, kTypes);
}

Result Parse(const TiXmlDocument& document) {
  LogInfo(L"%s - enter", kName);
  const TiXmlElement* root = document.FirstChildElement("QvDeploy");
  if (!root) {
    LogError(L"%s - Can't find root element", kName);
    return RESULT_ERROR;
  }
  Config::RunSettings& settings = Config::Settings();
  StoreSetting(*root, "version", settings.formatVersion, L"%s - Xml version: %s");
  const int order = CompareVersions(settings.formatVersion.value_or(L""), kSupportedFormat);
  if (order != 1 && order != 3) {
    LogError(L"%s - Version check failed", kName);
    return RESULT_ERROR;
  }

  if (const TiXmlElement* element = root->FirstChildElement("PackageVersion")) {
    StoreSetting(*element, "value", settings.packageVersion, L"%s - Package version: %s");
  }
  if (const TiXmlElement* element = root->FirstChildElement("Flags")) ParseFlags(*element);
  if (const TiXmlElement* element = root->FirstChildElement("Conditions")) ParseConditions(*element);
  if (const TiXmlElement* element = root->FirstChildElement("Components")) ParseComponents(*element);
  if (const TiXmlElement* element = root->FirstChildElement("Strings")) ParseStrings(*element);
  if (const TiXmlElement* element = root->FirstChildElement("Installer")) {
    StoreSetting(*element, "name", settings.installerName, L"%s - Installer comp: %s");
    StoreSetting(*element, "args", settings.installerArgs, L"%s - Installer args: %s");
  }
  if (const TiXmlElement* element = root->FirstChildElement("LaunchQV")) {
    StoreSetting(*element, "reg", settings.launchRegKey, L"%s - Qv reg path: %s");
    StoreSetting(*element, "args", settings.launchArgs, L"%s - Qv args: %s");
    StoreSetting(*element, "config", settings.configPath, L"%s - Config file location: %s", ReplaceSpecials);
    StoreSetting(*element, "min", settings.minVersion, L"%s - Qv Minimum version: %s");
  }
  if (const TiXmlElement* element = root->FirstChildElement("Error")) {
    StoreSetting(*element, "altUrl", settings.altUrl, L"%s - Alternate url: %s");
  }
  LogInfo(L"%s - return RESULT_PASSED", kName);
  return RESULT_PASSED;
}

}  // namespace Parser
