#include "pack/validate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using Pack::Severity;
constexpr Severity E = Severity::Error;
constexpr Severity W = Severity::Warning;

// A document with nothing to report; each case below changes one thing.
const std::string kBase =
    "<QvDeploy version=\"2\">\n"                                                                       // 1
    "<PackageVersion value=\"1.0\"/>\n"                                                                // 2
    "<Flags silent=\"false\"/>\n"                                                                      // 3
    "<Conditions>\n"                                                                                   // 4
    "<Condition name=\"QvInstalled\" type=\"reg\" op=\"exists\" path=\"HKCU\\Software\\T\\Path\"/>\n"  // 5
    "<Condition name=\"InstallContextDlgShow\" type=\"flag\" value=\"silent\"/>\n"                     // 6
    "<Condition name=\"InstallContextDlgPerUserDefault\" type=\"not\" value=\"QvInstalled\"/>\n"       // 7
    "<Condition name=\"Machine\" type=\"context\" value=\"machine\"/>\n"                               // 8
    "<Condition name=\"Spare\" type=\"file\" op=\"gteq\" path=\"[SystemFolder]\\x.dll\" value=\"1.0\"/>\n"  // 9
    "</Conditions>\n"  // 10
    "<Components>\n"   // 11
    "<Component name=\"Setup\" display=\"Setup\" check=\"QvInstalled\" dest=\"[TempFolder]\\S\" "
    "filename=\"setup.exe\" size=\"10\" md5=\"0123456789abcdef0123456789abcdef\" "
    "sha256=\"0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789ABCDEF\">\n"            // 12
    "<Location type=\"download\" file=\"http://127.0.0.1/setup.exe\" retries=\"3\"/>\n"         // 13
    "</Component>\n"                                                                            // 14
    "</Components>\n"                                                                           // 15
    "<Strings>\n"                                                                               // 16
    "<String name=\"Args\" check=\"Machine\" passstring=\"/q\" failstring=\"/qb\"/>\n"          // 17
    "<String name=\"Setup\" check=\"Machine\" passstring=\"Setup\" failstring=\"Setup\"/>\n"    // 18
    "</Strings>\n"                                                                              // 19
    "<Installer name=\"$Setup\" args=\"$Args\"/>\n"                                             // 20
    "<LaunchQV reg=\"HKCU\\Software\\T\\Path\" config=\"[TempFolder]\\c.xml\" min=\"1.0\"/>\n"  // 21
    "</QvDeploy>\n";                                                                            // 22

struct Expected {
  int line;
  Severity severity;
  const char* text;
};

struct Case {
  const char* from;  // every occurrence is replaced
  std::string to;
  std::vector<Expected> findings;
};

std::string Apply(const Case& change) {
  std::string text = kBase;
  const std::string from = change.from;
  size_t at = text.find(from);
  EXPECT_NE(std::string::npos, at) << from;
  for (; at != std::string::npos; at = text.find(from, at + change.to.size()))
    text.replace(at, from.size(), change.to);
  return text;
}

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

std::string Describe(const std::vector<Pack::Finding>& findings) {
  std::string text;
  for (const Pack::Finding& finding : findings)
    text += Testing::Narrow(Pack::FormatFinding(L"D.xml", finding)) + "\n";
  return text;
}

TEST(ValidateTest, TheBaseDocumentHasNothingToReport) {
  const Pack::Validation validation = Pack::ValidateDocument(kBase);
  ASSERT_TRUE(validation.readable);
  EXPECT_EQ("", Describe(validation.findings));
  EXPECT_EQ(0, Pack::ExitCode(validation));
}

TEST(ValidateTest, EachFaultGivesItsFinding) {
  const std::string longDest = "dest=\"[TempFolder]\\" + std::string(300, 'd') + "\"";
  const std::vector<Case> cases = {
      {"version=\"2\"",
       "version=\"3\"",
       {{1, E, "format version \"3\" is newer than \"2\"; the launcher refuses the document"}}},
      {"<QvDeploy version=\"2\">",
       "<QvDeploy>",
       {{1, E, "<QvDeploy> has no version; the launcher refuses the document"}}},
      {"QvDeploy",
       "Deploy",
       {{1, E, "the root element is not <QvDeploy>; the launcher refuses the document"}}},
      {"type=\"file\"",
       "type=\"files\"",
       {{9, E, "condition \"Spare\" has an unknown type \"files\"; it is ignored"}}},
      {"<Condition name=\"Spare\" ", "<Condition ", {{9, E, "a <Condition> without a name is ignored"}}},
      {" type=\"file\"", "", {{9, E, "condition \"Spare\" has no type; it is ignored"}}},
      {"op=\"gteq\"", "op=\"gte\"", {{9, E, "condition \"Spare\" has an unknown op \"gte\""}}},
      {"op=\"gteq\"",
       "op=\"str\"",
       {{9, E, "condition \"Spare\": op \"str\" does not apply to type \"file\""}}},
      {" op=\"gteq\"", "", {{9, E, "condition \"Spare\" has no op"}}},
      {"path=\"[SystemFolder]\\x.dll\" ", "", {{9, E, "condition \"Spare\" has no path"}}},
      {"type=\"context\"",
       "type=\"context\" op=\"eq\"",
       {{8, W, "condition \"Machine\": type \"context\" takes no op; \"eq\" is not read"}}},
      {"value=\"machine\"",
       "value=\"everyone\"",
       {{8, E, "condition \"Machine\": context \"everyone\" is neither \"user\" nor \"machine\""}}},
      {"value=\"silent\"",
       "value=\"quiet\"",
       {{6, W,
         "condition \"InstallContextDlgShow\": flag \"quiet\" is not in <Flags>; only the command line sets "
         "it"}}},
      {"type=\"not\" value=\"QvInstalled\"",
       "type=\"not\" value=\"QvInstalld\"",
       {{7, E,
         "condition \"InstallContextDlgPerUserDefault\": operand \"QvInstalld\" matches no condition"}}},
      {"type=\"not\" value=\"QvInstalled\"",
       "type=\"not\" value=\"QvInstalled Machine\"",
       {{7, W,
         "condition \"InstallContextDlgPerUserDefault\": a \"not\" reads only its first operand; \"Machine\" "
         "is "
         "not read"}}},
      {"type=\"not\" value=\"QvInstalled\"",
       "type=\"not\" value=\" , \"",
       {{7, E, "condition \"InstallContextDlgPerUserDefault\" has no operands"}}},
      {"<Condition name=\"Spare\" type=\"file\" op=\"gteq\" path=\"[SystemFolder]\\x.dll\" value=\"1.0\"/>",
       "<Condition name=\"Spare\" type=\"and\" value=\"QvInstalled, Spare\"/>",
       {{9, E, "condition \"Spare\" refers to itself: Spare -> Spare"}}},
      {"<Condition name=\"Spare\" type=\"file\" op=\"gteq\" path=\"[SystemFolder]\\x.dll\" value=\"1.0\"/>",
       "<Condition name=\"Spare\" type=\"or\" value=\"Loop\"/>\n<Condition name=\"Loop\" type=\"not\" "
       "value=\"Spare\"/>",
       {{9, E, "condition \"Spare\" refers to itself: Spare -> Loop -> Spare"},
        {10, E, "condition \"Loop\" refers to itself: Loop -> Spare -> Loop"}}},
      {"name=\"Spare\"",
       "name=\"Machine\"",
       {{9, E, "condition \"Machine\" is defined again; only the first, on line 8, is used"}}},
      {"</Components>",
       "<Component name=\"Setup\" display=\"Again\"/>\n</Components>",
       {{15, E, "component \"Setup\" is defined again; only the first, on line 12, is found by name"}}},
      {"</Strings>",
       "<String name=\"Args\" passstring=\"x\"/>\n</Strings>",
       {{19, E, "string \"Args\" is defined again; only the first, on line 17, is used"}}},
      {"<Component name=\"Setup\" display=\"Setup\" ",
       "<Component display=\"Setup\" ",
       {{12, E, "a <Component> without a name is ignored"},
        {20, E, "<Installer> name \"$Setup\": the passstring \"Setup\" matches no component"},
        {20, E, "<Installer> name \"$Setup\": the failstring \"Setup\" matches no component"}}},
      {"check=\"QvInstalled\" dest",
       "check=\"QvInstaled\" dest",
       {{12, E, "component \"Setup\": check \"QvInstaled\" matches no condition"}}},
      {"check=\"QvInstalled\" dest",
       "chek=\"QvInstalled\" dest",
       {{12, W, "attribute \"chek\" of <Component> is not read by the launcher"},
        {12, E, "component \"Setup\" has no check condition"}}},
      {"dest=\"[TempFolder]\\S\" ", "", {{12, E, "component \"Setup\" has no dest"}}},
      {"filename=\"setup.exe\" ", "", {{12, E, "component \"Setup\" has no filename"}}},
      {" size=\"10\"", "", {{12, E, "component \"Setup\" has no size"}}},
      {"size=\"10\"", "size=\"10kb\"", {{12, E, "component \"Setup\": size \"10kb\" is read as 10"}}},
      {"size=\"10\"", "size=\"0\"", {{12, E, "component \"Setup\": size \"0\" counts as no size"}}},
      {"size=\"10\"",
       "size=\"4294967296\"",
       {{12, E, "component \"Setup\": size \"4294967296\" does not fit in 32 bits"}}},
      {" md5=\"0123456789abcdef0123456789abcdef\" "
       "sha256=\"0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789ABCDEF\"",
       "",
       {{12, W, "component \"Setup\" has no md5 and no signer; its file is not verified"}}},
      {" md5=\"0123456789abcdef0123456789abcdef\" "
       "sha256=\"0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789ABCDEF\"",
       " signer=\"Good Publisher Ltd\"",
       {}},
      {" sha256=\"0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789ABCDEF\"",
       "",
       {{12, W, "component \"Setup\" has an md5 but no sha256; an MD5 alone can be forged"}}},
      {" md5=\"0123456789abcdef0123456789abcdef\"", "", {}},
      {"sha256=\"0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789ABCDEF\"",
       "sha256=\"0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789ABCDE\"",
       {{12, E,
         "component \"Setup\": sha256 \"0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789ABCDE\" is "
         "not 64 hexadecimal digits"}}},
      {"sha256=\"0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789ABCDEF\"",
       "sha256=\"0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789ABCDEg\"",
       {{12, E,
         "component \"Setup\": sha256 \"0123456789abcdef0123456789abcdef0123456789ABCDEF0123456789ABCDEg\" "
         "is not 64 hexadecimal digits"}}},
      {"md5=\"0123456789abcdef0123456789abcdef\"",
       "md5=\"0123\"",
       {{12, E, "component \"Setup\": md5 \"0123\" is not 32 hexadecimal digits"}}},
      {"<Location type=\"download\"",
       "<Location type=\"ftp\"",
       {{12, E, "component \"Setup\" has no location to fetch its file from"},
        {13, E, "component \"Setup\": location type \"ftp\" is unknown; the location is ignored"}}},
      {" file=\"http://127.0.0.1/setup.exe\"",
       "",
       {{12, E, "component \"Setup\" has no location to fetch its file from"},
        {13, E, "component \"Setup\": a <Location> without a file is ignored"}}},
      {"retries=\"3\"",
       "retries=\"11\"",
       {{13, E, "component \"Setup\": retries \"11\" is not a number from 0 to 10"}}},
      {"type=\"download\"",
       "type=\"copy\"",
       {{13, W, "component \"Setup\": retries \"3\" is not read for a copy location"}}},
      {"<Location type=\"download\"",
       "<Source/><Location type=\"download\"",
       {{13, W, "<Source> is not read by the launcher"}}},
      {"<String name=\"Args\" check=\"Machine\" ",
       "<String name=\"Args\" ",
       {{17, W, "string \"Args\" has no condition; the launcher always takes its failstring"}}},
      {"args=\"$Args\"",
       "args=\"$Argz\"",
       {{20, E, "<Installer> args: \"$Argz\" matches no string; the launcher uses the text as it stands"}}},
      {"x.dll\" value=\"1.0\"/>",
       "x.dll\" value=\"$Version\"/>",
       {{9, W,
         "<Condition> value: \"$Version\" is not resolved here; only <Installer>, <LaunchQV> and <Error> "
         "settings name strings"}}},
      {"failstring=\"Setup\"",
       "failstring=\"Setpu\"",
       {{20, E, "<Installer> name \"$Setup\": the failstring \"Setpu\" matches no component"}}},
      {"<Installer name=\"$Setup\"",
       "<Installer name=\"Setpu\"",
       {{20, E, "<Installer> name \"Setpu\" matches no component"}}},
      {"<Installer name=\"$Setup\" args=\"$Args\"/>",
       "",
       {{0, E, "there is no <Installer>; the launcher cannot run an installer"}}},
      {"QvInstalled",
       "Installed",
       {{0, E,
         "there is no condition \"QvInstalled\"; the launcher always treats the client as not installed"}}},
      {"name=\"InstallContextDlgShow\"",
       "name=\"ContextDlgShow\"",
       {{0, W,
         "there is no condition \"InstallContextDlgShow\"; the install-context dialog is never shown"}}},
      {"name=\"InstallContextDlgPerUserDefault\"",
       "name=\"PerUserDefault\"",
       {{0, W,
         "there is no condition \"InstallContextDlgPerUserDefault\"; the install context defaults to "
         "everyone"}}},
      {"dest=\"[TempFolder]\\S\"",
       longDest,
       {{12, E, "<Component> dest is 313 characters long; the launcher reads only the first 255"}}},
      {"config=\"[TempFolder]",
       "config=\"[tempfolder]",
       {{21, E,
         "<LaunchQV> config: \"[tempfolder]\" is not a special folder, letter case counts: write "
         "\"[TempFolder]\""}}},
      {" min=\"1.0\"",
       " min=\"1.0\" args=\"[TempFolder]\\x\"",
       {{21, W, "<LaunchQV> args: \"[TempFolder]\" is not resolved in this attribute"}}},
      {"dest=\"[TempFolder]\\S\"",
       "dest=\"C:\\ProgramData\\T\"",
       {{12, W,
         "<Component> dest: \"C:\\ProgramData\\T\" is outside the run folder; a run with administrator "
         "rights uses it only where no other user can write to it"}}},
      {"config=\"[TempFolder]\\c.xml\"",
       "config=\"[ExeFolder]\\c.xml\"",
       {{21, W,
         "<LaunchQV> config: \"[ExeFolder]\\c.xml\" is outside the run folder; a run with administrator "
         "rights uses it only where no other user can write to it"}}},
      {"config=\"[TempFolder]\\c.xml\"",
       "config=\"C:\\[TempFolder]\\c.xml\"",
       {{21, W, "<LaunchQV> config: \"[TempFolder]\" is resolved only at the start of the value"}}},
      {"<Conditions>",
       "<Conditions><Conditon name=\"x\" type=\"reg\"/>",
       {{4, W, "<Conditon> is not read by the launcher"}}},
      {"</QvDeploy>",
       "<Strings/>\n</QvDeploy>",
       {{22, E, "only the first <Strings> is read; this one is ignored"}}},
      {"</QvDeploy>\n",
       std::string("</QvDeploy>\n\0junk", 17),
       {{23, E, "the document has a zero byte here; the launcher reads only the text before it"}}},
  };
  for (const Case& change : cases) {
    const Pack::Validation validation = Pack::ValidateDocument(Apply(change));
    ASSERT_TRUE(validation.readable) << change.to << ": " << Testing::Narrow(validation.unreadable);
    std::vector<Pack::Finding> expected;
    for (const Expected& finding : change.findings)
      expected.push_back({finding.line, finding.severity, Wide(finding.text)});
    EXPECT_EQ(Describe(expected), Describe(validation.findings))
        << "changing " << change.from << " to " << change.to;
    const bool errors =
        std::any_of(expected.begin(), expected.end(), [](auto& f) { return f.severity == E; });
    EXPECT_EQ(errors ? 1 : 0, Pack::ExitCode(validation)) << change.to;
  }
}

TEST(ValidateTest, ADocumentThatIsNotXmlCannotBeRead) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"just text", "not an XML document: "},
      {"<QvDeploy version=\"2\"><Conditions></QvDeploy>", "not an XML document: "},
      {std::string("<\0Q\0v\0", 7), "is it UTF-16?"},
      {"", "not an XML document: "},
  };
  for (const auto& [text, part] : cases) {
    const Pack::Validation validation = Pack::ValidateDocument(text);
    EXPECT_FALSE(validation.readable) << text;
    EXPECT_NE(std::string::npos, Testing::Narrow(validation.unreadable).find(part))
        << Testing::Narrow(validation.unreadable);
    EXPECT_EQ(2, Pack::ExitCode(validation));
  }
}

TEST(ValidateTest, FindingsPrintWithPathLineAndSeverity) {
  EXPECT_EQ(L"D.xml:12: error: x", Pack::FormatFinding(L"D.xml", {12, E, L"x"}));
  EXPECT_EQ(L"D.xml: warning: y", Pack::FormatFinding(L"D.xml", {0, W, L"y"}));
}

}  // namespace
