// Reads the resources out of the built launcher itself, loaded as data.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resources/resource_ids.h"
#include "system/unique_handle.h"
#include "tests/support/test_support.h"

namespace {

class LauncherResources : public testing::Test {
 protected:
  void SetUp() override { Load(L"VantorLauncher.exe"); }
  void Load(const wchar_t* program) {
    path_ = Testing::ProgramFolder() + L"\\" + program;
    module_.reset(LoadLibraryExW(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module_) << "cannot load " << Testing::Narrow(path_);
  }

  std::wstring Text(UINT id) const {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(module_.get(), id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
  }

  std::string Resource(const wchar_t* type, const wchar_t* name) const {
    HRSRC found = FindResourceW(module_.get(), name, type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module_.get(), found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    return bytes ? std::string(bytes, SizeofResource(module_.get(), found)) : std::string();
  }

  std::wstring path_;
  UniqueModule module_;
};

TEST_F(LauncherResources, EnglishTextsAreExact) {
  const struct {
    UINT id;
    const wchar_t* text;
  } texts[] = {
      {201, L"Yes"},
      {202, L"No"},
      {203, L"OK"},
      {204, L"Cancel"},
      {205, L"Reading configuration..."},
      {206, L"Error reading configuration file."},
      {207, L"Error parsing command line flags."},
      {208, L"There is a new version of software available (%s v%s).\nWould you like to install?"},
      {209, L"This package will install %s v%s."},
      {210, L"This package will install %s v%s.\nWould you like to install?"},
      {211, L"Checking prerequisites..."},
      {212, L"Error checking prerequisites."},
      {213,
       L"You must have administrative privileges to install one or more required components.\n\n"
       L"Contact your administrator for more information."},
      {214, L"Retrieving required components..."},
      {215, L"Unable to retrieve required components."},
      {216,
       L"There was an error retrieving the required components. Would you like to manually download the "
       L"%s installer?"},
      {217, L"A more recent version of %s is already installed on this computer."},
      {218, L"This version of %s is already installed on this computer."},
      {219,
       L"Another version of %s is already installed on this computer. Installation of this version cannot "
       L"continue."},
      {220, L"Copying %s configuration..."},
      {221, L"Error copying %s configuration."},
      {222, L"Launching %s installer..."},
      {223, L"Error launching installer."},
      {224, L"Verifying install..."},
      {225, L"Required components are not installed correctly."},
      {226, L"Error verifying required components."},
      {227, L"Unable to launch %s installer."},
      {228, L"Launching %s..."},
      {229, L"Error launching %s."},
      {230, L"Copying component (%u of %u)..."},
      {231, L"Downloading component (%u of %u)..."},
      {232, L"%.1f of %.1f %s"},
      {233, L"Error initializing window."},
      {234, L"Error starting application."},
      {235, L"Error in application message queue."},
      {236, L"Error initializing controls."},
      {237, L"Are you sure you want to cancel?"},
      {238, L"Cancelling installation..."},
      {239, L"There is not enough free disk space to install %s.\n\n%s MB more are needed on %s."},
      {240, L"Would you like to install this program for yourself, or for anyone who uses this computer?"},
      {241, L"Everyone (requires Administrator privileges)"},
      {242, L"Just Me"},
      {243, L"Details:"},
      {244, L"Log:"},
  };
  for (const auto& expected : texts) {
    EXPECT_EQ(expected.text, Text(expected.id)) << "text " << expected.id;
  }
  EXPECT_EQ(L"", Text(IDS_FIRST - 1));
  EXPECT_EQ(L"", Text(IDS_LAST + 1));
}

TEST_F(LauncherResources, BothXmlDocumentsAreEmbedded) {
  const std::string deployment = Resource(L"XML_FILE", MAKEINTRESOURCEW(IDR_DEPLOY_CONFIG));
  EXPECT_NE(std::string::npos, deployment.find("<QvDeploy")) << deployment;
  const std::string client = Resource(L"XML_FILE", MAKEINTRESOURCEW(IDR_CLIENT_CONFIG));
  EXPECT_NE(std::string::npos, client.find("<PeltConfig>")) << client;
}

TEST_F(LauncherResources, ManifestRunsAsInvokerDpiAwareWithCommonControls6) {
  const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  for (const char* part : {"level=\"asInvoker\"", "<dpiAware", ">true</dpiAware>",
                           "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
                           "processorArchitecture=\"x86\"",
                           "processorArchitecture=\"x86\""}) {
    EXPECT_NE(std::string::npos, manifest.find(part)) << part;
  }
}

TEST_F(LauncherResources, VersionResourceNamesTheProduct) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string data(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path_.c_str(), 0, size, data.data()));
  wchar_t* name = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                             reinterpret_cast<void**>(&name), &length));
  EXPECT_EQ(L"Tessel Launcher", std::wstring(name));
  VS_FIXEDFILEINFO* fixed = nullptr;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(VFT_APP, fixed->dwFileType);
}

// A packager's launcher carries the documents it was built with, byte for byte.
TEST_F(LauncherResources, LauncherBuiltWithOtherDocumentsCarriesThem) {
  Load(L"TestLauncher.exe");
  const std::string fixtures = std::string("Z:") + TESSEL_FIXTURE_DIR;
  const std::wstring folder(fixtures.begin(), fixtures.end());
  std::string deployment, client;
  ASSERT_TRUE(Testing::ReadFileBytes(folder + L"/test_deployment.xml", deployment));
  ASSERT_TRUE(Testing::ReadFileBytes(folder + L"/test_client.xml", client));
  EXPECT_EQ(deployment, Resource(L"XML_FILE", MAKEINTRESOURCEW(IDR_DEPLOY_CONFIG)));
  EXPECT_EQ(client, Resource(L"XML_FILE", MAKEINTRESOURCEW(IDR_CLIENT_CONFIG)));
  EXPECT_EQ(L"Yes", Text(201));
}

}  // namespace
