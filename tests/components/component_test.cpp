#include "components/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/flag.h"
#include "tests/components/component_fixture.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Testing::ComponentTest;
using Testing::Narrow;

TEST_F(ComponentTest, NewComponentsAndLocationsAreLogged) {
  Testing::LogCapture log;
  EXPECT_EQ(nullptr, Component::Component(L"", L"Display"));
  EXPECT_EQ(nullptr, Component::Component(L"Name", L""));
  Component::Record* client = Component::Component(L"Client", L"Tessel client");
  ASSERT_NE(nullptr, client);
  EXPECT_TRUE(client->requiresadmin);
  EXPECT_EQ(0u, client->size);
  EXPECT_EQ(nullptr, client->AddLocation(TRANSFER_UNKNOWN, L"http://127.0.0.1/x"));
  EXPECT_EQ(nullptr, client->AddLocation(3, L"http://127.0.0.1/x"));
  EXPECT_EQ(nullptr, client->AddLocation(TRANSFER_COPY, L""));
  Component::Location* copy = client->AddLocation(TRANSFER_COPY, L"[SystemFolder]\\setup.msi");
  ASSERT_NE(nullptr, copy);
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_EQ(std::wstring(system) + L"\\setup.msi", copy->file);
  EXPECT_EQ(client, copy->owner);
  EXPECT_FALSE(copy->aborted);
  client->AddLocation(TRANSFER_DOWNLOAD, L"http://127.0.0.1/setup.msi");
  EXPECT_EQ(2u, client->locations.size());
  EXPECT_EQ(client, Component::Find(L"Client"));
  Component::ClearComponents();
  EXPECT_EQ(nullptr, Component::Find(L"Client"));
  EXPECT_EQ((Lines{
                "Component::Component - new Client, Tessel client",
                "Component::Location::Location - new Client, TRANSFER_COPY, [SystemFolder]\\setup.msi",
                "Component::Location::Location - new Client, TRANSFER_DOWNLOAD, http://127.0.0.1/setup.msi",
                "Component::ClearComponents",
            }),
            log.Lines());
}

TEST_F(ComponentTest, RequirementsPassWhenThereAreNoComponents) {
  bool adminRequired = true;
  EXPECT_EQ(RESULT_PASSED, Component::CheckRequirements(adminRequired));
  EXPECT_FALSE(adminRequired);
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_TRUE(window().Status().texts.empty());
}

TEST_F(ComponentTest, RequirementsLastMissingOrUncheckedComponentDecides) {
  const struct {
    const char* layout;  // one letter a component: i installed, m missing, u unchecked, e error
    Result expected;
  } cases[] = {
      {"ii", RESULT_PASSED}, {"im", RESULT_FAILED}, {"um", RESULT_FAILED}, {"mu", RESULT_ERROR},
      {"iu", RESULT_ERROR},  {"me", RESULT_ERROR},  {"ei", RESULT_ERROR},
  };
  for (const auto& c : cases) {
    Reset();
    int index = 0;
    for (const char* kind = c.layout; *kind; ++kind) {
      const std::wstring name = L"C" + std::to_wstring(++index);
      Component::Record* component = MakeComponent(name, "content");
      component->check = *kind == 'i'   ? Installed()
                         : *kind == 'm' ? Missing()
                         : *kind == 'e' ? Broken()
                                        : nullptr;
    }
    bool adminRequired = false;
    EXPECT_EQ(c.expected, Component::CheckRequirements(adminRequired)) << c.layout;
  }
}

TEST_F(ComponentTest, RequirementsAreLogged) {
  MakeComponent(L"Unchecked", "x")->check = nullptr;
  MakeComponent(L"Here", "x")->check = Installed();
  MakeComponent(L"Gone", "x")->check = Missing();
  Testing::LogCapture log;
  bool adminRequired = false;
  EXPECT_EQ(RESULT_FAILED, Component::CheckRequirements(adminRequired));
  EXPECT_EQ((Lines{"Component::CheckRequirements - Unchecked No Condition",
                   "Component::CheckRequirements - Here, RESULT_PASSED",
                   "Component::CheckRequirements - Gone, RESULT_FAILED"}),
            log.Lines());
}

TEST_F(ComponentTest, AdminIsRequiredOnlyByAMissingComponentThatNeedsIt) {
  const struct {
    bool missingNeedsAdmin;
    bool installedNeedsAdmin;
    bool expected;
  } cases[] = {{true, false, true}, {false, true, false}, {false, false, false}};
  for (const auto& c : cases) {
    Reset();
    Component::Record* missing = MakeComponent(L"Missing", "x");
    missing->check = Missing();
    missing->requiresadmin = c.missingNeedsAdmin;
    Component::Record* installed = MakeComponent(L"Installed", "x");
    installed->check = Installed();
    installed->requiresadmin = c.installedNeedsAdmin;
    bool adminRequired = !c.expected;
    Component::CheckRequirements(adminRequired);
    EXPECT_EQ(c.expected, adminRequired);
  }
}

TEST_F(ComponentTest, IsPresentChecksSizeThenDigest) {
  Component::Record* component = MakeComponent(L"Client", "the right content");
  EXPECT_EQ(RESULT_FAILED, Component::IsPresent(*component));  // nothing there yet
  PlaceAtDestination(*component, "the right content");
  EXPECT_EQ(RESULT_PASSED, Component::IsPresent(*component));
  PlaceAtDestination(*component, "the wrong content");  // same size
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_FAILED, Component::IsPresent(*component));
  EXPECT_EQ(Lines{"System::VerifyMd5 - Generated Md5 " + Narrow(Testing::Md5Hex("the wrong content"))},
            log.Lines());
  PlaceAtDestination(*component, "short");
  EXPECT_EQ(RESULT_FAILED, Component::IsPresent(*component));
  component->md5.reset();
  PlaceAtDestination(*component, "the wrong content");
  EXPECT_EQ(RESULT_PASSED, Component::IsPresent(*component));

  component->size = 0;
  EXPECT_EQ(RESULT_ERROR, Component::IsPresent(*component));
  component->size = 5;
  component->dest.reset();
  EXPECT_EQ(RESULT_ERROR, Component::IsPresent(*component));
}

TEST_F(ComponentTest, InstalledComponentIsNeitherCheckedNorFetched) {
  Component::Record* component = MakeComponent(L"Client", "content");
  component->check = Installed();
  AddCopySource(*component, "content");
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component)));
  EXPECT_EQ(0u, Component::transferCount);
}

TEST_F(ComponentTest, CopyLocationFetchesThroughATemporaryFile) {
  Component::Record* component = MakeComponent(L"Client", "copied content");
  AddCopySource(*component, "copied content");
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_EQ("copied content", Read(DestinationOf(*component)));
  EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component) + L".tmp"));
  EXPECT_EQ(1u, Component::transferIndex);
  EXPECT_EQ(1u, Component::transferCount);
  EXPECT_EQ(14u, Component::transferTotal);
  EXPECT_FALSE(Component::transferAborted);
}

TEST_F(ComponentTest, PresentIntactFileIsNotFetchedOrCounted) {
  Component::Record* present = MakeComponent(L"Present", "already here");
  PlaceAtDestination(*present, "already here");
  AddCopySource(*present, "already here");
  Component::Record* missing = MakeComponent(L"Missing", "to fetch");
  AddCopySource(*missing, "to fetch");
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_EQ(1u, Component::transferCount);
  EXPECT_EQ(8u, Component::transferTotal);
}

TEST_F(ComponentTest, RightSizeWithAWrongDigestIsFetchedAgain) {
  Component::Record* component = MakeComponent(L"Client", "good bytes");
  PlaceAtDestination(*component, "bad  bytes");
  AddCopySource(*component, "good bytes");
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_EQ("good bytes", Read(DestinationOf(*component)));
}

// Two files of 128 bytes with the same MD5: only the SHA-256 tells them apart.
std::string FromHex(const char* hex) {
  std::string bytes;
  for (const char* c = hex; c[0] && c[1]; c += 2) bytes.push_back(static_cast<char>(std::stoi(std::string(c, 2), nullptr, 16)));
  return bytes;
}
const std::string kCollisionA = FromHex(
    "d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f8955ad340609f4b30283e488832571415a085125e8f7cd"
    "c99fd91dbdf280373c5bd8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306d248cda0e99f33420f577ee8ce54b670"
    "80a80d1ec69821bcb6a8839396f9652b6ff72a70");
const std::string kCollisionB = FromHex(
    "d131dd02c5e6eec4693d9a0698aff95c2fcab50712467eab4004583eb8fb7f8955ad340609f4b30283e4888325f1415a085125e8f7cd"
    "c99fd91dbd7280373c5bd8823e3156348f5bae6dacd436c919c6dd53e23487da03fd02396306d248cda0e99f33420f577ee8ce54b670"
    "80280d1ec69821bcb6a8839396f965ab6ff72a70");

TEST_F(ComponentTest, RightSizeAndMd5WithAWrongSha256IsFetchedFromTheNextLocation) {
  Component::Record* component = MakeComponent(L"Client", kCollisionA);
  component->sha256 = L"8D12236E5C4ED9F4E790DB4D868FD5C399DF267E18FF65C1107C328228CFFC98";
  AddCopySource(*component, kCollisionB);
  AddCopySource(*component, kCollisionA);
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_EQ(kCollisionA, Read(DestinationOf(*component)));
  const std::string md5 = "System::VerifyMd5 - Generated Md5 79054025255fb1a26e4bc422aef54eb4";
  EXPECT_EQ((Lines{md5, "System::VerifySha256 - Generated Sha256 "
                        "b9fef2a8fc93b05e7701e97196fda6c4fbeea25ff8e64fdfee7015eca8fa617d",
                   "Component::Location::GetFile - " + Narrow(DestinationOf(*component)) +
                       ": its size or digest is not the document's",
                   md5, "System::VerifySha256 - Generated Sha256 "
                        "8d12236e5c4ed9f4e790db4d868fd5c399df267e18ff65c1107c328228cffc98"}),
            log.Lines());
}

// Pinned to its signer, a file with the right digest but another signer is
// refused like a wrong digest, and the next location is tried.
TEST_F(ComponentTest, RightDigestWithAnotherSignerIsRefusedAndTheNextLocationTried) {
  // Made by tests/fixtures/make_signed.sh.
  const std::string other = Read(Testing::ProgramFolder() + L"\\signed\\other.exe");
  Component::Record* component = MakeComponent(L"Client", other);
  component->signer = L"Good Publisher Ltd";
  AddCopySource(*component, other);
  AddCopySource(*component, other);
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_FAILED, GatherInWorker());
  const std::string md5 = "System::VerifyMd5 - Generated Md5 " + Narrow(Testing::Md5Hex(other));
  const std::string refused =
      "System::VerifySigner - " + Narrow(DestinationOf(*component)) +
      ": the signer is \"Other Publisher Ltd\", not \"Good Publisher Ltd\" (0x800B010F)";
  EXPECT_EQ((Lines{md5, refused, md5, refused,
                   "Component::GatherComponents (291) - Problem Retrieving Component: Client"}),
            log.Lines());
  component->signer = L"Other Publisher Ltd";
  EXPECT_EQ(RESULT_PASSED, Component::IsPresent(*component));
}

// A file that someone may still be writing to cannot be held, so it does not count.
TEST_F(ComponentTest, FileThatCannotBeHeldIsNotPresent) {
  Component::Record* component = MakeComponent(L"Client", "content");
  PlaceAtDestination(*component, "content");
  const std::wstring path = DestinationOf(*component);
  UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writer);
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_FAILED, Component::IsPresent(*component));
  EXPECT_EQ(Lines{"Component::IsPresent - " + Narrow(path) + " is in use, GetLastError 32"}, log.Lines());
  writer.reset();
  EXPECT_EQ(RESULT_PASSED, Component::IsPresent(*component));
}

// Windows refuses to rename a folder with an open file in it; Wine does
// not, which lets a swap of the whole folder be tried here.
TEST_F(ComponentTest, AFileSwappedWithItsFolderIsNotTheVerifiedOne) {
  Component::Record* component = MakeComponent(L"Setup", "verified");
  AddCopySource(*component, "verified");
  ASSERT_EQ(RESULT_PASSED, GatherInWorker());
  std::wstring program;
  EXPECT_TRUE(Component::StillVerified(*component, program));
  EXPECT_EQ(DestinationOf(*component), program);
  ASSERT_TRUE(MoveFileW(component->dest->c_str(), (*component->dest + L"-away").c_str()));
  PlaceAtDestination(*component, "swapped!");
  Testing::LogCapture log;
  EXPECT_FALSE(Component::StillVerified(*component, program));
  EXPECT_EQ(Lines{"Component::StillVerified - " + Narrow(DestinationOf(*component)) +
                  " is not the file that was verified"},
            log.Lines());
}

TEST_F(ComponentTest, ReadOnlyDestinationIsReplaced) {
  Component::Record* component = MakeComponent(L"Client", "new content");
  PlaceAtDestination(*component, "old");
  SetFileAttributesW(DestinationOf(*component).c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  const std::wstring source = AddCopySource(*component, "new content");
  SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_READONLY);  // the copy carries it; the rename must not
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_EQ("new content", Read(DestinationOf(*component)));
  const DWORD attributes = GetFileAttributesW(DestinationOf(*component).c_str());
  EXPECT_EQ(0u, attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) << attributes;
  SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ComponentTest, CopySourceOfAnotherSizeIsNotCopiedAndTheNextLocationServes) {
  Component::Record* component = MakeComponent(L"Client", "right size");
  const std::wstring wrong = AddCopySource(*component, "the wrong size");
  AddCopySource(*component, "right size");
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
  EXPECT_EQ("right size", Read(DestinationOf(*component)));
  EXPECT_EQ(
      (Lines{"Component::Location::GetFile - Download Aborted " + Narrow(wrong) + ", Size does not match",
             "System::VerifyMd5 - Generated Md5 " + Narrow(Testing::Md5Hex("right size"))}),
      log.Lines());
}

TEST_F(ComponentTest, EveryLocationFailingIsLoggedWithItsPoint) {
  Component::Record* component = MakeComponent(L"Client", "content");
  const std::wstring missing = folder().File(L"no-such-source");
  component->AddLocation(TRANSFER_COPY, missing);
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_FAILED, GatherInWorker());
  EXPECT_EQ(
      (Lines{"Component::Location::GetFile - Download Aborted " + Narrow(missing) + ", Size does not match",
             "Component::GatherComponents (291) - Problem Retrieving Component: Client"}),
      log.Lines());
  EXPECT_EQ(RESULT_FAILED, System::FileExists(DestinationOf(*component)));
}

TEST_F(ComponentTest, WrongDigestAfterTheTransferFails) {
  Component::Record* component = MakeComponent(L"Client", "expected!");
  AddCopySource(*component, "delivered");  // same size, other bytes
  EXPECT_EQ(RESULT_FAILED, GatherInWorker());
  // The bad file stays, but is never taken for the component.
  EXPECT_EQ(RESULT_FAILED, Component::IsPresent(*component));
}

TEST_F(ComponentTest, GatheringFailurePoints) {
  {
    Component::Record* component = MakeComponent(L"Broken", "x");
    component->check = Broken();
    Testing::LogCapture log;
    EXPECT_EQ(RESULT_ERROR, GatherInWorker());
    EXPECT_EQ(Lines{"Component::GatherComponents (247) - Problem Retrieving Component: Broken"}, log.Lines());
  }
  Reset();
  {
    Component::Record* component = MakeComponent(L"NoSize", "x");
    component->size = 0;
    Testing::LogCapture log;
    EXPECT_EQ(RESULT_ERROR, GatherInWorker());
    EXPECT_EQ(Lines{"Component::GatherComponents (241) - Problem Retrieving Component: NoSize"}, log.Lines());
  }
  Reset();
  {
    Component::Record* component = MakeComponent(L"Blocked", "x");
    Testing::WriteFileBytes(folder().File(L"blocker"), "a file where the folder should be");
    component->dest = folder().File(L"blocker\\below");
    Testing::LogCapture log;
    EXPECT_EQ(RESULT_FAILED, GatherInWorker());
    EXPECT_EQ((Lines{"System::CreateDir - Unable to Create Directory: " + Narrow(*component->dest),
                     "Component::GatherComponents (268) - Problem Retrieving Component: Blocked"}),
              log.Lines());
  }
}

TEST_F(ComponentTest, ComponentWithoutLocationsCountsAsFetched) {
  MakeComponent(L"Nowhere", "x");
  EXPECT_EQ(RESULT_PASSED, GatherInWorker());
}

}  // namespace
