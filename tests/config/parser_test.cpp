#include "config/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/component.h"
#include "config/cond_string.h"
#include "config/flag.h"
#include "config/run_settings.h"
#include "deploy/embedded_config.h"
#include "system/special_folders.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

// The lines that every parse logs before the document's own.
const Lines kClearing = {"Condition::ClearConditions", "Component::ClearComponents",
                         "CondString::ClearCondStrings", "Flag::ClearFlags"};

Lines Parsed(const Lines& lines) {
  Lines all = kClearing;
  all.insert(all.end(), lines.begin(), lines.end());
  return all;
}

Result ParseLogged(const std::string& text, Lines& lines) {
  Testing::LogCapture log;
  const Result result = Deploy::ParseConfigText(text.c_str());
  lines = log.Lines();
  return result;
}

std::string Document(const std::string& body, const std::string& version = "2") {
  return "<?xml version=\"1.0\"?><QvDeploy version=\"" + version + "\">" + body + "</QvDeploy>";
}

class ParserTest : public testing::Test {
 protected:
  void TearDown() override { Deploy::ParseConfigText("<Empty/>"); }
};

TEST_F(ParserTest, RootAndFormatVersion) {
  const struct {
    std::string text;
    Result expected;
    Lines lines;
  } cases[] = {
      {"<qvdeploy version=\"2\"/>",
       RESULT_ERROR,
       {"Parser::Parse - enter", "Parser::Parse - Can't find root element",
        "Deploy::ParseConfig - return: RESULT_ERROR"}},
      {"<QvDeploy version=\"2\"/>",
       RESULT_PASSED,
       {"Parser::Parse - enter", "Parser::Parse - Xml version: 2", "Parser::Parse - return RESULT_PASSED",
        "Deploy::ParseConfig - return: RESULT_PASSED"}},
      {"<QvDeploy version=\"1\"/>",
       RESULT_PASSED,
       {"Parser::Parse - enter", "Parser::Parse - Xml version: 1", "Parser::Parse - return RESULT_PASSED",
        "Deploy::ParseConfig - return: RESULT_PASSED"}},
      {"<QvDeploy version=\"2.0\"/>",
       RESULT_PASSED,
       {"Parser::Parse - enter", "Parser::Parse - Xml version: 2.0", "Parser::Parse - return RESULT_PASSED",
        "Deploy::ParseConfig - return: RESULT_PASSED"}},
      {"<QvDeploy version=\"2.1\"/>",
       RESULT_ERROR,
       {"Parser::Parse - enter", "Parser::Parse - Xml version: 2.1", "Parser::Parse - Version check failed",
        "Deploy::ParseConfig - return: RESULT_ERROR"}},
      {"<QvDeploy version=\"3\"/>",
       RESULT_ERROR,
       {"Parser::Parse - enter", "Parser::Parse - Xml version: 3", "Parser::Parse - Version check failed",
        "Deploy::ParseConfig - return: RESULT_ERROR"}},
      {"<QvDeploy version=\"\"/>",
       RESULT_ERROR,
       {"Parser::Parse - enter", "Parser::Parse - Xml version: (null)",
        "Parser::Parse - Version check failed", "Deploy::ParseConfig - return: RESULT_ERROR"}},
      {"<QvDeploy/>",
       RESULT_ERROR,
       {"Parser::Parse - enter", "Parser::Parse - Version check failed",
        "Deploy::ParseConfig - return: RESULT_ERROR"}},
      {"<QvDeploy version=\"2\">",
       RESULT_ERROR,
       {"Parser::Parse - Error loading xml string", "Deploy::ParseConfig - return: RESULT_ERROR"}},
  };
  for (const auto& c : cases) {
    Lines lines;
    EXPECT_EQ(c.expected, ParseLogged(c.text, lines)) << c.text;
    EXPECT_EQ(Parsed(c.lines), lines) << c.text;
  }
}

TEST_F(ParserTest, SettingsAreStoredAndLogged) {
  Lines lines;
  ASSERT_EQ(RESULT_PASSED,
            ParseLogged(Document("<PackageVersion value=\"11.4.8.18902\"/>"
                                 "<Installer name=\"$InstallerComponent\" args=\"\"/>"
                                 "<LaunchQV min=\"5.1.0\" reg=\"$LaunchRegKey\" args=\"-x\" "
                                 "config=\"[TempFolder]\\QvConfig.xml\"/>"
                                 "<Error altUrl=\"http://127.0.0.1/manual\"/><Error altUrl=\"ignored\"/>"),
                        lines));
  const std::wstring config = System::ReplaceSpecials(L"[TempFolder]\\QvConfig.xml");
  EXPECT_EQ(
      Parsed({"Parser::Parse - enter", "Parser::Parse - Xml version: 2",
              "Parser::Parse - Package version: 11.4.8.18902",
              "Parser::Parse - Installer comp: $InstallerComponent", "Parser::Parse - Installer args: (null)",
              "Parser::Parse - Qv reg path: $LaunchRegKey", "Parser::Parse - Qv args: -x",
              "Parser::Parse - Config file location: " + Testing::Narrow(config),
              "Parser::Parse - Qv Minimum version: 5.1.0",
              "Parser::Parse - Alternate url: http://127.0.0.1/manual",
              "Parser::Parse - return RESULT_PASSED", "Deploy::ParseConfig - return: RESULT_PASSED"}),
      lines);
  const Config::RunSettings& settings = Config::Settings();
  EXPECT_EQ(L"11.4.8.18902", settings.packageVersion);
  EXPECT_EQ(std::nullopt, settings.installerArgs);
  EXPECT_EQ(config, settings.configPath);
  EXPECT_EQ(L"$LaunchRegKey", settings.launchRegKey);
}

TEST_F(ParserTest, FlagsBecomeRecordsInDocumentOrder) {
  Lines lines;
  ASSERT_EQ(
      RESULT_PASSED,
      ParseLogged(Document("<Flags silent=\"false\" b=\"\" c=\"NO\" d=\"yes\" silent2=\"0\"/>"), lines));
  std::vector<std::pair<std::wstring, bool>> flags;
  for (const Flag::Record& flag : Flag::List()) flags.emplace_back(flag.name, flag.value);
  EXPECT_EQ((std::vector<std::pair<std::wstring, bool>>{
                {L"silent", false}, {L"b", true}, {L"c", false}, {L"d", true}, {L"silent2", false}}),
            flags);
}

TEST_F(ParserTest, ConditionsAndTheirOperands) {
  Lines lines;
  ASSERT_EQ(
      RESULT_PASSED,
      ParseLogged(
          Document("<Conditions>"
                   "<Condition name=\"A\" type=\"AND\" value=\"B,C\" op=\"eq\" path=\"ignored\"/>"
                   "<Condition name=\"L\" type=\"or\" value=\" X , ,Nobody  Y,\"/>"
                   "<Condition name=\"B\" type=\"Flag\" value=\"silent\"/>"
                   "<Condition name=\"C\" type=\"reg\" op=\"GTEQ\" path=\"[SystemFolder]\\x\" value=\"1\"/>"
                   "<Condition name=\"X\" type=\"file\" op=\"exists\" path=\"[SystemFolder]\\x.dll\"/>"
                   "<Condition name=\"Y\" type=\"admin\" op=\"bogus\" path=\"p\" value=\"1\"/>"
                   "<Condition name=\"B\" type=\"context\" value=\"user\"/>"
                   "<Condition name=\"Z\" type=\"unknown\" value=\"1\"/>"
                   "<Condition type=\"flag\" value=\"1\"/>"
                   "</Conditions>"),
          lines));
  EXPECT_EQ(Parsed({"Parser::Parse - enter", "Parser::Parse - Xml version: 2",
                    "Condition::Condition - new A, TYPE_AND", "Condition::Condition - new L, TYPE_OR",
                    "Condition::Condition - new B, TYPE_FLAG", "Condition::Condition - new C, TYPE_REGISTRY",
                    "Condition::Condition - new X, TYPE_FILE", "Condition::Condition - new Y, TYPE_ADMIN",
                    "Condition::Condition - new B, TYPE_USER_INSTALL_CONTEXT",
                    "Parser::Parse - return RESULT_PASSED", "Deploy::ParseConfig - return: RESULT_PASSED"}),
            lines);
  Condition::Record* a = Condition::Find(L"A");
  ASSERT_EQ(2u, a->children.size());
  EXPECT_EQ(Condition::Find(L"B"), a->children[0]);
  EXPECT_EQ(TYPE_FLAG, a->children[0]->type);  // the first of the two named B
  EXPECT_EQ(Condition::Find(L"C"), a->children[1]);
  EXPECT_EQ(OP_UNKNOWN, a->op);
  EXPECT_FALSE(a->path);
  Condition::Record* l = Condition::Find(L"L");
  ASSERT_EQ(2u, l->children.size());
  EXPECT_EQ(Condition::Find(L"X"), l->children[0]);
  EXPECT_EQ(Condition::Find(L"Y"), l->children[1]);
  EXPECT_EQ(L"[SystemFolder]\\x", Condition::Find(L"C")->path);  // only file paths are resolved
  EXPECT_EQ(OP_GREATER_THAN_OR_EQUAL, Condition::Find(L"C")->op);
  EXPECT_EQ(System::ReplaceSpecials(L"[SystemFolder]\\x.dll"), Condition::Find(L"X")->path);
  EXPECT_EQ(OP_UNKNOWN, Condition::Find(L"Y")->op);
  EXPECT_EQ(L"p", Condition::Find(L"Y")->path);
  EXPECT_EQ(nullptr, Condition::Find(L"Z"));
}

TEST_F(ParserTest, ComponentsLocationsAndStrings) {
  Lines lines;
  ASSERT_EQ(
      RESULT_PASSED,
      ParseLogged(
          Document("<Conditions><Condition name=\"Ok\" type=\"flag\" value=\"f\"/></Conditions>"
                   "<Components>"
                   "<Component name=\"A\" display=\"Alpha\" check=\"Ok\" dest=\"[TempFolder]\\Standard\" "
                   "filename=\"a.msi\" size=\"7417856x\" md5=\"ABCDEF\" requiresadmin=\"NO\" "
                   "signer=\"Soci\xC3\xA9t\xC3\xA9 G\xC3\xA9n\xC3\xA9rale\">"
                   "<Location type=\"ftp\" file=\"ftp://127.0.0.1/a\"/>"
                   "<Location type=\"Download\" file=\"\"/>"
                   "<Location type=\"DOWNLOAD\" file=\"http://127.0.0.1/a.msi\" retries=\"12\"/>"
                   "<Location type=\"copy\" file=\"[ExeFolder]\\a.msi\"/>"
                   "</Component>"
                   "<Component name=\"B\" display=\"Beta\" check=\"Nobody\" requiresadmin=\"\" signer=\"\"/>"
                   "<Component name=\"C\" display=\"Gamma\" requiresadmin=\"yes\" size=\"4294967295\"/>"
                   "<Component name=\"NoDisplay\"/>"
                   "</Components>"
                   "<Strings>"
                   "<String name=\"S\" check=\"Ok\" passstring=\"p\" failstring=\"\"/>"
                   "<String name=\"S\" check=\"Nobody\" passstring=\"q\"/>"
                   "<String check=\"Ok\" passstring=\"p\"/>"
                   "</Strings>"),
          lines));
  EXPECT_EQ(Parsed({"Parser::Parse - enter", "Parser::Parse - Xml version: 2",
                    "Condition::Condition - new Ok, TYPE_FLAG", "Component::Component - new A, Alpha",
                    "Component::Location::Location - new A, TRANSFER_DOWNLOAD, http://127.0.0.1/a.msi",
                    "Component::Location::Location - new A, TRANSFER_COPY, [ExeFolder]\\a.msi",
                    "Component::Component - new B, Beta", "Component::Component - new C, Gamma",
                    "CondString::CondString - new S", "CondString::CondString - new S",
                    "Parser::Parse - return RESULT_PASSED", "Deploy::ParseConfig - return: RESULT_PASSED"}),
            lines);
  Component::Record* a = Component::Find(L"A");
  EXPECT_EQ(Condition::Find(L"Ok"), a->check);
  EXPECT_EQ(System::ReplaceSpecials(L"[TempFolder]\\Standard"), a->dest);
  EXPECT_EQ(L"a.msi", a->filename);
  EXPECT_EQ(7417856u, a->size);
  EXPECT_EQ(L"ABCDEF", a->md5);
  EXPECT_EQ(L"Soci\u00E9t\u00E9 G\u00E9n\u00E9rale", a->signer);  // decoded from UTF-8, unlike the rest
  EXPECT_FALSE(a->requiresadmin);
  ASSERT_EQ(2u, a->locations.size());
  EXPECT_EQ(TRANSFER_DOWNLOAD, a->locations.front().type);
  EXPECT_EQ(Component::Location::kMaxRetries, a->locations.front().retries);  // more than the most
  EXPECT_EQ(0, a->locations.back().retries);
  EXPECT_EQ(System::ReplaceSpecials(L"[ExeFolder]\\a.msi"), a->locations.back().file);
  Component::Record* b = Component::Find(L"B");
  EXPECT_EQ(nullptr, b->check);
  EXPECT_TRUE(b->requiresadmin);
  EXPECT_EQ(0u, b->size);
  EXPECT_EQ(std::nullopt, b->signer);
  EXPECT_TRUE(Component::Find(L"C")->requiresadmin);
  EXPECT_EQ(4294967295u, Component::Find(L"C")->size);
  CondString::Record* s = CondString::Find(L"S");
  EXPECT_EQ(L"p", s->pass);
  EXPECT_EQ(std::nullopt, s->fail);
  EXPECT_EQ(Condition::Find(L"Ok"), s->check);
}

TEST_F(ParserTest, LongValuesAreCutAt255Characters) {
  const std::string longName(300, 'n');
  Lines lines;
  ASSERT_EQ(RESULT_PASSED, ParseLogged(Document("<Installer args=\"" + longName +
                                                "\"/>"
                                                "<Conditions><Condition name=\"" +
                                                std::string(254, 'a') +
                                                " b\" type=\"flag\"/>"
                                                "<Condition name=\"b\" type=\"flag\"/>"
                                                "<Condition name=\"Or\" type=\"or\" value=\"" +
                                                std::string(254, ' ') +
                                                ",b\"/>"
                                                "</Conditions>"),
                                       lines));
  EXPECT_EQ(std::wstring(255, L'n'), Config::Settings().installerArgs);
  // Only the first 255 bytes of an operand list count: "b" at byte 256 is lost.
  EXPECT_TRUE(Condition::Find(L"Or")->children.empty());
}

TEST_F(ParserTest, SecondParseReplacesEverything) {
  const std::string text = Document(
      "<Flags silent=\"0\"/><Conditions><Condition name=\"A\" type=\"flag\" value=\"silent\"/></Conditions>"
      "<Components><Component name=\"C\" display=\"D\"/></Components><Strings><String name=\"S\"/></Strings>"
      "<Installer name=\"C\"/>");
  ASSERT_EQ(RESULT_PASSED, Deploy::ParseConfigText(text.c_str()));
  ASSERT_EQ(RESULT_PASSED, Deploy::ParseConfigText(text.c_str()));
  EXPECT_EQ(1u, Flag::List().size());
  EXPECT_EQ(1u, Condition::List().size());
  EXPECT_EQ(1u, Component::List().size());
  EXPECT_EQ(1u, CondString::List().size());
  ASSERT_EQ(RESULT_PASSED, Deploy::ParseConfigText(Document("").c_str()));
  EXPECT_TRUE(Flag::List().empty() && Condition::List().empty() && Component::List().empty() &&
              CondString::List().empty());
  EXPECT_EQ(std::nullopt, Config::Settings().installerName);
}

std::string Nested(int depth, const std::string& open = "<a>", const std::string& close = "</a>") {
  std::string text;
  for (int i = 0; i < depth; ++i) text += open;
  for (int i = 0; i < depth; ++i) text += close;
  return text;
}

TEST(FindTooDeep, CountsOnlyTheStartTagsThatTinyXmlNests) {
  const int limit = Parser::kMaxNesting;
  const size_t none = std::string_view::npos;
  const struct {
    std::string text;
    size_t expected;
  } cases[] = {
      {Nested(limit), none},
      {Nested(limit + 1), 3u * limit},
      {"<b>" + Nested(limit) + "</b>", 3u * limit},
      // Closed elements give their level back.
      {Nested(limit) + Nested(limit), none},
      {Nested(2 * limit, "<a/>", ""), none},
      {Nested(limit, "<a x=\"/\" y='>'>"), none},
      // What hides a tag from TinyXML.
      {Nested(limit, "<a><!-- <b> -->"), none},
      {Nested(limit, "<a><![CDATA[<b>]]>"), none},
      {Nested(limit, "<a><?pi <b>?>"), none},
      {Nested(limit, "<a><!DOCTYPE <b>"), none},
      {Nested(limit, "<a x=\"<b>\">"), none},
      {Nested(limit, "<a>< b><1>"), none},
      {Nested(limit, "<_>"), none},
      {Nested(limit + 1, "<_>"), 3u * limit},
      {Nested(limit + 1, "<\xE9>"), 3u * limit},
      // An unclosed start tag or comment runs to the end.
      {Nested(limit) + "<a x=\">", none},
      {"<!--" + Nested(limit + 1), none},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, Parser::FindTooDeep(c.text)) << c.text.substr(0, 80);
  Lines lines;
  EXPECT_EQ(RESULT_ERROR, ParseLogged(Document(Nested(limit)), lines));
  EXPECT_EQ(
      Parsed({"Parser::Parse - Error loading xml string", "Deploy::ParseConfig - return: RESULT_ERROR"}),
      lines);
}

}  // namespace
