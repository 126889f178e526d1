#include "pack/validate.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "components/component.h"
#include "conditions/version.h"
#include "conditions/condition.h"
#include "config/cond_string.h"
#include "config/flag.h"
#include "config/parser.h"
#include "config/text_value.h"
#include "deploy/embedded_config.h"
#include "deploy/lifecycle.h"
#include "pack/files.h"
#include "system/special_folders.h"
#include "tinyxml.h"

namespace Pack {

namespace {

using Parser::WidenBytes;

// The launcher reads only the first element of each name under the root.
constexpr const char* kSections[] = {"PackageVersion", "Flags",     "Conditions", "Components",
                                     "Strings",        "Installer", "LaunchQV",   "Error"};

bool IsHexDigits(const std::wstring& text, size_t count) {
  return text.size() == count && text.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos;
}

std::wstring Quoted(std::wstring_view text) {
  return L"\"" + std::wstring(text) + L"\"";
}

std::wstring Tag(const char* name) {
  return L"<" + WidenBytes(name, std::wstring::npos) + L">";
}

// An attribute's value as the launcher stores it: cut at 255 characters, and
// absent when it is missing or empty.
std::optional<std::wstring> Value(const TiXmlElement& element, const char* name) {
  const char* value = element.Attribute(name);
  if (!value || !*value) return std::nullopt;
  return WidenBytes(value);
}

int RowOf(const TiXmlElement& element, const char* name) {
  for (const TiXmlAttribute* attribute = element.FirstAttribute(); attribute; attribute = attribute->Next()) {
    if (strcmp(attribute->Name(), name) == 0) return attribute->Row();
  }
  return element.Row();
}

size_t FindIgnoringCase(std::wstring_view text, std::wstring_view part, size_t from) {
  for (size_t i = from; i + part.size() <= text.size(); ++i) {
    if (CompareStringOrdinal(text.data() + i, static_cast<int>(part.size()), part.data(),
                             static_cast<int>(part.size()), TRUE) == CSTR_EQUAL)
      return i;
  }
  return std::wstring_view::npos;
}

struct AttributeRules {
  std::initializer_list<const char*> known;  // the attributes that the launcher reads
  const char* specials = nullptr;            // the attribute whose leading special folder is resolved
  bool stringsResolved = false;              // whether a "$" value names a conditional string
  bool anyName = false;                      // every attribute is read (flags)
};

class Checker {
 public:
  explicit Checker(Validation& validation) : validation_(validation) {}

  void Error(int line, std::wstring text) {
    validation_.findings.push_back({line, Severity::Error, std::move(text)});
  }
  void Warning(int line, std::wstring text) {
    validation_.findings.push_back({line, Severity::Warning, std::move(text)});
  }

  void Document(const TiXmlDocument& xml) {
    const TiXmlElement* root = xml.FirstChildElement("QvDeploy");
    if (!root) {
      const TiXmlElement* other = xml.RootElement();
      Error(other ? other->Row() : 0,
            L"the root element is not <QvDeploy>; the launcher refuses the document");
      return;
    }
    Attributes(*root, {{"version"}});
    const std::optional<std::wstring> version = Value(*root, "version");
    if (!version) {
      Error(root->Row(), L"<QvDeploy> has no version; the launcher refuses the document");
      return;
    }
    const int order = CompareVersions(*version, Parser::kSupportedFormat);
    if (order != 1 && order != 3) {
      Error(RowOf(*root, "version"), L"format version " + Quoted(*version) + L" is newer than " +
                                         Quoted(Parser::kSupportedFormat) +
                                         L"; the launcher refuses the document");
      return;
    }

    std::set<std::string> seen;
    for (const TiXmlElement* element = root->FirstChildElement(); element;
         element = element->NextSiblingElement()) {
      const std::string name = element->Value();
      if (std::none_of(std::begin(kSections), std::end(kSections),
                       [&](const char* s) { return name == s; })) {
        NotRead(*element);
        continue;
      }
      if (!seen.insert(name).second) {
        Error(element->Row(), L"only the first " + Tag(name.c_str()) + L" is read; this one is ignored");
        continue;
      }
      if (name == "PackageVersion") Attributes(*element, {{"value"}});
      if (name == "Flags") Attributes(*element, {{}, nullptr, false, true});
      if (name == "Conditions") Conditions(*element);
      if (name == "Components") Components(*element);
      if (name == "Strings") Strings(*element);
      if (name == "Installer") Attributes(*element, {{"name", "args"}, nullptr, true});
      if (name == "LaunchQV") Attributes(*element, {{"reg", "args", "config", "min"}, "config", true});
      if (name == "Error") Attributes(*element, {{"altUrl"}, nullptr, true});
    }
    SelfReferences();
    Installer(root->FirstChildElement("Installer"));
    WorkflowNames();
  }

 private:
  void NotRead(const TiXmlElement& element) {
    Warning(element.Row(), Tag(element.Value()) + L" is not read by the launcher");
  }

  // The children named `name`; the others are reported as not read.
  std::vector<const TiXmlElement*> Children(const TiXmlElement& parent, const char* name) {
    std::vector<const TiXmlElement*> children;
    for (const TiXmlElement* child = parent.FirstChildElement(); child; child = child->NextSiblingElement()) {
      if (strcmp(child->Value(), name) == 0) {
        children.push_back(child);
      } else {
        NotRead(*child);
      }
    }
    return children;
  }

  // What every attribute of an element is checked for: being read at all,
  // its length, its special folders and its string references.
  void Attributes(const TiXmlElement& element, const AttributeRules& rules) {
    const std::wstring tag = Tag(element.Value());
    for (const TiXmlAttribute* attribute = element.FirstAttribute(); attribute;
         attribute = attribute->Next()) {
      const char* name = attribute->Name();
      const int line = attribute->Row();
      if (!rules.anyName && std::none_of(rules.known.begin(), rules.known.end(),
                                         [&](const char* k) { return strcmp(k, name) == 0; })) {
        Warning(line,
                L"attribute " + Quoted(WidenBytes(name)) + L" of " + tag + L" is not read by the launcher");
        continue;
      }
      const std::wstring label = tag + L" " + WidenBytes(name), where = label + L": ";
      const size_t length = strlen(attribute->Value());
      if (length > Parser::kMaxValueChars) {
        Error(line, label + L" is " + std::to_wstring(length) +
                        L" characters long; the launcher reads only the first " +
                        std::to_wstring(Parser::kMaxValueChars));
      }
      const std::wstring value = WidenBytes(attribute->Value(), std::wstring::npos);
      const bool resolvesSpecials = rules.specials && strcmp(rules.specials, name) == 0;
      bool misplaced = false;
      for (const std::wstring_view token : System::kSpecialFolders) {
        for (size_t at = FindIgnoringCase(value, token, 0); at != std::wstring::npos;
             at = FindIgnoringCase(value, token, at + token.size())) {
          const std::wstring_view written = std::wstring_view(value).substr(at, token.size());
          misplaced = misplaced || written != token || at != 0;
          if (written != token) {
            Error(line, where + Quoted(written) + L" is not a special folder, letter case counts: write " +
                            Quoted(token));
          } else if (!resolvesSpecials) {
            Warning(line, where + Quoted(token) + L" is not resolved in this attribute");
          } else if (at != 0) {
            Warning(line, where + Quoted(token) + L" is resolved only at the start of the value");
          }
        }
      }
      // Other users may be able to write there, and a run with administrator
      // rights then refuses it: the run folder and the system folder are safe.
      const bool folder = strcmp(name, "dest") == 0 || strcmp(name, "config") == 0;
      if (resolvesSpecials && folder && !misplaced && !value.empty() && value.front() != L'$' &&
          !value.starts_with(System::kTempFolder) && !value.starts_with(System::kSystemFolder)) {
        Warning(line, where + Quoted(value) +
                          L" is outside the run folder; a run with administrator rights uses it only where no "
                          L"other user can write to it");
      }
      if (!value.empty() && value.front() == L'$') {
        const std::wstring reference = WidenBytes(attribute->Value());
        if (!rules.stringsResolved) {
          Warning(
              line,
              where + Quoted(reference) +
                  L" is not resolved here; only <Installer>, <LaunchQV> and <Error> settings name strings");
        } else if (!CondString::Find(std::wstring_view(reference).substr(1))) {
          Error(line,
                where + Quoted(reference) + L" matches no string; the launcher uses the text as it stands");
        }
      }
    }
  }

  // A name that matches no condition, for check attributes.
  void Check(const TiXmlElement& element, const std::wstring& owner) {
    const std::optional<std::wstring> check = Value(element, "check");
    if (check && !Condition::Find(*check))
      Error(RowOf(element, "check"), owner + L": check " + Quoted(*check) + L" matches no condition");
  }

  bool FirstOfName(std::map<std::wstring, int>& lines, const std::wstring& name, const TiXmlElement& element,
                   const wchar_t* kind, const wchar_t* used) {
    const auto [first, inserted] = lines.emplace(name, element.Row());
    if (!inserted) {
      Error(element.Row(), std::wstring(kind) + L" " + Quoted(name) +
                               L" is defined again; only the first, on line " +
                               std::to_wstring(first->second) + L", " + used);
    }
    return inserted;
  }

  void Conditions(const TiXmlElement& section) {
    Attributes(section, {{}});
    for (const TiXmlElement* element : Children(section, "Condition")) CheckCondition(*element);
  }

  void CheckCondition(const TiXmlElement& element) {
    const std::optional<std::wstring> typeText = Value(element, "type");
    const int type = Parser::ConditionType(typeText);
    const std::optional<std::wstring> name = Value(element, "name");
    if (!name) {
      Error(element.Row(), L"a <Condition> without a name is ignored");
      return;
    }
    const std::wstring owner = L"condition " + Quoted(*name);
    if (!typeText) {
      Error(element.Row(), owner + L" has no type; it is ignored");
      return;
    }
    if (type == TYPE_UNKNOWN) {
      Error(RowOf(element, "type"),
            owner + L" has an unknown type " + Quoted(*typeText) + L"; it is ignored");
      return;
    }
    Attributes(element, {{"name", "type", "op", "path", "value"}, type == TYPE_FILE ? "path" : nullptr});
    if (!FirstOfName(conditionLines_, *name, element, L"condition", L"is used")) return;
    ConditionSettings(element, owner, type, *typeText);
  }

  void ConditionSettings(const TiXmlElement& element, const std::wstring& owner, int type,
                         const std::wstring& typeText) {
    const std::optional<std::wstring> opText = Value(element, "op");
    const int op = Parser::ConditionOp(opText);
    const bool takesOp = type == TYPE_REGISTRY || type == TYPE_FILE || type == TYPE_QV_VERSION;
    const int opLine = RowOf(element, "op");
    if (takesOp && !opText) Error(element.Row(), owner + L" has no op");
    if (opText && op == OP_UNKNOWN) {
      Error(opLine, owner + L" has an unknown op " + Quoted(*opText));
    } else if (opText && !takesOp) {
      Warning(opLine,
              owner + L": type " + Quoted(typeText) + L" takes no op; " + Quoted(*opText) + L" is not read");
    } else if ((type == TYPE_FILE && op == OP_STRING_COMPARE) ||
               (type == TYPE_QV_VERSION && (op == OP_STRING_COMPARE || op == OP_EXISTS))) {
      Error(opLine, owner + L": op " + Quoted(*opText) + L" does not apply to type " + Quoted(typeText));
    }
    if (takesOp && !Value(element, "path")) Error(element.Row(), owner + L" has no path");

    const std::optional<std::wstring> value = Value(element, "value");
    const int valueLine = RowOf(element, "value");
    switch (type) {
      case TYPE_OR:
      case TYPE_AND:
      case TYPE_NOT: {
        if (!value) {
          Error(element.Row(), owner + L" has no operands");
          break;
        }
        const std::vector<std::wstring_view> operands = Parser::SplitOperands(*value);
        if (operands.empty()) Error(valueLine, owner + L" has no operands");
        for (const std::wstring_view operand : operands) {
          if (!Condition::Find(operand))
            Error(valueLine, owner + L": operand " + Quoted(operand) + L" matches no condition");
        }
        if (type == TYPE_NOT && operands.size() > 1) {
          Warning(valueLine, owner + L": a \"not\" reads only its first operand; " + Quoted(operands[1]) +
                                 L" is not read");
        }
        break;
      }
      case TYPE_USER_INSTALL_CONTEXT:
        if (value && CompareStringOrdinal(value->c_str(), -1, L"user", -1, TRUE) != CSTR_EQUAL &&
            CompareStringOrdinal(value->c_str(), -1, L"machine", -1, TRUE) != CSTR_EQUAL) {
          Error(valueLine, owner + L": context " + Quoted(*value) + L" is neither \"user\" nor \"machine\"");
        }
        [[fallthrough]];
      case TYPE_PRODUCT_CODE:
      case TYPE_ADMIN:
        if (!value) Error(element.Row(), owner + L" has no value");
        break;
      case TYPE_FLAG:
        if (!value) {
          Error(element.Row(), owner + L" has no value");
        } else if (!Flag::Find(*value)) {
          Warning(valueLine,
                  owner + L": flag " + Quoted(*value) + L" is not in <Flags>; only the command line sets it");
        }
        break;
      case TYPE_REGISTRY:
      case TYPE_FILE:
        if (!value && op != OP_EXISTS && opText) Error(element.Row(), owner + L" has no value");
        break;
      default: break;
    }
  }

  // A combination whose operands lead back to itself is in error whenever
  // it is evaluated.
  void SelfReferences() {
    for (Condition::Record& condition : Condition::List()) {
      if (Condition::Find(condition.name) != &condition || condition.children.empty()) continue;
      std::vector<const Condition::Record*> path{&condition};
      std::set<const Condition::Record*> visited;
      if (!Reaches(condition, condition, path, visited)) continue;
      std::wstring chain;
      for (const Condition::Record* step : path) chain += step->name + L" -> ";
      chain += condition.name;
      Error(conditionLines_[condition.name],
            L"condition " + Quoted(condition.name) + L" refers to itself: " + chain);
    }
  }

  static bool Reaches(const Condition::Record& from, const Condition::Record& target,
                      std::vector<const Condition::Record*>& path,
                      std::set<const Condition::Record*>& visited) {
    for (const Condition::Record* child : from.children) {
      if (child == &target) return true;
      if (!visited.insert(child).second) continue;
      path.push_back(child);
      if (Reaches(*child, target, path, visited)) return true;
      path.pop_back();
    }
    return false;
  }

  void Components(const TiXmlElement& section) {
    Attributes(section, {{}});
    for (const TiXmlElement* element : Children(section, "Component")) CheckComponent(*element);
  }

  void CheckComponent(const TiXmlElement& element) {
    const std::optional<std::wstring> name = Value(element, "name");
    if (!name) {
      Error(element.Row(), L"a <Component> without a name is ignored");
      return;
    }
    const std::wstring owner = L"component " + Quoted(*name);
    if (!Value(element, "display")) {
      Error(element.Row(), owner + L" has no display text; it is ignored");
      return;
    }
    Attributes(element, {{"name", "display", "check", "dest", "filename", "size", "md5", "sha256", "signer",
                          "requiresadmin"},
                         "dest"});
    if (!FirstOfName(componentLines_, *name, element, L"component", L"is found by name")) return;
    if (!Value(element, "check")) Error(element.Row(), owner + L" has no check condition");
    Check(element, owner);
    if (!Value(element, "dest")) Error(element.Row(), owner + L" has no dest");
    if (!Value(element, "filename")) Error(element.Row(), owner + L" has no filename");
    Size(element, owner);
    const std::optional<std::wstring> md5 = Value(element, "md5");
    const std::optional<std::wstring> sha256 = Value(element, "sha256");
    // A signer protects a file whose digest cannot be known ahead.
    if (!md5 && !sha256 && !Value(element, "signer")) {
      Warning(element.Row(), owner + L" has no md5 and no signer; its file is not verified");
    } else if (md5 && !sha256) {
      Warning(element.Row(), owner + L" has an md5 but no sha256; an MD5 alone can be forged");
    }
    if (md5 && !IsHexDigits(*md5, 32))
      Error(RowOf(element, "md5"), owner + L": md5 " + Quoted(*md5) + L" is not 32 hexadecimal digits");
    if (sha256 && !IsHexDigits(*sha256, 64))
      Error(RowOf(element, "sha256"),
            owner + L": sha256 " + Quoted(*sha256) + L" is not 64 hexadecimal digits");
    Locations(element, owner);
  }

  void Size(const TiXmlElement& element, const std::wstring& owner) {
    const std::optional<std::wstring> size = Value(element, "size");
    if (!size) {
      Error(element.Row(), owner + L" has no size");
      return;
    }
    const int line = RowOf(element, "size");
    unsigned long long read = 0;
    size_t digits = 0;
    while (digits < size->size() && (*size)[digits] >= L'0' && (*size)[digits] <= L'9') {
      read = std::min(read * 10 + static_cast<unsigned>((*size)[digits] - L'0'), 1ULL << 40);
      ++digits;
    }
    if (read > 0xFFFFFFFFULL) {
      Error(line, owner + L": size " + Quoted(*size) + L" does not fit in 32 bits");
    } else if (digits < size->size()) {
      Error(line, owner + L": size " + Quoted(*size) + L" is read as " + std::to_wstring(read));
    } else if (read == 0) {
      Error(line, owner + L": size \"0\" counts as no size");
    }
  }

  void Locations(const TiXmlElement& component, const std::wstring& owner) {
    int usable = 0;
    for (const TiXmlElement* element : Children(component, "Location")) {
      Attributes(*element, {{"type", "file", "retries"}, "file"});
      const std::optional<std::wstring> typeText = Value(*element, "type");
      Retries(*element, owner, Parser::TransferType(typeText));
      if (!typeText) {
        Error(element->Row(), owner + L": a <Location> without a type is ignored");
      } else if (Parser::TransferType(typeText) == 0) {
        Error(RowOf(*element, "type"),
              owner + L": location type " + Quoted(*typeText) + L" is unknown; the location is ignored");
      } else if (!Value(*element, "file")) {
        Error(element->Row(), owner + L": a <Location> without a file is ignored");
      } else {
        ++usable;
      }
    }
    if (usable == 0) Error(component.Row(), owner + L" has no location to fetch its file from");
  }

  void Retries(const TiXmlElement& location, const std::wstring& owner, int type) {
    const std::optional<std::wstring> retries = Value(location, "retries");
    if (!retries) return;
    const int line = RowOf(location, "retries");
    const bool inRange = retries->size() <= 2 &&
                         retries->find_first_not_of(L"0123456789") == std::wstring::npos &&
                         _wtoi(retries->c_str()) <= Component::Location::kMaxRetries;
    if (!inRange) {
      Error(line, owner + L": retries " + Quoted(*retries) + L" is not a number from 0 to " +
                      std::to_wstring(Component::Location::kMaxRetries));
    } else if (type == TRANSFER_COPY) {
      Warning(line, owner + L": retries " + Quoted(*retries) + L" is not read for a copy location");
    }
  }

  void Strings(const TiXmlElement& section) {
    Attributes(section, {{}});
    for (const TiXmlElement* element : Children(section, "String")) CheckString(*element);
  }

  void CheckString(const TiXmlElement& element) {
    const std::optional<std::wstring> name = Value(element, "name");
    if (!name) {
      Error(element.Row(), L"a <String> without a name is ignored");
      return;
    }
    Attributes(element, {{"name", "check", "passstring", "failstring"}});
    const std::wstring owner = L"string " + Quoted(*name);
    if (!FirstOfName(stringLines_, *name, element, L"string", L"is used")) return;
    if (!Value(element, "check"))
      Warning(element.Row(), owner + L" has no condition; the launcher always takes its failstring");
    Check(element, owner);
  }

  // The installer is found by its name, or by each text that its
  // conditional string can choose.
  void Installer(const TiXmlElement* installer) {
    if (!installer) {
      Error(0, L"there is no <Installer>; the launcher cannot run an installer");
      return;
    }
    const std::optional<std::wstring> name = Value(*installer, "name");
    const int line = RowOf(*installer, "name");
    if (!name) {
      Error(installer->Row(), L"<Installer> has no name; the launcher cannot run an installer");
      return;
    }
    if (name->front() != L'$') {
      if (!Component::Find(*name))
        Error(line, L"<Installer> name " + Quoted(*name) + L" matches no component");
      return;
    }
    const CondString::Record* string = CondString::Find(std::wstring_view(*name).substr(1));
    if (!string) return;  // reported with the attribute
    auto branch = [&](const std::optional<std::wstring>& text, const wchar_t* which) {
      if (!text) {
        Error(line, L"<Installer> name " + Quoted(*name) + L": string " + Quoted(string->name) + L" has no " +
                        which);
      } else if (!Component::Find(*text)) {
        Error(line, L"<Installer> name " + Quoted(*name) + L": the " + which + L" " + Quoted(*text) +
                        L" matches no component");
      }
    };
    if (string->check) branch(string->pass, L"passstring");
    branch(string->fail, L"failstring");
  }

  void WorkflowNames() {
    if (!Condition::Find(L"QvInstalled"))
      Error(0,
            L"there is no condition \"QvInstalled\"; the launcher always treats the client as not installed");
    if (!Condition::Find(L"InstallContextDlgShow"))
      Warning(0,
              L"there is no condition \"InstallContextDlgShow\"; the install-context dialog is never shown");
    if (!Condition::Find(L"InstallContextDlgPerUserDefault")) {
      Warning(0,
              L"there is no condition \"InstallContextDlgPerUserDefault\"; the install context defaults to "
              L"everyone");
    }
  }

  Validation& validation_;
  std::map<std::wstring, int> conditionLines_, componentLines_, stringLines_;
};

int CountLines(const std::string& text, size_t end) {
  return 1 +
         static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
}

}  // namespace

int Validation::Count(Severity severity) const {
  return static_cast<int>(std::count_if(findings.begin(), findings.end(),
                                        [&](const Finding& f) { return f.severity == severity; }));
}

Validation ValidateDocument(const std::string& document) {
  Validation validation;
  // The launcher hands TinyXML a zero-terminated copy, so it reads nothing
  // after a zero byte.
  const size_t zero = document.find('\0');
  const std::string text = document.substr(0, zero);
  if (const std::wstring deep = NestedTooDeep(text); !deep.empty()) {
    validation.unreadable = L"not an XML document: " + deep;
    return validation;
  }
  TiXmlDocument xml;
  xml.Parse(text.c_str());
  if (xml.Error() || !xml.RootElement()) {
    validation.unreadable = L"not an XML document: ";
    validation.unreadable += xml.Error() ? FromUtf8(xml.ErrorDesc()) : L"it has no element";
    if (xml.Error() && xml.ErrorRow() > 0) {
      validation.unreadable += L" (line " + std::to_wstring(xml.ErrorRow()) + L", column " +
                               std::to_wstring(xml.ErrorCol()) + L")";
    }
    if (zero != std::string::npos)
      validation.unreadable +=
          L"; it has a zero byte on line " + std::to_wstring(CountLines(document, zero)) + L", is it UTF-16?";
    return validation;
  }
  validation.readable = true;
  if (zero != std::string::npos) {
    validation.findings.push_back(
        {CountLines(document, zero), Severity::Error,
         L"the document has a zero byte here; the launcher reads only the text before it"});
  }

  Deploy::ParseConfigText(text.c_str());
  Checker(validation).Document(xml);
  std::stable_sort(validation.findings.begin(), validation.findings.end(),
                   [](const Finding& a, const Finding& b) { return a.line < b.line; });
  return validation;
}

int ExitCode(const Validation& validation) {
  if (!validation.readable) return 2;
  return validation.Count(Severity::Error) > 0 ? 1 : 0;
}

std::wstring FormatFinding(const std::wstring& path, const Finding& finding) {
  std::wstring line = path;
  if (finding.line > 0) line += L":" + std::to_wstring(finding.line);
  line += finding.severity == Severity::Error ? L": error: " : L": warning: ";
  return line + finding.text;
}

int Validate(const std::wstring& documentPath) {
  std::string document;
  std::wstring message;
  if (!ReadWholeFile(documentPath, document, message)) {
    fwprintf(stderr, L"VantorPack validate: %ls\n", message.c_str());
    return 2;
  }
  const Validation validation = ValidateDocument(document);
  if (!validation.readable) {
    fwprintf(stderr, L"VantorPack validate: %ls: %ls\n", documentPath.c_str(), validation.unreadable.c_str());
    return 2;
  }
  for (const Finding& finding : validation.findings)
    wprintf(L"%ls\n", FormatFinding(documentPath, finding).c_str());
  const int errors = validation.Count(Severity::Error), warnings = validation.Count(Severity::Warning);
  wprintf(L"%ls: %d error%ls, %d warning%ls\n", documentPath.c_str(), errors, errors == 1 ? L"" : L"s",
          warnings, warnings == 1 ? L"" : L"s");
  return ExitCode(validation);
}

}  // namespace Pack
