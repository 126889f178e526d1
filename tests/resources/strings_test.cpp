// Every language block of the launcher's string table, read out of the built
// launcher and held against the English block: the program formats these
// texts with positional arguments, so each translation must take the same
// arguments in the same order and break into the same lines.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "system/unique_handle.h"
#include "tests/support/test_support.h"

namespace {

struct Language {
  const char* name;
  const char* code;
  UINT offset;
  // Its text for "Are you sure you want to cancel?", exactly.
  const wchar_t* confirmCancel;
};

const Language kLanguages[] = {
    {"English", "en", 0, L"Are you sure you want to cancel?"},
    {"French", "fr", 100, L"Voulez-vous vraiment annuler\u00A0?"},  // a no-break space before "?"
    {"Chinese (Simplified)", "zh", 200, L"确实要取消吗？"},
    {"Spanish", "es", 300, L"¿Está seguro de que desea cancelar?"},
    {"Japanese", "ja", 400, L"キャンセルしてもよろしいですか？"},
    {"German", "de", 500, L"Möchten Sie wirklich abbrechen?"},
    {"Korean", "ko", 600, L"정말 취소하시겠습니까?"},
    {"Russian", "ru", 700, L"Вы действительно хотите отменить установку?"},
    {"Portuguese (European)", "pt", 800, L"Tem a certeza de que pretende cancelar?"},
    {"Brazilian Portuguese", "pt_BR", 900, L"Tem certeza de que deseja cancelar?"},
    {"Swedish", "sv", 1000, L"Vill du verkligen avbryta?"},
    {"Italian", "it", 1100, L"Si è sicuri di voler annullare?"},
};

// Names the language in the names and failure messages of the tests.
void PrintTo(const Language& language, std::ostream* out) {
  *out << language.name << " at offset " << language.offset;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                      nullptr);
  return bytes;
}

// The format sequences of a text, in order. Anything after a '%' other than
// the three the program passes comes back as "bad %" and the next character.
std::vector<std::wstring> Placeholders(const std::wstring& text) {
  std::vector<std::wstring> found;
  for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at)) {
    const std::wstring rest = text.substr(at);
    std::wstring token;
    for (const wchar_t* known : {L"%s", L"%u", L"%.1f"}) {
      if (rest.rfind(known, 0) == 0) token = known;
    }
    if (token.empty()) token = L"bad " + rest.substr(0, 2);
    found.push_back(token);
    at += token.rfind(L"bad ", 0) == 0 ? 1 : token.size();
  }
  return found;
}

std::string Joined(const std::vector<std::wstring>& tokens) {
  std::string joined;
  for (const auto& token : tokens) {
    if (!joined.empty()) joined += ' ';
    joined += Utf8(token);
  }
  return "[" + joined + "]";
}

size_t LineBreaks(const std::wstring& text) {
  size_t count = 0;
  for (wchar_t c : text) count += c == L'\n';
  return count;
}

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0x00A0 || c == 0x3000;
}

class StringTableBlock : public testing::TestWithParam<Language> {
 protected:
  void SetUp() override {
    const std::wstring path = Testing::ProgramFolder() + L"\\VantorLauncher.exe";
    module_.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module_) << "cannot load " << Testing::Narrow(path);
  }

  std::wstring Text(UINT id) const {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(module_.get(), id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
  }

  // "French text 305", for failure messages.
  static std::string Where(UINT englishId) {
    return std::string(GetParam().name) + " text " + std::to_string(GetParam().offset + englishId);
  }

  UniqueModule module_;
};

TEST_P(StringTableBlock, HoldsEveryTextAndNothingAround) {
  const UINT offset = GetParam().offset;
  for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
    EXPECT_NE("", Utf8(Text(offset + id))) << Where(id) << " is missing or empty";
  }
  EXPECT_EQ("", Utf8(Text(offset + IDS_FIRST - 1))) << Where(IDS_FIRST - 1) << " should not exist";
  EXPECT_EQ("", Utf8(Text(offset + IDS_LAST + 1))) << Where(IDS_LAST + 1) << " should not exist";
}

// Also proves that the block is in its language and came through the
// resource compiler as UTF-8.
TEST_P(StringTableBlock, AsksToConfirmTheCancelInItsLanguage) {
  EXPECT_EQ(Utf8(GetParam().confirmCancel), Utf8(Text(GetParam().offset + 237))) << Where(237);
}

TEST_P(StringTableBlock, TakesTheEnglishArgumentsInTheEnglishOrder) {
  for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
    const std::wstring english = Text(id);
    const std::wstring text = Text(GetParam().offset + id);
    const std::vector<std::wstring> expected = Placeholders(english);
    const std::vector<std::wstring> actual = Placeholders(text);
    EXPECT_EQ(Joined(expected), Joined(actual)) << Where(id) << ": \"" << Utf8(text) << "\"";
    for (const auto& token : actual) {
      EXPECT_NE(0u, token.rfind(L"bad ", 0)) << Where(id) << " has " << Utf8(token);
    }
  }
}

TEST_P(StringTableBlock, BreaksIntoAsManyLinesAsEnglish) {
  for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
    const std::wstring text = Text(GetParam().offset + id);
    EXPECT_EQ(LineBreaks(Text(id)), LineBreaks(text)) << Where(id) << ": \"" << Utf8(text) << "\"";
  }
}

TEST_P(StringTableBlock, HasNoBlanksAtEitherEnd) {
  for (UINT id = IDS_FIRST; id <= IDS_LAST; ++id) {
    const std::wstring text = Text(GetParam().offset + id);
    if (text.empty()) continue;  // reported as missing above
    EXPECT_FALSE(IsBlank(text.front())) << Where(id) << " starts with a blank: \"" << Utf8(text) << "\"";
    EXPECT_FALSE(IsBlank(text.back())) << Where(id) << " ends with a blank: \"" << Utf8(text) << "\"";
  }
}

// The parser itself, on the cases that would let a broken translation through.
TEST(StringTablePlaceholders, AreReadInOrderAndUnknownOnesStandOut) {
  const struct {
    const wchar_t* text;
    const char* expected;
  } cases[] = {
      {L"Launching %s...", "[%s]"},
      {L"Copying component (%u of %u)...", "[%u %u]"},
      {L"%.1f of %.1f %s", "[%.1f %.1f %s]"},
      {L"%s v%s", "[%s %s]"},
      {L"no arguments", "[]"},
      {L"100% done", "[bad % ]"},
      {L"%d files", "[bad %d]"},
      {L"%1 then %s", "[bad %1 %s]"},
      {L"%.2f", "[bad %.]"},
      {L"%%s", "[bad %% %s]"},
      {L"ends with %", "[bad %]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, Joined(Placeholders(c.text))) << Utf8(c.text);
  }
}

std::string LanguageName(const testing::TestParamInfo<Language>& info) {
  return info.param.code;
}

INSTANTIATE_TEST_SUITE_P(Languages, StringTableBlock, testing::ValuesIn(kLanguages), LanguageName);

}  // namespace
