#include "pack/hash.h"

#include <windows.h>

#include <cctype>
#include <cwchar>

#include "pack/files.h"
#include "system/file_system.h"
#include "system/integrity.h"
#include "system/signature.h"
#include "tinyxml.h"

namespace Pack {

namespace {

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == ':' || c == '.';
}

// Where the next element start tag named `name` begins at or after `from`,
// skipping comments, CDATA sections and processing instructions; npos when
// there is none before `limit`.
size_t FindStartTag(const std::string& text, const std::string& name, size_t from, size_t limit) {
  size_t position = from;
  while (position < limit) {
    const size_t open = text.find('<', position);
    if (open == std::string::npos || open >= limit) return std::string::npos;
    if (text.compare(open, 4, "<!--") == 0) {
      const size_t end = text.find("-->", open + 4);
      position = end == std::string::npos ? limit : end + 3;
      continue;
    }
    if (text.compare(open, 9, "<![CDATA[") == 0) {
      const size_t end = text.find("]]>", open + 9);
      position = end == std::string::npos ? limit : end + 3;
      continue;
    }
    if (text.compare(open + 1, name.size(), name) == 0 && open + 1 + name.size() < text.size() &&
        !IsNameChar(text[open + 1 + name.size()])) {
      return open;
    }
    position = open + 1;
  }
  return std::string::npos;
}

// The end of the start tag that begins at `open`: the position of its '>'.
size_t TagEnd(const std::string& text, size_t open) {
  char quote = 0;
  for (size_t i = open + 1; i < text.size(); ++i) {
    if (quote) {
      if (text[i] == quote) quote = 0;
    } else if (text[i] == '"' || text[i] == '\'') {
      quote = text[i];
    } else if (text[i] == '>') {
      return i;
    }
  }
  return std::string::npos;
}

// Sets attribute `name` of the start tag text (from '<' to '>') to `value`.
void SetAttribute(std::string& tag, const std::string& name, const std::string& value) {
  char quote = 0;
  for (size_t i = 1; i < tag.size(); ++i) {
    if (quote) {
      if (tag[i] == quote) quote = 0;
      continue;
    }
    if (tag[i] == '"' || tag[i] == '\'') {
      quote = tag[i];
      continue;
    }
    const bool boundary = std::isspace(static_cast<unsigned char>(tag[i - 1]));
    if (!boundary || tag.compare(i, name.size(), name) != 0 || IsNameChar(tag[i + name.size()])) continue;
    size_t equals = i + name.size();
    while (equals < tag.size() && std::isspace(static_cast<unsigned char>(tag[equals]))) ++equals;
    if (equals >= tag.size() || tag[equals] != '=') continue;
    size_t open = equals + 1;
    while (open < tag.size() && std::isspace(static_cast<unsigned char>(tag[open]))) ++open;
    if (open >= tag.size() || (tag[open] != '"' && tag[open] != '\'')) continue;
    const size_t close = tag.find(tag[open], open + 1);
    if (close == std::string::npos) return;
    tag.replace(open + 1, close - open - 1, value);
    return;
  }
  // Not there: added before the end of the tag, or before "/>".
  size_t at = tag.size() - 1;
  if (at > 0 && tag[at - 1] == '/') --at;
  while (at > 0 && std::isspace(static_cast<unsigned char>(tag[at - 1]))) --at;
  tag.insert(at, " " + name + "=\"" + value + "\"");
}

// The line that tells a packager who signed a component's file.
std::wstring SignerLine(const std::wstring& name, const std::wstring& file) {
  const System::Signature signature = System::ReadSignature(file);
  if (signature.trusted) return L"component \"" + name + L"\": signer=\"" + signature.signer + L"\"";
  wchar_t code[16];
  swprintf(code, 16, L"0x%08X", static_cast<unsigned>(signature.code));
  return L"component \"" + name + L"\": no trusted signer: " + signature.failure + L" (" + code + L")";
}

}  // namespace

int HashDocument(const std::string& document, const std::wstring& payloadFolder, std::string& hashed,
                 std::wstring& message, std::vector<std::wstring>* signers) {
  if (const std::wstring deep = NestedTooDeep(document); !deep.empty()) {
    message = L"not an XML document: " + deep;
    return kExitUnreadable;
  }
  TiXmlDocument parsed;
  parsed.Parse(document.c_str());
  if (parsed.Error()) {
    message = L"not an XML document: " + FromUtf8(parsed.ErrorDesc()) + L" (line " +
              std::to_wstring(parsed.ErrorRow()) + L")";
    return kExitUnreadable;
  }
  const TiXmlElement* root = parsed.FirstChildElement("QvDeploy");
  const TiXmlElement* components = root ? root->FirstChildElement("Components") : nullptr;
  hashed = document;
  if (!components) return kExitOk;

  // The same elements, found again in the text, in the same order.
  size_t position = FindStartTag(hashed, "QvDeploy", 0, hashed.size());
  position = position == std::string::npos ? 0 : FindStartTag(hashed, "Components", position, hashed.size());
  for (const TiXmlElement* component = components->FirstChildElement("Component"); component;
       component = component->NextSiblingElement("Component")) {
    const size_t open = FindStartTag(hashed, "Component", position + 1, hashed.size());
    const size_t close = open == std::string::npos ? std::string::npos : TagEnd(hashed, open);
    if (close == std::string::npos) {
      message = L"cannot find a Component element in the text";
      return kExitFindings;
    }
    position = close;
    const char* filename = component->Attribute("filename");
    const std::wstring name = FromUtf8(component->Attribute("name") ? component->Attribute("name") : "");
    if (!filename || !*filename) {
      message = L"component " + name + L" has no filename";
      return kExitFindings;
    }
    const std::wstring file = System::JoinPath(payloadFolder, FromUtf8(filename));
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      message = L"component " + name + L": cannot read " + file;
      return kExitFindings;
    }
    if (data.nFileSizeHigh != 0) {
      message = L"component " + name + L": " + file + L" is 4 GiB or more, which a size cannot hold";
      return kExitFindings;
    }
    System::FileDigests digests;
    if (!System::ComputeDigests(file, true, true, digests, L"VantorPack hash")) {
      message = L"component " + name + L": cannot hash " + file;
      return kExitFindings;
    }
    std::string tag = hashed.substr(open, close - open + 1);
    SetAttribute(tag, "size", std::to_string(data.nFileSizeLow));
    SetAttribute(tag, "md5", ToUtf8(digests.md5));
    SetAttribute(tag, "sha256", ToUtf8(digests.sha256));
    hashed.replace(open, close - open + 1, tag);
    position = open + tag.size() - 1;
    if (signers) signers->push_back(SignerLine(name, file));
  }
  return kExitOk;
}

int Hash(const std::wstring& documentPath, const std::wstring& payloadFolder, const std::wstring& outputPath,
         std::wstring& message, std::vector<std::wstring>* signers) {
  std::string document;
  if (!ReadWholeFile(documentPath, document, message)) return kExitUnreadable;
  std::string hashed;
  if (const int code = HashDocument(document, payloadFolder, hashed, message, signers); code != kExitOk) {
    return code;
  }
  return WriteWholeFile(outputPath, hashed, message) ? kExitOk : kExitFindings;
}

}  // namespace Pack
