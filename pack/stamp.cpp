#include "pack/stamp.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "pack/files.h"
#include "pack/hash.h"
#include "pack/validate.h"
#include "resources/resource_ids.h"
#include "system/scope_exit.h"
#include "system/unique_handle.h"
#include "tinyxml.h"

namespace Pack {

namespace {

constexpr wchar_t kDocumentType[] = L"XML_FILE";

enum class Program { Launcher, NotPe, Signed, Damaged };

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

UniqueModule LoadAsData(const std::wstring& path) {
  return UniqueModule(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

// The languages that an embedded document is stored in.
std::vector<WORD> DocumentLanguages(HMODULE module, int id) {
  std::vector<WORD> languages;
  EnumResourceLanguagesW(module, kDocumentType, MAKEINTRESOURCEW(id), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

// A value read from the file's bytes; false when it would run past `end`.
template <typename T>
bool ReadAt(const std::string& image, size_t at, size_t end, T& value) {
  if (at > end || end - at < sizeof(T)) return false;
  memcpy(&value, image.data() + at, sizeof(T));
  return true;
}

// The resource table as the file holds it: `root` is the file offset of its
// top directory, and it and every resource's bytes must lie in [base, end),
// the part of its section that the file holds.
struct ResourceTable {
  const std::string& image;
  size_t root, base, end;
  DWORD sectionRva;
  size_t entriesLeft = 1 << 16;  // bounds the walk of a table whose directories share entries

  // Directories of types and names (levels 0 and 1) hold directories; those of
  // languages (level 2) hold the resources.
  bool Directory(size_t at, int level) {
    IMAGE_RESOURCE_DIRECTORY directory;
    if (!ReadAt(image, at, end, directory)) return false;
    const size_t count = size_t{directory.NumberOfNamedEntries} + directory.NumberOfIdEntries;
    for (size_t i = 0; i < count; ++i) {
      IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
      if (entriesLeft-- == 0 || !ReadAt(image, at + sizeof(directory) + i * sizeof(entry), end, entry))
        return false;
      WORD nameLength = 0;
      if (entry.NameIsString && (!ReadAt(image, root + entry.NameOffset, end, nameLength) ||
                                 end - (root + entry.NameOffset) - sizeof(nameLength) < 2u * nameLength))
        return false;
      if (entry.DataIsDirectory != (level < 2)) return false;
      if (entry.DataIsDirectory) {
        if (!Directory(root + entry.OffsetToDirectory, level + 1)) return false;
        continue;
      }
      IMAGE_RESOURCE_DATA_ENTRY data;
      if (!ReadAt(image, root + entry.OffsetToData, end, data) || data.OffsetToData < sectionRva)
        return false;
      // Compared as distances into the section: base plus a 32-bit offset can wrap.
      const size_t into = data.OffsetToData - sectionRva;
      if (into > end - base || end - base - into < data.Size) return false;
    }
    return true;
  }
};

// Whether the resource table lies whole inside its section and the file:
// the functions that rewrite resources follow its offsets unchecked.
bool ResourcesIntact(const std::string& image, size_t headersOffset, const IMAGE_NT_HEADERS32& headers) {
  if (headers.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_RESOURCE) return true;
  const DWORD rva = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
  if (rva == 0) return true;  // no resources, so no document: refused as such
  const size_t sections =
      headersOffset + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + headers.FileHeader.SizeOfOptionalHeader;
  for (size_t i = 0; i < headers.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section;
    if (!ReadAt(image, sections + i * sizeof(section), image.size(), section)) return false;
    if (rva < section.VirtualAddress || rva - section.VirtualAddress >= section.SizeOfRawData) continue;
    if (section.PointerToRawData > image.size()) return false;
    const size_t base = section.PointerToRawData;
    const size_t end = base + std::min<size_t>(section.SizeOfRawData, image.size() - base);
    if (rva - section.VirtualAddress >= end - base) return false;
    ResourceTable table{image, base + (rva - section.VirtualAddress), base, end, section.VirtualAddress};
    return table.Directory(table.root, 0);
  }
  return false;
}

// Whether the bytes are those of a 32-bit Windows program, and whether it is
// signed (stamping would break the signature).
Program Examine(const std::string& image) {
  if (image.size() < 0x40 || image.compare(0, 2, "MZ") != 0) return Program::NotPe;
  DWORD offset = 0;
  memcpy(&offset, image.data() + 0x3C, sizeof(offset));
  IMAGE_NT_HEADERS32 headers{};
  if (offset > image.size() || image.size() - offset < sizeof(headers)) return Program::NotPe;
  memcpy(&headers, image.data() + offset, sizeof(headers));
  if (headers.Signature != IMAGE_NT_SIGNATURE || headers.FileHeader.Machine != IMAGE_FILE_MACHINE_I386 ||
      headers.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
    return Program::NotPe;
  if (headers.OptionalHeader.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_SECURITY &&
      headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size != 0)
    return Program::Signed;
  // The functions that rewrite resources trust the count of data directories
  // and the alignments, which a program's headers give as powers of two.
  const IMAGE_OPTIONAL_HEADER32& optional = headers.OptionalHeader;
  const DWORD directories = optional.NumberOfRvaAndSizes;
  const auto powerOfTwo = [](DWORD value) { return value != 0 && (value & (value - 1)) == 0; };
  if (!powerOfTwo(optional.FileAlignment) || optional.FileAlignment < 0x200 ||
      optional.FileAlignment > 0x10000 || !powerOfTwo(optional.SectionAlignment) ||
      optional.SectionAlignment < optional.FileAlignment || directories > IMAGE_NUMBEROF_DIRECTORY_ENTRIES ||
      headers.FileHeader.SizeOfOptionalHeader <
          offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory) + directories * sizeof(IMAGE_DATA_DIRECTORY) ||
      !ResourcesIntact(image, offset, headers))
    return Program::Damaged;
  return Program::Launcher;
}

// Replaces an embedded document, keeping the language it is stored in, so
// that no second copy in another language is left for the launcher to find.
bool ReplaceDocument(HANDLE update, const std::vector<WORD>& languages, int id, const std::string& bytes) {
  const WORD language = languages.empty() ? MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US) : languages.front();
  for (size_t i = 1; i < languages.size(); ++i) {
    if (!UpdateResourceW(update, kDocumentType, MAKEINTRESOURCEW(id), languages[i], nullptr, 0)) return false;
  }
  return UpdateResourceW(update, kDocumentType, MAKEINTRESOURCEW(id), language,
                         const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size())) != FALSE;
}

// The client's configuration is written out up to its first zero byte, and
// the client reads it as XML.
bool ReadClientDocument(const std::wstring& path, std::string& bytes, std::wstring& message) {
  if (!ReadWholeFile(path, bytes, message)) return false;
  if (bytes.find('\0') != std::string::npos) {
    message = path + L": it has a zero byte, and the launcher writes only the text before it (is it UTF-16?)";
    return false;
  }
  if (const std::wstring deep = NestedTooDeep(bytes); !deep.empty()) {
    message = path + L": not an XML document: " + deep;
    return false;
  }
  TiXmlDocument xml;
  xml.Parse(bytes.c_str());
  if (xml.Error() || !xml.RootElement()) {
    message = path + L": not an XML document" + (xml.Error() ? L": " + FromUtf8(xml.ErrorDesc()) : L"");
    return false;
  }
  return true;
}

// Whether `size` bytes at `data` lie within the first `fileSize` bytes of the
// mapping that holds them. A program mapped as data is mapped flat, whole,
// and the page that holds its last byte is filled up with zeros; a truncated
// or damaged program can place a resource past its own end.
bool Mapped(const void* data, DWORD size, ULONGLONG fileSize) {
  const auto start = reinterpret_cast<uintptr_t>(data);
  if (size > UINTPTR_MAX - start) return false;
  MEMORY_BASIC_INFORMATION region{};
  if (!VirtualQuery(data, &region, sizeof(region)) || region.State != MEM_COMMIT) return false;
  return start + size - reinterpret_cast<uintptr_t>(region.AllocationBase) <= fileSize;
}

}  // namespace

bool ReadEmbeddedDocument(const std::wstring& path, int id, std::string& bytes) {
  bytes.clear();
  const UniqueModule module = LoadAsData(path);
  if (!module) return false;
  HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(id), kDocumentType);
  HGLOBAL loaded = found ? LoadResource(module.get(), found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = found ? SizeofResource(module.get(), found) : 0;
  WIN32_FILE_ATTRIBUTE_DATA file{};
  if (!data || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &file) ||
      !Mapped(data, size, (ULONGLONG{file.nFileSizeHigh} << 32) | file.nFileSizeLow))
    return false;
  bytes.assign(static_cast<const char*>(data), size);
  return true;
}

int Stamp(const std::wstring& launcherPath, const std::wstring& documentPath,
          const std::optional<std::wstring>& clientPath, const std::wstring& outputPath,
          std::wstring& message) {
  std::string document;
  if (!ReadWholeFile(documentPath, document, message)) return kExitUnreadable;
  const Validation validation = ValidateDocument(document);
  if (!validation.readable) {
    message = documentPath + L": " + validation.unreadable;
    return kExitUnreadable;
  }
  for (const Finding& finding : validation.findings)
    wprintf(L"%ls\n", FormatFinding(documentPath, finding).c_str());
  if (const int errors = validation.Count(Severity::Error); errors > 0) {
    message = documentPath + L" has " + std::to_wstring(errors) + (errors == 1 ? L" error" : L" errors") +
              L"; nothing was stamped";
    return kExitFindings;
  }
  std::string client;
  if (clientPath && !ReadClientDocument(*clientPath, client, message)) return kExitUnreadable;

  std::string image;
  if (!ReadWholeFile(launcherPath, image, message)) return kExitFindings;
  switch (Examine(image)) {
    case Program::NotPe: message = launcherPath + L" is not a 32-bit Windows program"; return kExitFindings;
    case Program::Signed:
      message = launcherPath +
                L" is signed, and stamping would break its signature: stamp the unsigned launcher, "
                L"then sign the output";
      return kExitFindings;
    case Program::Damaged:
      message = launcherPath + L" is damaged: its headers or its resource table do not fit the file";
      return kExitFindings;
    case Program::Launcher: break;
  }
  // A launcher carries its documents in one language each.
  std::vector<WORD> deploymentLanguages, clientLanguages;
  if (const UniqueModule module = LoadAsData(launcherPath)) {
    deploymentLanguages = DocumentLanguages(module.get(), IDR_DEPLOY_CONFIG);
    clientLanguages = DocumentLanguages(module.get(), IDR_CLIENT_CONFIG);
  }
  if (deploymentLanguages.empty()) {
    message = launcherPath + L" has no embedded deployment document, so it is not a launcher";
    return kExitFindings;
  }
  for (const std::wstring& input : {launcherPath, documentPath, clientPath.value_or(L"")}) {
    if (!input.empty() && SameFile(input, outputPath)) {
      message = L"the output " + outputPath + L" would replace the input " + input;
      return kExitFindings;
    }
  }

  // The copy takes the output's name only once it is complete and checked.
  const std::wstring temporary = TemporaryBeside(outputPath, message);
  if (temporary.empty()) return kExitFindings;
  ScopeExit removeTemporary([&] { DeleteFileW(temporary.c_str()); });
  const auto fail = [&] {
    message = L"cannot write " + outputPath;
    return kExitFindings;
  };
  if (!CopyFileW(launcherPath.c_str(), temporary.c_str(), FALSE) ||
      !SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL))
    return fail();

  {
    UniqueResourceUpdate update(BeginUpdateResourceW(temporary.c_str(), FALSE));
    if (!update || !ReplaceDocument(update.get(), deploymentLanguages, IDR_DEPLOY_CONFIG, document) ||
        (clientPath && !ReplaceDocument(update.get(), clientLanguages, IDR_CLIENT_CONFIG, client)))
      return fail();
    if (!EndUpdateResourceW(update.release(), FALSE)) return fail();
  }

  // What the launcher will read must be exactly what was given.
  std::string embedded;
  if (!ReadEmbeddedDocument(temporary, IDR_DEPLOY_CONFIG, embedded) || embedded != document) return fail();
  if (clientPath && (!ReadEmbeddedDocument(temporary, IDR_CLIENT_CONFIG, embedded) || embedded != client))
    return fail();
  if (!CommitTemporary(temporary, outputPath, message)) return kExitFindings;
  removeTemporary.Dismiss();
  return kExitOk;
}

}  // namespace Pack
