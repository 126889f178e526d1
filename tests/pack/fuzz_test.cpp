// Bad input at scale: mutated and truncated deployment documents through the
// launcher's parser and the packager's validator, and mutated launchers
// through stamp. Nothing may crash or hang, and every refusal must say why.
// The generator has a fixed seed, so a failing iteration is reproduced by its
// number; FUZZ_ITERATIONS asks for more documents (and a tenth as many
// launchers) by hand.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "deploy/embedded_config.h"
#include "pack/hash.h"
#include "pack/stamp.h"
#include "pack/validate.h"
#include "resources/resource_ids.h"
#include "tests/support/test_support.h"

namespace {

// splitmix64: small, fast and the same on every run.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // In [0, bound); 0 for an empty range.
  size_t Below(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(Next() % bound); }
  // A position in [0, size], so that insertions can also go at the end.
  size_t At(const std::string& text) { return Below(text.size() + 1); }

 private:
  uint64_t state_;
};

size_t DocumentIterations() {
  const char* asked = getenv("FUZZ_ITERATIONS");
  const unsigned long count = asked ? strtoul(asked, nullptr, 10) : 0;
  return count > 0 ? count : 10000;
}

std::string Nested(size_t depth) {
  std::string text;
  for (size_t i = 0; i < depth; ++i) text += "<a>";
  for (size_t i = 0; i < depth; ++i) text += "</a>";
  return text;
}

// What a careless or hostile document might hold, spliced in at random.
const std::vector<std::string>& Tokens() {
  static const std::vector<std::string> tokens = {
      "<",
      ">",
      "\"",
      "'",
      "&",
      "$",
      "=",
      "/",
      "]]>",
      "<!--",
      "-->",
      "<![CDATA[",
      "<?xml version=\"1.0\"?>",
      std::string(1, '\0'),
      "&#x0;",
      "&#0;",
      "&#xFFFFFFFF;",
      "&#65;",
      "&lt;",
      "&unknown;",
      "\xEF\xBB\xBF",
      "\xFF\xFE",
      "\x80\xC0\xFF",
      "\r\n",
      "[TempFolder]",
      "[tempfolder]",
      "[ExeFolder]\\",
      "[SystemFolder]",
      "$InstallerArgs",
      "$",
      "$$",
      std::string(300, 'A'),
      std::string(5000, 'x'),
      Nested(64),
      Nested(900),
      Nested(3000),
      "size=\"99999999999\"",
      "size=\"-1\"",
      "size=\"4294967296\"",
      "size=\"0\"",
      "version=\"99\"",
      "version=\"2.0.0.99999999999999\"",
      "version=\"\"",
      "type=\"bogus\"",
      "op=\"nope\"",
      "type=\"ftp\"",
      "md5=\"xyz\"",
      "check=\"Nowhere\"",
      "name=\"\"",
      "name=\"QvInstalled\"",
      "<Condition name=\"A\" type=\"and\" value=\"A\"/>",
      "<Condition name=\"A\" type=\"or\" value=\"B\"/><Condition name=\"B\" type=\"not\" value=\"A\"/>",
      "<Condition name=\"C\" type=\"and\" value=\",, ,C,,C C\"/>",
      "<Condition name=\"QvInstalled\" type=\"or\" value=\"QvInstalled\"/>",
      "<Condition type=\"flag\"/>",
      "<Condition name=\"F\" type=\"flag\" value=\"nosuchflag\"/>",
      "<Component name=\"Setup\" display=\"d\" size=\"99999999999\"><Location/></Component>",
      "<Location type=\"ftp\" file=\"x\"/>",
      "<Location type=\"copy\"/>",
      "<String name=\"S\" check=\"S\" passstring=\"$S\" failstring=\"$S\"/>",
      "<Installer name=\"$\"/>",
      "<Installer name=\"$Nowhere\"/>",
      "<Installer/>",
      "<LaunchQV config=\"[TEMPFOLDER]x\"/>",
      "<QvDeploy version=\"2\">",
      "</QvDeploy>",
      "<Conditions>",
      "</Conditions>",
      "<Components>",
      "</Components>",
      "<Flags silent=\"\" =\"\"/>",
      "<Unknown/>",
  };
  return tokens;
}

// One mutation of a document: a byte flip, an insertion or deletion of
// random bytes, a truncation, a duplicated slice, or a token spliced in at a
// random place, at the start of an element, or inside a value.
void Mutate(std::string& text, Random& random) {
  const std::vector<std::string>& tokens = Tokens();
  switch (random.Below(9)) {
    case 0:
      if (!text.empty()) text[random.Below(text.size())] ^= static_cast<char>(1 << random.Below(8));
      break;
    case 1: {
      std::string bytes(1 + random.Below(8), '\0');
      for (char& byte : bytes) byte = static_cast<char>(random.Next());
      text.insert(random.At(text), bytes);
      break;
    }
    case 2: {
      const size_t at = random.Below(text.size());
      text.erase(at, 1 + random.Below(64));
      break;
    }
    case 3: text.resize(random.Below(text.size())); break;
    case 4: {
      const size_t at = random.Below(text.size());
      const std::string slice = text.substr(at, 1 + random.Below(512));
      text.insert(random.At(text), slice);
      break;
    }
    case 5:
    case 6: {
      // At the start of a random element, where whole elements fit.
      size_t at = text.find('<', random.Below(text.size()));
      if (at == std::string::npos) at = random.At(text);
      text.insert(at, tokens[random.Below(tokens.size())]);
      break;
    }
    case 7: {
      // Just inside a random value.
      size_t at = text.find('"', random.Below(text.size()));
      at = at == std::string::npos ? random.At(text) : at + 1;
      text.insert(at, tokens[random.Below(tokens.size())]);
      break;
    }
    default: text.insert(random.At(text), tokens[random.Below(tokens.size())]); break;
  }
}

// A launcher document with nothing to report, for stamping.
const std::string kCleanDocument =
    "<QvDeploy version=\"2\">\r\n"
    "<Conditions><Condition name=\"QvInstalled\" type=\"reg\" op=\"exists\" "
    "path=\"HKCU\\Software\\T\\Path\"/>"
    "<Condition name=\"InstallContextDlgShow\" type=\"admin\" value=\"0\"/>"
    "<Condition name=\"InstallContextDlgPerUserDefault\" type=\"admin\" value=\"0\"/></Conditions>\r\n"
    "<Components><Component name=\"Setup\" display=\"Setup\" check=\"QvInstalled\" dest=\"[TempFolder]\\S\" "
    "filename=\"setup.exe\" size=\"10\" md5=\"0123456789abcdef0123456789abcdef\" "
    "sha256=\"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\">"
    "<Location type=\"download\" file=\"http://127.0.0.1/setup.exe\"/></Component></Components>\r\n"
    "<Installer name=\"Setup\"/>\r\n"
    "</QvDeploy>\r\n";

// The repository's own documents, with their build-time @NAME@ fields filled
// in as the build would fill them.
std::vector<std::string> SeedDocuments() {
  const struct {
    const char* name;
    const char* value;
  } fields[] = {
      {"TESSEL_DOWNLOAD_BASE", "http://127.0.0.1:8080/tessel"},
      {"DEMO_PORT", "18741"},
      {"CHECK", "QvInstalled"},
      {"CLIENT_SIZE", "40960"},
      {"SETUP_SIZE", "20480"},
      {"CLIENT_MD5", "0123456789abcdef0123456789abcdef"},
      {"SETUP_MD5", "fedcba9876543210fedcba9876543210"},
      {"INSTALLER", "Setup"},
      {"SETUP_LOCATION", "<Location type=\"copy\" file=\"[ExeFolder]\\e2e\\SetupStandard.exe\"/>"},
      {"ALT_URL", "http://127.0.0.1:9/manual-download"},
      {"CLIENT_LOCATION", "<Location type=\"copy\" file=\"[ExeFolder]\\e2e\\VantorConnect.exe\"/>"},
      {"CONFIG", "[TempFolder]\\QvConfig.xml"},
      {"EXTRA_FLAGS", ""},
      {"EXTRA_COMPONENT", ""},
  };
  std::vector<std::string> seeds = {kCleanDocument};
  const std::wstring source =
      L"Z:" + std::wstring(TESSEL_SOURCE_DIR, TESSEL_SOURCE_DIR + strlen(TESSEL_SOURCE_DIR));
  for (const wchar_t* file : {L"\\resources\\deployment.xml.in", L"\\demo\\deployment.xml.in",
                              L"\\tests\\fixtures\\test_deployment.xml", L"\\tests\\e2e\\deployment.xml.in",
                              L"\\tests\\e2e\\context_deployment.xml.in"}) {
    std::string text;
    EXPECT_TRUE(Testing::ReadFileBytes(source + file, text)) << Testing::Narrow(file);
    for (const auto& field : fields) {
      const std::string marker = std::string("@") + field.name + "@";
      for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at))
        text.replace(at, marker.size(), field.value);
    }
    EXPECT_EQ(std::string::npos, text.find("@", text.find("<QvDeploy")))
        << "a field is left in " << Testing::Narrow(file);
    seeds.push_back(text);
  }
  return seeds;
}

std::wstring Launcher() {
  return Testing::ProgramFolder() + L"\\VantorLauncher.exe";
}

struct Outcome {
  size_t unreadable = 0, errors = 0, clean = 0, parserRefused = 0;
};

// Runs one document through the launcher's parser and the validator and
// checks that a refusal comes with a reason. Returns false on a failure.
bool Check(const std::string& document, Outcome& outcome) {
  // The launcher reads its copy up to the first zero byte.
  const Result parsed = Deploy::ParseConfigText(document.c_str());
  EXPECT_TRUE(parsed == RESULT_PASSED || parsed == RESULT_ERROR) << Testing::Narrow(ResultName(parsed));
  const Pack::Validation validation = Pack::ValidateDocument(document);
  const int code = Pack::ExitCode(validation);
  if (parsed != RESULT_PASSED) ++outcome.parserRefused;
  // Whatever the launcher refuses, the validator must report.
  EXPECT_FALSE(parsed != RESULT_PASSED && code == 0) << "the launcher refuses a document that validates";
  if (!validation.readable) {
    ++outcome.unreadable;
    EXPECT_EQ(2, code);
    EXPECT_EQ(0u, validation.unreadable.rfind(L"not an XML document: ", 0))
        << Testing::Narrow(validation.unreadable);
    EXPECT_GT(validation.unreadable.size(), 21u);
    EXPECT_TRUE(validation.findings.empty());
  } else {
    ++(code == 0 ? outcome.clean : outcome.errors);
    EXPECT_EQ(code == 1, validation.Count(Pack::Severity::Error) > 0);
    const int lines = 1 + static_cast<int>(std::count(document.begin(), document.end(), '\n'));
    int previous = 0;
    for (const Pack::Finding& finding : validation.findings) {
      EXPECT_FALSE(finding.text.empty());
      EXPECT_TRUE(finding.line >= previous && finding.line <= lines) << finding.line;
      previous = finding.line;
    }
  }
  return !testing::Test::HasFailure();
}

TEST(Fuzz, MutatedDocumentsAreParsedOrRefusedWithAReason) {
  const std::vector<std::string> seeds = SeedDocuments();
  ASSERT_FALSE(testing::Test::HasFailure());
  Random random(0x7E55E1F022ULL);
  const size_t iterations = DocumentIterations();
  Outcome outcome;
  for (size_t i = 0; i < iterations; ++i) {
    std::string document = seeds[random.Below(seeds.size())];
    for (size_t n = 1 + random.Below(4); n > 0; --n) Mutate(document, random);
    ASSERT_TRUE(Check(document, outcome)) << "iteration " << i << ": " << document;
  }
  printf(
      "documents: %zu, refused %zu (not XML %zu, with errors %zu), accepted %zu; the launcher refused %zu\n",
      iterations, outcome.unreadable + outcome.errors, outcome.unreadable, outcome.errors, outcome.clean,
      outcome.parserRefused);
  testing::Test::RecordProperty("documents", static_cast<int>(iterations));
  testing::Test::RecordProperty("refused", static_cast<int>(outcome.unreadable + outcome.errors));
  testing::Test::RecordProperty("accepted", static_cast<int>(outcome.clean));
  // The mutations must reach both sides, or the run proves little.
  EXPECT_GT(outcome.clean, iterations / 100);
  EXPECT_GT(outcome.unreadable, iterations / 100);
}

// Where a launcher keeps what stamp reads: its headers, and its resource
// section in the file.
struct Layout {
  size_t headers = 0x1000;
  size_t resources = 0, resourcesEnd = 0;
};

Layout LayoutOf(const std::string& image) {
  Layout layout;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (memcmp(section->Name, ".rsrc", 6) == 0) {
      layout.resources = section->PointerToRawData;
      layout.resourcesEnd = std::min<size_t>(image.size(), layout.resources + section->SizeOfRawData);
    }
  }
  return layout;
}

// One mutation of a launcher: a bit flip or an odd 32-bit value in the
// headers or the resource section (changes to code are of no interest to
// stamp), or a truncation there or anywhere.
void MutateProgram(std::string& image, const Layout& layout, Random& random) {
  const bool inHeaders = random.Below(2) == 0;
  const size_t from = inHeaders ? 0 : layout.resources;
  const size_t to = std::min(image.size(), inHeaders ? layout.headers : layout.resourcesEnd);
  if (to <= from) return;
  const size_t at = from + random.Below(to - from);
  switch (random.Below(5)) {
    case 0:
    case 1: image[at] ^= static_cast<char>(1 << random.Below(8)); break;
    case 2:
    case 3: {
      const uint32_t values[] = {0,
                                 1,
                                 0xFFFF,
                                 0x7FFFFFFF,
                                 0x80000000,
                                 0xFFFFFFFF,
                                 0x1000,
                                 static_cast<uint32_t>(image.size()),
                                 static_cast<uint32_t>(image.size() - 1),
                                 static_cast<uint32_t>(random.Next())};
      const uint32_t value = values[random.Below(std::size(values))];
      const size_t aligned = at & ~size_t{3};
      if (aligned + 4 <= image.size()) memcpy(image.data() + aligned, &value, 4);
      break;
    }
    default: image.resize(random.Below(4) == 0 ? random.Below(image.size()) : at); break;
  }
}

// Where Wine's 32-bit side runs in an emulator (on a kernel that runs no i386
// program), a fault in 32-bit code reaches Wine as an illegal instruction, never
// as an access violation, so the resource lookup's own handler cannot catch it.
bool FaultsAreEmulated() { return GetEnvironmentVariableW(L"TESSEL_I386_EMULATED", nullptr, 0) > 0; }

TEST(Fuzz, MutatedLaunchersAreStampedOrRefusedWithoutOutput) {
  if (FaultsAreEmulated()) GTEST_SKIP() << "faults in 32-bit code are not access violations under emulation";
  std::string original;
  ASSERT_TRUE(Testing::ReadFileBytes(Launcher(), original));
  const Layout layout = LayoutOf(original);
  ASSERT_GT(layout.resourcesEnd, layout.resources);
  const std::string client = "<?xml version=\"1.0\"?>\r\n<Client server=\"a\"/>\r\n";
  Testing::TempFolder folder;
  const std::wstring input = folder.File(L"in.exe"), document = folder.File(L"d.xml"),
                     clientDocument = folder.File(L"c.xml"), output = folder.File(L"out.exe");
  Testing::WriteFileBytes(document, kCleanDocument);
  Testing::WriteFileBytes(clientDocument, client);
  ASSERT_TRUE(Pack::ValidateDocument(kCleanDocument).findings.empty());
  Testing::WriteFileBytes(input, original);
  const std::vector<std::wstring> inputs = Testing::FilesIn(folder);

  Random random(0x5A11E7ULL);
  const size_t iterations = std::max<size_t>(1, DocumentIterations() / 10);
  size_t refused = 0, stamped = 0, readable = 0;
  for (size_t i = 0; i < iterations; ++i) {
    std::string image = original;
    for (size_t n = 1 + random.Below(4); n > 0; --n) MutateProgram(image, layout, random);
    Testing::WriteFileBytes(input, image);
    std::string embedded;
    if (Pack::ReadEmbeddedDocument(input, IDR_DEPLOY_CONFIG, embedded)) ++readable;

    std::wstring message;
    const int code = Pack::Stamp(input, document, clientDocument, output, message);
    if (code == 0) {
      ++stamped;
      EXPECT_TRUE(Pack::ReadEmbeddedDocument(output, IDR_DEPLOY_CONFIG, embedded) &&
                  embedded == kCleanDocument);
      EXPECT_TRUE(Pack::ReadEmbeddedDocument(output, IDR_CLIENT_CONFIG, embedded) && embedded == client);
      DeleteFileW(output.c_str());
    } else {
      ++refused;
      EXPECT_EQ(1, code);
      EXPECT_FALSE(message.empty());
      EXPECT_TRUE(Testing::FilesIn(folder) == inputs) << "a file was left behind";
    }
    ASSERT_FALSE(testing::Test::HasFailure()) << "iteration " << i << ": " << Testing::Narrow(message);
  }
  printf("launchers: %zu, refused %zu, stamped %zu; the document was read from %zu\n", iterations, refused,
         stamped, readable);
  testing::Test::RecordProperty("launchers", static_cast<int>(iterations));
  testing::Test::RecordProperty("launchers_refused", static_cast<int>(refused));
  testing::Test::RecordProperty("launchers_stamped", static_cast<int>(stamped));
}

// Launchers that crashed the packager: one cut off in the middle of its
// deployment document, whose bytes then lay past the end of the mapped file;
// and, in the resource update functions, which trust what the headers say,
// one whose string table names a resource where a directory belongs, one
// that claims 0x80000000 data directories and one with a file alignment of
// 0x08000200.
TEST(Fuzz, DamagedLaunchersAreRefusedNotCrashed) {
  std::string original, document;
  ASSERT_TRUE(Testing::ReadFileBytes(Launcher(), original));
  ASSERT_TRUE(Pack::ReadEmbeddedDocument(Launcher(), IDR_DEPLOY_CONFIG, document));
  const size_t documentAt = original.find(document);
  ASSERT_NE(std::string::npos, documentAt);
  std::string cut = original.substr(0, documentAt + document.size() / 2);

  std::string notADirectory = original;
  const size_t root = LayoutOf(original).resources;
  IMAGE_RESOURCE_DIRECTORY types;
  memcpy(&types, original.data() + root, sizeof(types));
  size_t strings = 0;
  for (size_t i = 0; i < size_t{types.NumberOfNamedEntries} + types.NumberOfIdEntries; ++i) {
    IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
    memcpy(&entry, original.data() + root + sizeof(types) + i * sizeof(entry), sizeof(entry));
    if (!entry.NameIsString && entry.Id == 6 /* RT_STRING */) strings = root + entry.OffsetToDirectory;
  }
  ASSERT_NE(0u, strings);
  const uint32_t resourceAt = 0x1000;
  memcpy(
      notADirectory.data() + strings + sizeof(types) + offsetof(IMAGE_RESOURCE_DIRECTORY_ENTRY, OffsetToData),
      &resourceAt, sizeof(resourceAt));

  const size_t optional =
      *reinterpret_cast<const DWORD*>(original.data() + 0x3C) + 4 + sizeof(IMAGE_FILE_HEADER);
  std::string directories = original, alignment = original;
  const uint32_t manyDirectories = 0x80000000, oddAlignment = 0x08000200;
  memcpy(directories.data() + optional + offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes),
         &manyDirectories, sizeof(manyDirectories));
  memcpy(alignment.data() + optional + offsetof(IMAGE_OPTIONAL_HEADER32, FileAlignment), &oddAlignment,
         sizeof(oddAlignment));

  Testing::TempFolder folder;
  Testing::WriteFileBytes(folder.File(L"d.xml"), kCleanDocument);
  Testing::WriteFileBytes(folder.File(L"in.exe"), cut);
  std::string embedded;
  EXPECT_FALSE(Pack::ReadEmbeddedDocument(folder.File(L"in.exe"), IDR_DEPLOY_CONFIG, embedded));
  for (std::string* image : {&cut, &notADirectory, &directories, &alignment}) {
    Testing::WriteFileBytes(folder.File(L"in.exe"), *image);
    std::wstring message;
    EXPECT_EQ(1, Pack::Stamp(folder.File(L"in.exe"), folder.File(L"d.xml"), std::nullopt,
                             folder.File(L"out.exe"), message));
    EXPECT_EQ(folder.File(L"in.exe") + L" is damaged: its headers or its resource table do not fit the file",
              message);
    EXPECT_EQ(2u, Testing::FilesIn(folder).size()) << "a file was left behind";
  }
}

// TinyXML nests by recursion: this document ran the packager out of stack.
TEST(Fuzz, DeepNestingIsRefusedBeforeTinyXmlSeesIt) {
  const std::string deep = "<QvDeploy version=\"2\"><Conditions>\n" + Nested(30000);
  Outcome outcome;
  EXPECT_TRUE(Check(deep, outcome));
  EXPECT_EQ(L"not an XML document: elements are nested more than 1000 deep (line 2)",
            Pack::ValidateDocument(deep).unreadable);
  Testing::TempFolder folder;
  std::string hashed;
  std::wstring message;
  EXPECT_EQ(2, Pack::HashDocument(deep, folder.path(), hashed, message));
  EXPECT_EQ(L"not an XML document: elements are nested more than 1000 deep (line 2)", message);
  Testing::WriteFileBytes(folder.File(L"d.xml"), kCleanDocument);
  Testing::WriteFileBytes(folder.File(L"c.xml"), deep);
  EXPECT_EQ(2, Pack::Stamp(Launcher(), folder.File(L"d.xml"), folder.File(L"c.xml"), folder.File(L"out.exe"),
                           message));
  EXPECT_EQ(
      folder.File(L"c.xml") + L": not an XML document: elements are nested more than 1000 deep (line 2)",
      message);
}

}  // namespace
